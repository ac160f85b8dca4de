// Slot guard: every method of the interface headers sits in the vtable slot
// the platform calls. The source is built twice on Linux: once as the Linux
// add-in sees the interfaces (a virtual destructor takes two entries) and
// once with QUARNEL_V8_WINDOWS_LAYOUT, the shape the Windows DLL is built
// with (one destructor slot, as MSVC lays it out). A method moved, added or
// dropped in the header fails here instead of crashing inside the platform.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "hostbridge/v8napi.h"

namespace {

// Vtable entries a destructor declaration takes in this layout.
#if defined(QUARNEL_V8_WINDOWS_LAYOUT)
constexpr size_t kDestructorEntries = 1;
#else
constexpr size_t kDestructorEntries = 2;
#endif

// Itanium C++ ABI (g++ on Linux and MinGW alike): a pointer to a virtual
// member function holds 1 + the method's byte offset in the vtable.
template <typename TMember>
size_t VtableIndex(TMember method) {
  struct {
    uintptr_t Ptr;
    ptrdiff_t Adj;
  } rep;
  static_assert(sizeof(method) == sizeof(rep), "Itanium member pointer expected");
  std::memcpy(&rep, &method, sizeof rep);
  if ((rep.Ptr & 1) == 0) return SIZE_MAX;  // not virtual
  return (rep.Ptr - 1) / sizeof(void*);
}

// The platform's slot number (slot 0 is the destructor) as a vtable index.
size_t IndexOfSlot(size_t slot) {
  return slot + kDestructorEntries - 1;
}

struct TSlot {
  const char* Name;
  size_t Slot;
  size_t Index;
};

#define SLOT(Class, Method, Number)                          \
  TSlot {                                                    \
#Class "::" #Method, Number, VtableIndex(&Class::Method) \
  }

void ExpectSlots(std::initializer_list<TSlot> slots) {
  for (const TSlot& s : slots)
    EXPECT_EQ(s.Index, IndexOfSlot(s.Slot))
        << s.Name << " must be slot " << s.Slot << " of the platform's table";
}

TEST(V8SlotGuard, HostInterfacesKeepThePlatformsSlots) {
  ExpectSlots({
      SLOT(TV8MemoryManager, AllocMemory, 1),
      SLOT(TV8MemoryManager, FreeMemory, 2),
      SLOT(TV8AddInDefBaseEx, AddError, 1),
      SLOT(TV8AddInDefBaseEx, Read, 2),
      SLOT(TV8AddInDefBaseEx, Write, 3),
      SLOT(TV8AddInDefBaseEx, RegisterProfileAs, 4),
      SLOT(TV8AddInDefBaseEx, SetEventBufferDepth, 5),
      SLOT(TV8AddInDefBaseEx, GetEventBufferDepth, 6),
      SLOT(TV8AddInDefBaseEx, ExternalEvent, 7),
      SLOT(TV8AddInDefBaseEx, CleanEventBuffer, 8),
      SLOT(TV8AddInDefBaseEx, SetStatusLine, 9),
      SLOT(TV8AddInDefBaseEx, ResetStatusLine, 10),
      SLOT(TV8AddInDefBaseEx, GetInterface, 11),
  });
}

TEST(V8SlotGuard, AddInInterfacesKeepThePlatformsSlots) {
  ExpectSlots({
      SLOT(TV8InitDone, Init, 1),
      SLOT(TV8InitDone, setMemManager, 2),
      SLOT(TV8InitDone, GetInfo, 3),
      SLOT(TV8InitDone, Done, 4),
      SLOT(TV8LanguageExtender, RegisterExtensionAs, 1),
      SLOT(TV8LanguageExtender, GetNProps, 2),
      SLOT(TV8LanguageExtender, FindProp, 3),
      SLOT(TV8LanguageExtender, GetPropName, 4),
      SLOT(TV8LanguageExtender, GetPropVal, 5),
      SLOT(TV8LanguageExtender, SetPropVal, 6),
      SLOT(TV8LanguageExtender, IsPropReadable, 7),
      SLOT(TV8LanguageExtender, IsPropWritable, 8),
      SLOT(TV8LanguageExtender, GetNMethods, 9),
      SLOT(TV8LanguageExtender, FindMethod, 10),
      SLOT(TV8LanguageExtender, GetMethodName, 11),
      SLOT(TV8LanguageExtender, GetNParams, 12),
      SLOT(TV8LanguageExtender, GetParamDefValue, 13),
      SLOT(TV8LanguageExtender, HasRetVal, 14),
      SLOT(TV8LanguageExtender, CallAsProc, 15),
      SLOT(TV8LanguageExtender, CallAsFunc, 16),
      SLOT(TV8LocaleBase, SetLocale, 1),
  });
}

#if defined(QUARNEL_V8_WINDOWS_LAYOUT)
TEST(V8SlotGuard, TheDestructorIsOneSlotAtTheStartOfEveryTable) {
  ExpectSlots({
      SLOT(TV8MemoryManager, ScalarDeletingDestructor, 0),
      SLOT(TV8AddInDefBaseEx, ScalarDeletingDestructor, 0),
      SLOT(TV8InitDone, ScalarDeletingDestructor, 0),
      SLOT(TV8LanguageExtender, ScalarDeletingDestructor, 0),
      SLOT(TV8LocaleBase, ScalarDeletingDestructor, 0),
  });
}
#endif

// The host reaches the three interfaces at consecutive pointer-sized words.
TEST(V8SlotGuard, ComponentInterfacesAreConsecutiveWords) {
  alignas(TV8ComponentBase) static char storage[sizeof(TV8ComponentBase)];
  auto* component = reinterpret_cast<TV8ComponentBase*>(storage);
  auto offset = [&](const void* base) { return static_cast<const char*>(base) - storage; };
  EXPECT_EQ(offset(static_cast<TV8InitDone*>(component)), 0);
  EXPECT_EQ(offset(static_cast<TV8LanguageExtender*>(component)),
            static_cast<ptrdiff_t>(sizeof(void*)));
  EXPECT_EQ(offset(static_cast<TV8LocaleBase*>(component)),
            static_cast<ptrdiff_t>(2 * sizeof(void*)));
}

}  // namespace
