// The library's four exported entry points. The class registry is built on
// the first call by RegisterDriverClasses (defined by the driver's code), not
// by static initialisers, which the linker would drop from static archives.
#include "hostbridge/uClassReg.h"
#include "hostbridge/uV8Component.h"
#include "hostbridge/v8napi.h"

namespace {

TClassRegList* BuildRegistry() {
  auto* list = new TClassRegList();
  try {
    RegisterDriverClasses(*list);
  } catch (...) {
    delete list;
    throw;
  }
  return list;
}

// Freed when the library is unloaded.
struct TRegistryHolder {
  TClassRegList* List = BuildRegistry();
  ~TRegistryHolder() { delete List; }
};

// A failed registration is retried on the next call.
TClassRegList& Registry() {
  static TRegistryHolder holder;
  return *holder.List;
}

}  // namespace

extern "C" {

QUARNEL_EXPORT const WCHAR_T* GetClassNames() {
  try {
    return V8GetClassNames(Registry());
  } catch (...) {
    return V8HostText(u"");
  }
}

QUARNEL_EXPORT long GetClassObject(const WCHAR_T* wsName, TV8ComponentBase** pIntf) {
  try {
    return V8GetClassObject(Registry(), wsName, pIntf);
  } catch (...) {
    return 0;
  }
}

QUARNEL_EXPORT long DestroyObject(TV8ComponentBase** pIntf) {
  return V8DestroyObject(pIntf);
}

QUARNEL_EXPORT TV8AttachType GetAttachType() {
  return eCanAttachAny;
}
}
