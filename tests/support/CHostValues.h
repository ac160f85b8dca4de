/* The platform's value record and the host's memory manager, for the hosts
 * written in C (tests/windows/WineHost.c, tests/package/LoadCheck.c). They
 * share no C++ ABI with the add-in: the record is laid out here by hand, in
 * the platform's layout of each system (48 bytes on Windows with 16-bit
 * wchar_t texts, 64 bytes on Linux x86-64 with 16-bit code units). */
#pragma once

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#if defined(_WIN32)
#include <wchar.h>
typedef wchar_t WChar;
#else
typedef uint16_t WChar;
#endif
#if defined(_M_IX86) || defined(__i386__)
#define API __stdcall
#else
#define API
#endif

enum { V8_EMPTY = 0, V8_I4 = 3, V8_BOOL = 11, V8_PWSTR = 22 };

typedef struct {
  union {
    int32_t lVal;
    double dblVal;
    bool bVal;
    struct tm tmVal;
    struct {
      void* pInterfaceVal;
      uint8_t InterfaceID[16];
    };
    struct {
      WChar* pwstrVal;
      uint32_t wstrLen;
    };
  };
  uint32_t cbElements;
  uint16_t vt;
} Variant;

#if defined(_WIN32)
_Static_assert(sizeof(Variant) == 48, "the platform's value record is 48 bytes");
_Static_assert(offsetof(Variant, cbElements) == 40, "cbElements at 40");
_Static_assert(offsetof(Variant, vt) == 44, "vt at 44");
#else
_Static_assert(sizeof(Variant) == 64, "the platform's value record is 64 bytes");
_Static_assert(offsetof(Variant, cbElements) == 56, "cbElements at 56");
_Static_assert(offsetof(Variant, vt) == 60, "vt at 60");
#endif
_Static_assert(offsetof(Variant, wstrLen) == sizeof(void*), "text length after the pointer");

/* An interface: a pointer to its table of functions. */
typedef struct {
  void** vtable;
} Object;

/* ---- The memory manager's two methods ------------------------------------ */

static int gAllocations; /* blocks handed out and not yet freed */

static inline bool API AllocMemory(Object* self, void** memory, unsigned long bytes) {
  (void)self;
  *memory = malloc(bytes ? bytes : 1);
  if (*memory != NULL) ++gAllocations;
  return *memory != NULL;
}
static inline void API FreeMemory(Object* self, void** memory) {
  (void)self;
  if (*memory != NULL) --gAllocations;
  free(*memory);
  *memory = NULL;
}

/* Frees a text the record holds (a block of the memory manager, as the
 * platform's are) and empties the record. */
static inline void Clear(Variant* v) {
  if (v->vt == V8_PWSTR && v->pwstrVal != NULL) {
    void* block = v->pwstrVal;
    FreeMemory(NULL, &block);
  }
  memset(v, 0, sizeof *v);
}
