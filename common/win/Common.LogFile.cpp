// The log's files on Windows: the folder below the common application-data
// folder, a new one opened to the local Users group, and the day file
// appended.
#include "common/Common.LogFile.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <stdexcept>
#include <system_error>

#include "common/Common.BaseSecurity.h"
#include "common/Common.Log.h"
#include "common/win/uWinHandle.h"
#include "common/win/uWinText.h"

namespace fs = std::filesystem;

namespace {

std::string PathText(const fs::path& APath) {
  return WideToUtf8(APath.native());
}

[[noreturn]] void RaiseFor(const std::string& AWhat, const fs::path& APath, DWORD AError) {
  throw std::runtime_error(AWhat + " " + PathText(APath) + ": " + WindowsErrorText(AError));
}

fs::path CommonAppData() {
  wchar_t folder[MAX_PATH] = {};
  const HRESULT result =
      SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, folder);
  if (FAILED(result))
    throw std::runtime_error("Папка данных приложений недоступна: " +
                             WindowsErrorText(static_cast<DWORD>(result)));
  return fs::path(folder);
}

}  // namespace

std::string LogPathText(const fs::path& APath) {
  return PathText(APath);
}

fs::path LogFolderFor(const fs::path& tail) {
  const fs::path folder = CommonAppData() / tail;
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
      throw std::runtime_error("Папка журнала " + PathText(folder) + " не является папкой");
    return folder;  // an existing folder is left as it is
  }
  std::error_code ec;
  fs::create_directories(folder.parent_path(), ec);
  if (ec) RaiseFor("Создание папки журнала", folder, static_cast<DWORD>(ec.value()));
  if (!CreateDirectoryW(folder.c_str(), nullptr)) {
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) return folder;  // made by another process meanwhile
    RaiseFor("Создание папки журнала", folder, error);
  }
  GrantEveryoneFullAccess(PathText(folder));
  return folder;
}

void AppendToLogFile(const fs::path& folder, const std::string& name, const std::string& bytes) {
  const fs::path file = folder / Utf8ToWide(name);
  // Appending only, and shared with readers and other writers: no one who
  // reads the log can hold it and stall every call that logs, and a write
  // opened for appending lands whole at the end of the file.
  const TWinHandle handle(CreateFileW(file.c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) RaiseFor("Открытие журнала", file, GetLastError());
  DWORD written = 0;
  if (bytes.size() > 0x7FFFFFFF ||
      !WriteFile(handle.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size())
    RaiseFor("Запись в журнал", file, GetLastError());
}

// Every line opens and closes the file here: nothing is kept open.
void CloseLogFile() noexcept {}

std::string OperatingSystemText() {
  // GetVersionEx reports what the DLL's host was manifested for; the kernel's
  // own query tells the real version.
  using TRtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto query = ntdll != nullptr ? reinterpret_cast<TRtlGetVersion>(reinterpret_cast<void*>(
                                      GetProcAddress(ntdll, "RtlGetVersion")))
                                : nullptr;
  if (query == nullptr || query(&info) != 0) return "Unknown ";
  const DWORD major = info.dwMajorVersion, minor = info.dwMinorVersion;
  const char* name = "Unknown";
  if (major == 3) {
    name = "Windows NT 3";
  } else if (major == 4 && minor == 0) {
    name = info.dwPlatformId == VER_PLATFORM_WIN32_NT ? "Windows NT 4" : "Windows 95";
  } else if (major == 4 && minor == 10) {
    name = "Windows 98";
  } else if (major == 4 && minor == 90) {
    name = "Windows ME";
  } else if (major == 5 && minor <= 2) {
    static const char* const k5[] = {"Windows 2000", "Windows XP", "Windows 2003"};
    name = k5[minor];
  } else if (major == 6 && minor <= 3) {
    static const char* const k6[] = {"Windows Vista", "Windows 7", "Windows 8.0", "Windows 8.1"};
    name = k6[minor];
  } else if (major == 10 && minor == 0) {
    name = "Windows 10";
  }
  std::string text = std::string(name) + " ";
  const std::string servicePack = WideToUtf8(info.szCSDVersion);
  if (!servicePack.empty()) text += servicePack + " ";
  char numbers[48];
  std::snprintf(numbers, sizeof numbers, "(%lu.%lu.%lu)", static_cast<unsigned long>(major),
                static_cast<unsigned long>(minor), static_cast<unsigned long>(info.dwBuildNumber));
  return text + numbers;
}

std::string ApplicationFileName() {
  const std::wstring path = OwnModulePath();
  if (path.empty()) return "quarnel.dll";
  return PathText(fs::path(path).filename());
}

std::string ApplicationVersionText() {
  unsigned parts[4] = {0, 0, 0, 0};
  const std::wstring path = OwnModulePath();
  DWORD ignored = 0;
  const DWORD size = path.empty() ? 0 : GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size > 0) {
    std::string block(size, '\0');
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (GetFileVersionInfoW(path.c_str(), 0, size, block.data()) &&
        VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) &&
        fixed != nullptr && length >= sizeof(VS_FIXEDFILEINFO)) {
      parts[0] = HIWORD(fixed->dwFileVersionMS);
      parts[1] = LOWORD(fixed->dwFileVersionMS);
      parts[2] = HIWORD(fixed->dwFileVersionLS);
      parts[3] = LOWORD(fixed->dwFileVersionLS);
    }
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
  return buf;
}
