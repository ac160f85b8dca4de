/* A host in the platform's Windows layout, for quarnel.dll under Wine.
 *
 * Written in C on purpose: it shares no C++ ABI with the add-in. Every
 * interface is a table of function pointers laid out as MSVC lays out the
 * platform's classes (one slot for the destructor, methods in declaration
 * order, the value record of 48 bytes), so an add-in built to g++'s layout
 * (two destructor entries) fails here instead of agreeing with itself.
 *
 * WineHost DLL tcp PORT   - the register at 127.0.0.1:PORT
 * WineHost DLL com N      - the register on serial port COM<N>
 * WineHost DLL gone N READY GONE
 *                         - connects on COM<N>, makes the file READY, waits
 *                           for the file GONE (the script makes it once the
 *                           register has ended) and expects the next command
 *                           to tell a device that is not connected
 * WineHost DLL help TEXT  - runs the additional action ShowHelp twice and
 *                           expects the page it wrote to hold TEXT (ASCII),
 *                           and a folder planted where the page's folder
 *                           could be guessed to be left alone
 * WineHost crash          - dies of an access violation: the scenario checks
 *                           that a crash fails it (Wine's debugger would
 *                           catch it and now and then let the process end
 *                           with status 0)
 *
 * Connects, opens a shift, sells a receipt, closes the shift, reads the
 * receipt back from the fiscal storage and disconnects; prints each step and
 * exits 0 only when every step did what the platform expects. */
#include <stdarg.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wchar.h>
#include <winsock2.h>
#include <windows.h>

#include "tests/support/CHostValues.h"

/* ---- What the host hands the add-in: memory manager and connection ------- */

static int gErrorsAdded;

static void* API DeletingDestructor(Object* self, unsigned flags) {
  (void)flags;
  return self;
}
static void* gMemoryTable[] = {(void*)DeletingDestructor, (void*)AllocMemory, (void*)FreeMemory};
static Object gMemory = {gMemoryTable};

static bool API AddError(Object* self, unsigned short code, const wchar_t* source,
                         const wchar_t* text, long scode) {
  (void)self;
  (void)code;
  (void)source;
  (void)scode;
  ++gErrorsAdded;
  fwprintf(stderr, L"AddError: %ls\n", text);
  return true;
}
/* Slots 2 to 10 are never called by the add-in: they fail loudly if they are. */
static void API Unexpected(void) {
  fputs("the add-in called a connection slot it never uses\n", stderr);
  ExitProcess(3);
}
static void* API GetInterface(Object* self, int kind) {
  (void)self;
  (void)kind;
  return NULL;
}
static void* gConnectionTable[] = {
    (void*)DeletingDestructor, (void*)AddError,   (void*)Unexpected, (void*)Unexpected,
    (void*)Unexpected,         (void*)Unexpected, (void*)Unexpected, (void*)Unexpected,
    (void*)Unexpected,         (void*)Unexpected, (void*)Unexpected, (void*)GetInterface};
static Object gConnection = {gConnectionTable};

/* ---- Calling the add-in through its tables -------------------------------- */

/* Slot numbers of the interfaces the add-in implements. */
enum { INIT_INIT = 1, INIT_SET_MEM_MANAGER = 2, INIT_GET_INFO = 3, INIT_DONE = 4 };
enum { LANG_FIND_METHOD = 10, LANG_GET_N_PARAMS = 12, LANG_CALL_AS_FUNC = 16 };

typedef bool(API* InitFn)(Object*, void*);
typedef long(API* GetInfoFn)(Object*);
typedef void(API* DoneFn)(Object*);
typedef long(API* FindMethodFn)(Object*, const wchar_t*);
typedef long(API* GetNParamsFn)(Object*, long);
typedef bool(API* CallAsFuncFn)(Object*, long, Variant*, Variant*, long);

static Object* gInitDone;
static Object* gLanguage;
static int gFailures;

static void Fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  fputs("FAILED: ", stdout);
  vprintf(format, args);
  fputs("\n", stdout);
  va_end(args);
  ++gFailures;
}

/* Texts in the records are blocks of the memory manager, as the platform's
 * are: the add-in frees an out-value's old text before it writes a new one. */
static void SetText(Variant* v, const wchar_t* text) {
  memset(v, 0, sizeof *v);
  size_t length = wcslen(text);
  void* block = NULL;
  AllocMemory(&gMemory, &block, (unsigned long)((length + 1) * sizeof(wchar_t)));
  memcpy(block, text, (length + 1) * sizeof(wchar_t));
  v->vt = V8_PWSTR;
  v->pwstrVal = block;
  v->wstrLen = (uint32_t)length;
}

static void ClearAll(Variant* params, long count) {
  for (long i = 0; i < count; ++i) Clear(&params[i]);
}

/* Up to four texts at once in one printf. */
static char* Utf8(const wchar_t* text) {
  static char buffers[4][16384];
  static int next;
  char* buffer = buffers[next++ % 4];
  buffer[0] = 0;
  if (text != NULL)
    WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, (int)sizeof buffers[0], NULL, NULL);
  return buffer;
}

/* Calls a method that answers a Boolean. On false, the method's error text
 * (from GetLastError) is copied to `error` when it is not NULL, and the step
 * is a failure unless `error` is given. */
static bool Invoke(const wchar_t* name, Variant* params, long count, wchar_t* error, size_t size) {
  long number = ((FindMethodFn)gLanguage->vtable[LANG_FIND_METHOD])(gLanguage, name);
  if (number < 0) {
    Fail("%s: no such method", Utf8(name));
    return false;
  }
  long expected = ((GetNParamsFn)gLanguage->vtable[LANG_GET_N_PARAMS])(gLanguage, number);
  if (expected != count) {
    Fail("%s takes %ld parameters, not %ld", Utf8(name), expected, count);
    return false;
  }
  Variant result;
  memset(&result, 0, sizeof result);
  bool called = ((CallAsFuncFn)gLanguage->vtable[LANG_CALL_AS_FUNC])(gLanguage, number, &result,
                                                                     params, count);
  bool ok = called && result.vt == V8_BOOL && result.bVal;
  if (!ok) {
    Variant text[1];
    memset(text, 0, sizeof text);
    long errorNumber =
        ((FindMethodFn)gLanguage->vtable[LANG_FIND_METHOD])(gLanguage, L"GetLastError");
    Variant code;
    memset(&code, 0, sizeof code);
    ((CallAsFuncFn)gLanguage->vtable[LANG_CALL_AS_FUNC])(gLanguage, errorNumber, &code, text, 1);
    if (error != NULL) {
      error[0] = 0;
      if (text[0].vt == V8_PWSTR) wcsncat(error, text[0].pwstrVal, size - 1);
    } else {
      Fail("%s: %s", Utf8(name), Utf8(text[0].pwstrVal));
    }
    Clear(&text[0]);
  }
  return ok;
}

static bool Call(const wchar_t* name, Variant* params, long count) {
  bool ok = Invoke(name, params, count, NULL, 0);
  printf("%s %s\n", ok ? "ok  " : "FAIL", Utf8(name));
  return ok;
}

static const wchar_t* Attribute(const wchar_t* xml, const wchar_t* name, wchar_t* value,
                                size_t size) {
  wchar_t pattern[64];
  swprintf(pattern, 64, L" %ls=\"", name);
  const wchar_t* at = xml != NULL ? wcsstr(xml, pattern) : NULL;
  value[0] = 0;
  if (at == NULL) return value;
  at += wcslen(pattern);
  size_t n = 0;
  while (at[n] != 0 && at[n] != L'"' && n + 1 < size) {
    value[n] = at[n];
    ++n;
  }
  value[n] = 0;
  return value;
}

/* ---- The scenario --------------------------------------------------------- */

static const wchar_t kCashier[] =
    L"<InputParameters><Parameters CashierName=\"Иванова А. П.\"/></InputParameters>";
static const wchar_t kSale[] =
    L"<CheckPackage><Parameters CashierName=\"Иванова А. П.\" OperationType=\"1\" "
    L"TaxationSystem=\"0\"/><Positions>"
    L"<FiscalString Name=\"Молоко 3,2% 1 л\" Quantity=\"2\" PriceWithDiscount=\"89.90\" "
    L"AmountWithDiscount=\"179.80\" DiscountAmount=\"0\" Department=\"1\" VATRate=\"10\" "
    L"CalculationSubject=\"1\" PaymentMethod=\"4\" MeasureOfQuantity=\"0\"/>"
    L"</Positions><Payments Cash=\"200\" ElectronicPayment=\"0\"/></CheckPackage>";

/* A connect that must fail with exactly the message expected: a port the
 * machine does not have is a device that is not connected, in the driver's
 * own words whatever the language of the system's message, and a port number
 * the parameter page does not offer is refused before any port is tried. */
static void ExpectConnectRefused(const wchar_t* connection, const wchar_t* expected,
                                 const char* what) {
  Variant p[3];
  memset(p, 0, sizeof p);
  SetText(&p[1], L"");
  SetText(&p[2], connection);
  wchar_t error[512] = L"";
  if (Invoke(L"ConnectEquipment", p, 3, error, 512))
    Fail("ConnectEquipment succeeded: %s", what);
  else if (wcscmp(error, expected) != 0)
    Fail("%s: %s", what, Utf8(error));
  else
    printf("ok   %s: %s\n", what, Utf8(error));
  ClearAll(p, 3);
}

/* The register's connection is the add-in's alone: a child process the
 * platform starts must not inherit it and keep the register's one TCP
 * connection after a disconnect. Every socket of this host is the add-in's. */
static void ExpectNoInheritableSocket(void) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(1, 1), &data) != 0) {
    Fail("WSAStartup");
    return;
  }
  int sockets = 0;
  for (uintptr_t handle = 4; handle < 0x4000; handle += 4) {
    int type = 0, length = sizeof type;
    if (getsockopt((SOCKET)handle, SOL_SOCKET, SO_TYPE, (char*)&type, &length) != 0) continue;
    ++sockets;
    DWORD flags = 0;
    if (GetHandleInformation((HANDLE)handle, &flags) && (flags & HANDLE_FLAG_INHERIT) != 0)
      Fail("the add-in's socket %u would be inherited by the platform's child processes",
           (unsigned)handle);
  }
  if (sockets == 0) Fail("no socket of the add-in found while it is connected over TCP");
  WSACleanup();
}

static void RunScenario(const wchar_t* connection, bool tcp) {
  Variant p[4];
  memset(p, 0, sizeof p);
  SetText(&p[1], L"");
  SetText(&p[2], connection);
  bool connected = Call(L"ConnectEquipment", p, 3) && p[0].vt == V8_PWSTR;
  wchar_t device[64] = L"";
  if (connected) wcsncpy(device, p[0].pwstrVal, 63);
  ClearAll(p, 3);
  if (!connected) return;
  if (tcp) ExpectNoInheritableSocket();
  printf("     device %s\n", Utf8(device));

  SetText(&p[0], device);
  SetText(&p[1], kCashier);
  Call(L"OpenShift", p, 3);
  ClearAll(p, 3);

  SetText(&p[0], device);
  p[1].vt = V8_BOOL;
  p[1].bVal = false;
  SetText(&p[2], kSale);
  wchar_t number[32] = L"";
  if (Call(L"ProcessCheck", p, 4)) {
    Attribute(p[3].pwstrVal, L"CheckNumber", number, 32);
    printf("     receipt %s\n", Utf8(number));
    if (number[0] == 0) Fail("ProcessCheck wrote no CheckNumber: %s", Utf8(p[3].pwstrVal));
  }
  ClearAll(p, 4);

  SetText(&p[0], device);
  SetText(&p[1], kCashier);
  Call(L"CloseShift", p, 3);
  ClearAll(p, 3);

  if (number[0] != 0) {
    SetText(&p[0], device);
    p[1].vt = V8_I4;
    p[1].lVal = (int32_t)wcstol(number, NULL, 10);
    if (Call(L"GetDocumentInformation", p, 3)) {
      /* The stored receipt names what was sold, in its own words. */
      if (p[2].vt != V8_PWSTR || wcsstr(p[2].pwstrVal, L"Молоко 3,2% 1 л") == NULL)
        Fail("the receipt read back does not hold the sold item: %s", Utf8(p[2].pwstrVal));
      else
        printf("     read back: %u characters\n", p[2].wstrLen);
    }
    ClearAll(p, 3);
  }

  SetText(&p[0], device);
  Call(L"DisconnectEquipment", p, 1);
  ClearAll(p, 1);
}

static bool WaitForFile(const char* name) {
  for (int i = 0; i < 600; ++i) { /* 60 s at most */
    if (GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES) return true;
    Sleep(100);
  }
  return false;
}

/* A register that goes away while connected is a device not connected, as
 * when a USB adapter is pulled out. */
static void ExpectDeviceGone(const wchar_t* connection, const wchar_t* port, const char* ready,
                             const char* gone) {
  wchar_t missing[128];
  swprintf(missing, 128, L"Устройство не подключено: \\\\.\\COM%ls (COM%ls)", port, port);
  Variant p[3];
  memset(p, 0, sizeof p);
  SetText(&p[1], L"");
  SetText(&p[2], connection);
  bool connected = Call(L"ConnectEquipment", p, 3) && p[0].vt == V8_PWSTR;
  wchar_t device[64] = L"";
  if (connected) wcsncpy(device, p[0].pwstrVal, 63);
  ClearAll(p, 3);
  if (!connected) return;
  fclose(fopen(ready, "w"));
  if (!WaitForFile(gone)) {
    Fail("the register was not ended");
    return;
  }
  SetText(&p[0], device);
  SetText(&p[1], kCashier);
  wchar_t error[512] = L"";
  if (Invoke(L"GetCurrentStatus", p, 3, error, 512))
    Fail("GetCurrentStatus succeeded with the register gone");
  else if (wcscmp(error, missing) != 0)
    Fail("a register gone is not named as a device not connected: %s", Utf8(error));
  else
    printf("ok   register gone: %s\n", Utf8(error));
  ClearAll(p, 3);
  SetText(&p[0], device);
  Call(L"DisconnectEquipment", p, 1);
  ClearAll(p, 1);
}

/* Removes the page folders matching PATTERN under TEMP (Wine gives a later
 * process the number of an earlier one, whose folder is still there). */
static void RemovePageFolders(const wchar_t* temp, const wchar_t* pattern) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    wchar_t path[MAX_PATH + 128];
    swprintf(path, MAX_PATH + 128, L"%ls%ls\\help.html", temp, found.cFileName);
    DeleteFileW(path);
    swprintf(path, MAX_PATH + 128, L"%ls%ls", temp, found.cFileName);
    RemoveDirectoryW(path);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

/* ShowHelp writes its page to a folder of its own under the temporary
 * folder before it hands the page to the shell; whether the shell could show
 * it or not, the page must hold `expected`. A folder another user made at a
 * name the process's number gives, holding help.html as a hard link to a
 * file of the victim's, must be left alone: the victim's file keeps its text. */
static void ExpectHelpPage(const char* expected) {
  wchar_t temp[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0 || n > MAX_PATH) {
    Fail("GetTempPath");
    return;
  }
  const unsigned long pid = (unsigned long)GetCurrentProcessId();
  wchar_t pattern[MAX_PATH + 64], page[MAX_PATH + 128];
  swprintf(pattern, MAX_PATH + 64, L"%lsquarnel-help-%lu-*", temp, pid);
  RemovePageFolders(temp, pattern);
  wchar_t planted[MAX_PATH + 64], plantedPage[MAX_PATH + 64], victim[MAX_PATH + 64];
  swprintf(planted, MAX_PATH + 64, L"%lsquarnel-help-%lu", temp, pid);
  swprintf(plantedPage, MAX_PATH + 64, L"%ls\\help.html", planted);
  swprintf(victim, MAX_PATH + 64, L"%lsquarnel-victim-%lu.txt", temp, pid);
  static const char kVictimText[] = "the victim's own text";
  FILE* file = _wfopen(victim, L"wb");
  if (file == NULL || fputs(kVictimText, file) < 0 || fclose(file) != 0 ||
      !CreateDirectoryW(planted, NULL) || !CreateHardLinkW(plantedPage, victim, NULL)) {
    Fail("planting a folder with a link to a victim's file: error %lu", GetLastError());
    return;
  }

  /* Twice: the second page replaces the first in the same folder. */
  for (int call = 0; call < 2; ++call) {
    Variant p[1];
    memset(p, 0, sizeof p);
    SetText(&p[0], L"ShowHelp");
    wchar_t error[1024] = L"";
    const bool shown = Invoke(L"DoAdditionalAction", p, 1, error, 1024);
    ClearAll(p, 1);
    printf("     ShowHelp: %s\n", shown ? "shown" : Utf8(error));
  }

  static char text[1 << 20];
  file = _wfopen(victim, L"rb");
  size_t size = file != NULL ? fread(text, 1, sizeof text - 1, file) : 0;
  if (file != NULL) fclose(file);
  text[size] = 0;
  if (strcmp(text, kVictimText) != 0)
    Fail("ShowHelp wrote through a folder it did not make: the victim's file holds %.60s", text);
  else
    printf("ok   a folder made by someone else at a guessable name is left alone\n");
  DeleteFileW(plantedPage);
  RemoveDirectoryW(planted);
  DeleteFileW(victim);

  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) {
    Fail("ShowHelp made no folder %s", Utf8(pattern));
    return;
  }
  const bool another = FindNextFileW(search, &found);
  FindClose(search);
  if (another) Fail("ShowHelp made a folder for each call");
  swprintf(page, MAX_PATH + 128, L"%ls%ls\\help.html", temp, found.cFileName);
  file = _wfopen(page, L"rb");
  if (file == NULL) {
    Fail("ShowHelp wrote no page %s", Utf8(page));
    return;
  }
  size = fread(text, 1, sizeof text - 1, file);
  fclose(file);
  text[size] = 0;
  if (strstr(text, expected) == NULL)
    Fail("the help page %s does not hold %s", Utf8(page), expected);
  else
    printf("ok   ShowHelp's page holds %s\n", expected);
}

/* The connection parameters: a serial port number, or 9999 and the TCP
 * port of the register at 127.0.0.1. */
static void Connection(wchar_t out[1024], const wchar_t* portNumber, const char* tcpPort) {
  swprintf(out, 1024,
           L"<Parameters><Parameter Name=\"PortNumber\" Value=\"%ls\"/>"
           L"<Parameter Name=\"IPAddress\" Value=\"127.0.0.1\"/>"
           L"<Parameter Name=\"IPPort\" Value=\"%hs\"/>"
           L"<Parameter Name=\"BaudRate\" Value=\"57600\"/>"
           L"<Parameter Name=\"ConnectionPassword\" Value=\"KVNT\"/>"
           L"<Parameter Name=\"FontNumber\" Value=\"0\"/>"
           L"<Parameter Name=\"CutString\" Value=\"[cut]\"/>"
           L"<Parameter Name=\"EnablePrinting\" Value=\"0\"/>"
           L"<Parameter Name=\"EnableReportPrinting\" Value=\"0\"/>"
           L"<Parameter Name=\"LogEnabled\" Value=\"true\"/></Parameters>",
           portNumber, tcpPort != NULL ? tcpPort : "0");
}

/* The register modes: tcp PORT, com N and gone N READY GONE. */
static void RunOnRegister(char** argv, bool gone) {
  wchar_t connection[1024];
  wchar_t port[16];
  MultiByteToWideChar(CP_UTF8, 0, argv[3], -1, port, 16);
  if (strcmp(argv[2], "tcp") == 0) {
    Connection(connection, L"9999", argv[3]);
  } else if (gone) {
    Connection(connection, port, NULL);
  } else {
    Connection(connection, L"128", NULL); /* no machine here has COM128 */
    /* The whole message: the device name tried is the system's for the port. */
    ExpectConnectRefused(connection, L"Устройство не подключено: \\\\.\\COM128 (COM128)",
                         "missing port");
    Connection(connection, L"250", NULL);
    ExpectConnectRefused(connection,
                         L"Недопустимое значение параметра подключения PortNumber: 250; "
                         L"допустимы номера от 1 до 128 (порты COM1–COM128) и 9999 (TCP/IP)",
                         "port number out of range");
    Connection(connection, port, NULL);
  }
  if (gone)
    ExpectDeviceGone(connection, port, argv[4], argv[5]);
  else
    RunScenario(connection, strcmp(argv[2], "tcp") == 0);
}

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "crash") == 0) {
    RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, NULL);
    return 0;
  }
  bool gone = argc == 6 && strcmp(argv[2], "gone") == 0;
  if (argc != 4 && !gone) {
    fputs(
        "usage: WineHost DLL tcp PORT | WineHost DLL com N | WineHost DLL gone N READY GONE |"
        " WineHost DLL help TEXT | WineHost crash\n",
        stderr);
    return 2;
  }
  HMODULE dll = LoadLibraryA(argv[1]);
  if (dll == NULL) {
    printf("FAILED: LoadLibrary %s: error %lu\n", argv[1], GetLastError());
    return 1;
  }
  typedef const wchar_t*(__cdecl * GetClassNamesFn)(void);
  typedef long(__cdecl * GetClassObjectFn)(const wchar_t*, void**);
  typedef long(__cdecl * DestroyObjectFn)(void**);
  typedef int(__cdecl * GetAttachTypeFn)(void);
  GetClassNamesFn getClassNames = (GetClassNamesFn)(void*)GetProcAddress(dll, "GetClassNames");
  GetClassObjectFn getClassObject = (GetClassObjectFn)(void*)GetProcAddress(dll, "GetClassObject");
  DestroyObjectFn destroyObject = (DestroyObjectFn)(void*)GetProcAddress(dll, "DestroyObject");
  GetAttachTypeFn getAttachType = (GetAttachTypeFn)(void*)GetProcAddress(dll, "GetAttachType");
  if (!getClassNames || !getClassObject || !destroyObject || !getAttachType) {
    puts("FAILED: the four exports are not all there under their plain names");
    return 1;
  }
  if (wcscmp(getClassNames(), L"quarnel") != 0) Fail("GetClassNames: %s", Utf8(getClassNames()));
  if (getAttachType() != 3) Fail("GetAttachType: %d", getAttachType());

  void* component = NULL;
  if (getClassObject(L"quarnel", &component) != 1 || component == NULL) {
    puts("FAILED: GetClassObject");
    return 1;
  }
  /* The block: the three interfaces in its first words, the object four words on. */
  void** block = (void**)component;
  gInitDone = (Object*)&block[0];
  gLanguage = (Object*)&block[1];
  if (block[3] != NULL || block[4] != block[5] || block[5] != block[6])
    Fail("the component block is not laid out as the platform reads it");
  if (!((InitFn)gInitDone->vtable[INIT_INIT])(gInitDone, &gConnection)) Fail("Init");
  if (!((InitFn)gInitDone->vtable[INIT_SET_MEM_MANAGER])(gInitDone, &gMemory))
    Fail("setMemManager");
  long info = ((GetInfoFn)gInitDone->vtable[INIT_GET_INFO])(gInitDone);
  if (info != 2000) Fail("GetInfo: %ld", info);

  if (strcmp(argv[2], "help") == 0)
    ExpectHelpPage(argv[3]);
  else
    RunOnRegister(argv, gone);

  ((DoneFn)gInitDone->vtable[INIT_DONE])(gInitDone);
  if (destroyObject(&component) != 0) Fail("DestroyObject");
  if (gErrorsAdded != 0) Fail("the add-in reported %d errors through AddError", gErrorsAdded);
  if (gAllocations != 0) Fail("%d blocks of the memory manager were not returned", gAllocations);
  printf("%s\n", gFailures == 0 ? "scenario passed" : "scenario FAILED");
  return gFailures == 0 ? 0 : 1;
}
