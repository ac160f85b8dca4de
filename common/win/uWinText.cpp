#include "common/win/uWinText.h"

#include <windows.h>

std::wstring OwnModulePath() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&OwnModulePath), &module))
    return {};
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);  // a long path: try again with room for it
  }
}

std::string WindowsErrorText(unsigned long AError) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, AError, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::string result;
  if (n > 0 && text != nullptr) {
    result = Trim(WideToUtf8(std::wstring_view(text, n)));
  } else {
    result = "Windows error " + std::to_string(AError);
  }
  if (text != nullptr) LocalFree(text);
  return result;
}
