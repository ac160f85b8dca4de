/* Loads libquarnel.so as the platform does and asks it for its description:
 * the load test of scripts/check-linux-so, run in a root that holds only the
 * C library and the package.
 *
 * Written in C and linked only with the C library on purpose: it brings no
 * C++ runtime into the process, so the add-in must carry its own. The
 * interfaces are tables of function pointers in g++'s layout: a virtual
 * destructor takes the first two slots, then the methods in declaration
 * order.
 *
 *   quarnel-load-check LIBRARY
 *
 * Prints each step; exits 0 only when every step did what the platform
 * expects. */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tests/support/CHostValues.h"

/* ---- What the host hands the add-in ------------------------------------- */

static int gErrorsAdded;

static void Destructor(Object* self) {
  (void)self;
}
static void* gMemoryTable[] = {(void*)Destructor, (void*)Destructor, (void*)AllocMemory,
                               (void*)FreeMemory};
static Object gMemory = {gMemoryTable};

static bool AddError(Object* self, unsigned short code, const WChar* source, const WChar* text,
                     long scode) {
  (void)self, (void)code, (void)source, (void)text, (void)scode;
  ++gErrorsAdded;
  return true;
}
/* The slots between AddError and GetInterface are never called by the add-in. */
static void Unexpected(void) {
  fputs("FAILED: the add-in called a connection slot it never uses\n", stdout);
  exit(3);
}
static void* GetInterface(Object* self, int kind) {
  (void)self, (void)kind;
  return NULL;
}
static void* gConnectionTable[] = {
    (void*)Destructor, (void*)Destructor, (void*)AddError,    (void*)Unexpected, (void*)Unexpected,
    (void*)Unexpected, (void*)Unexpected, (void*)Unexpected,  (void*)Unexpected, (void*)Unexpected,
    (void*)Unexpected, (void*)Unexpected, (void*)GetInterface};
static Object gConnection = {gConnectionTable};

/* ---- Calling the add-in -------------------------------------------------- */

enum { INIT_INIT = 2, INIT_SET_MEM_MANAGER = 3, INIT_GET_INFO = 4, INIT_DONE = 5 };
enum { LANG_FIND_METHOD = 11, LANG_GET_N_PARAMS = 13, LANG_CALL_AS_FUNC = 17 };

typedef bool (*InitFn)(Object*, void*);
typedef long (*GetInfoFn)(Object*);
typedef void (*DoneFn)(Object*);
typedef long (*FindMethodFn)(Object*, const WChar*);
typedef long (*GetNParamsFn)(Object*, long);
typedef bool (*CallAsFuncFn)(Object*, long, Variant*, Variant*, long);

static Object* gLanguage;
static int gFailures;

static void Fail(const char* what) {
  printf("FAILED: %s\n", what);
  ++gFailures;
}

/* ASCII and UTF-16 texts of the host; the add-in's texts are shown with
 * anything outside ASCII as '?'. */
static const WChar* Wide(const char* text) {
  static WChar buffer[512];
  size_t n = 0;
  for (; text[n] != 0 && n + 1 < sizeof buffer / sizeof buffer[0]; ++n) buffer[n] = (WChar)text[n];
  buffer[n] = 0;
  return buffer;
}
static const char* Narrow(const WChar* text, size_t length) {
  static char buffer[4096];
  size_t n = 0;
  for (; text != NULL && n < length && n + 1 < sizeof buffer; ++n)
    buffer[n] = text[n] < 0x80 ? (char)text[n] : '?';
  buffer[n] = 0;
  return buffer;
}

static void SetText(Variant* v, const char* text) {
  memset(v, 0, sizeof *v);
  const size_t length = strlen(text);
  void* block = NULL;
  AllocMemory(&gMemory, &block, (unsigned long)((length + 1) * sizeof(WChar)));
  memcpy(block, Wide(text), (length + 1) * sizeof(WChar));
  v->vt = V8_PWSTR;
  v->pwstrVal = block;
  v->wstrLen = (uint32_t)length;
}

/* Calls method NAME with COUNT parameters into RESULT; false when the
 * add-in has no such method or does not take the call. */
static bool Invoke(const char* name, Variant* result, Variant* params, long count) {
  const long number = ((FindMethodFn)gLanguage->vtable[LANG_FIND_METHOD])(gLanguage, Wide(name));
  if (number < 0 ||
      ((GetNParamsFn)gLanguage->vtable[LANG_GET_N_PARAMS])(gLanguage, number) != count) {
    printf("FAILED: %s is not a method of %ld parameters\n", name, count);
    ++gFailures;
    return false;
  }
  memset(result, 0, sizeof *result);
  return ((CallAsFuncFn)gLanguage->vtable[LANG_CALL_AS_FUNC])(gLanguage, number, result, params,
                                                              count);
}

/* True when method NAME answers true. */
static bool Call(const char* name, Variant* params, long count) {
  Variant result;
  return Invoke(name, &result, params, count) && result.vt == V8_BOOL && result.bVal;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fputs("usage: quarnel-load-check LIBRARY\n", stderr);
    return 2;
  }
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    printf("FAILED: dlopen: %s\n", dlerror());
    return 1;
  }
  printf("ok   loaded %s\n", argv[1]);
  typedef const WChar* (*GetClassNamesFn)(void);
  typedef long (*GetClassObjectFn)(const WChar*, void**);
  typedef long (*DestroyObjectFn)(void**);
  typedef int (*GetAttachTypeFn)(void);
  GetClassNamesFn getClassNames = (GetClassNamesFn)dlsym(library, "GetClassNames");
  GetClassObjectFn getClassObject = (GetClassObjectFn)dlsym(library, "GetClassObject");
  DestroyObjectFn destroyObject = (DestroyObjectFn)dlsym(library, "DestroyObject");
  GetAttachTypeFn getAttachType = (GetAttachTypeFn)dlsym(library, "GetAttachType");
  if (!getClassNames || !getClassObject || !destroyObject || !getAttachType) {
    puts("FAILED: the four entry points are not all exported");
    return 1;
  }
  const WChar* names = getClassNames();
  size_t namesLength = 0;
  while (names != NULL && names[namesLength] != 0) ++namesLength;
  if (strcmp(Narrow(names, namesLength), "quarnel") != 0) Fail("GetClassNames");
  if (getAttachType() != 3) Fail("GetAttachType");

  void* component = NULL;
  if (getClassObject(Wide("quarnel"), &component) != 1 || component == NULL) {
    puts("FAILED: GetClassObject");
    return 1;
  }
  printf("ok   GetClassObject\n");
  /* The block: the three interfaces in its first words. */
  Object* initDone = (Object*)&((void**)component)[0];
  gLanguage = (Object*)&((void**)component)[1];
  if (!((InitFn)initDone->vtable[INIT_INIT])(initDone, &gConnection)) Fail("Init");
  if (!((InitFn)initDone->vtable[INIT_SET_MEM_MANAGER])(initDone, &gMemory)) Fail("setMemManager");
  if (((GetInfoFn)initDone->vtable[INIT_GET_INFO])(initDone) != 2000) Fail("GetInfo");

  Variant p[3];
  memset(p, 0, sizeof p);
  if (!Call("GetDescription", p, 1) || p[0].vt != V8_PWSTR) {
    Fail("GetDescription");
  } else {
    const char* description = Narrow(p[0].pwstrVal, p[0].wstrLen);
    if (strstr(description, "<DriverDescription") == NULL) Fail("GetDescription's document");
    printf("ok   GetDescription: %.120s\n", description);
  }
  Clear(&p[0]);

  /* A failure inside the add-in is an exception caught there: the add-in's
   * own runtime unwinds it, and the call answers false with a reason. */
  SetText(&p[1], "");
  SetText(&p[2], "<Parameters");
  if (Call("ConnectEquipment", p, 3)) Fail("ConnectEquipment with a broken document succeeded");
  for (int i = 0; i < 3; ++i) Clear(&p[i]);
  Variant code;
  if (!Invoke("GetLastError", &code, p, 1) || p[0].vt != V8_PWSTR || p[0].wstrLen == 0)
    Fail("GetLastError after a failed call gives no reason");
  else
    printf("ok   a failed call reports its reason (%u characters)\n", p[0].wstrLen);
  Clear(&p[0]);

  ((DoneFn)initDone->vtable[INIT_DONE])(initDone);
  if (destroyObject(&component) != 0) Fail("DestroyObject");
  if (gErrorsAdded != 0) Fail("the add-in reported errors through AddError");
  if (gAllocations != 0) Fail("blocks of the memory manager were not returned");
  if (dlclose(library) != 0) Fail("dlclose");
  puts(gFailures == 0 ? "load check passed" : "load check FAILED");
  return gFailures == 0 ? 0 : 1;
}
