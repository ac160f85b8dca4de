// Handing files and folders to the user's desktop on Windows: the shell opens
// them with the programs the user has chosen (Explorer for the log folder,
// the browser for the help page).
#include <windows.h>
#include <objbase.h>
#include <sddl.h>
#include <shellapi.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "common/win/uWinHandle.h"
#include "common/win/uWinText.h"
#include "resources/uResources.h"
#include "ui/uDesktop.h"
#include "ui/ufmDocView.h"

TDesktopOpen OpenOnDesktop(const std::string& APath) {
  const std::wstring path = Utf8ToWide(APath);
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  // Values above 32 mean the shell has handed the path on.
  return result > 32 ? TDesktopOpen::Opened : TDesktopOpen::Failed;
}

namespace {

std::mutex GHelpLock;
std::wstring GHelpFolder;  // the folder this process made; under GHelpLock
// Held open without delete sharing for the life of the process: no one can
// remove the folder or put another in its place, so it stays the one made.
TWinHandle GHelpFolderHold;

[[noreturn]] void WriteFailed(const std::wstring& APath) {
  throw std::runtime_error(ResFormat("HelpWriteFailed", {WideToUtf8(APath)}));
}

// An access list that lets only this process's user in, inherited by
// nothing above it: a temporary folder may be shared (a service's is the
// system's own), and other users may create files in its sub-folders.
std::wstring OwnerOnlyAccess() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  const TWinHandle token(raw);
  DWORD size = 0;
  GetTokenInformation(raw, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  LPWSTR sid = nullptr;
  if (size == 0 || !GetTokenInformation(raw, TokenUser, user.data(), size, &size) ||
      !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid))
    return {};
  std::wstring sddl = L"D:P(A;OICI;FA;;;" + std::wstring(sid) + L")";
  LocalFree(sid);
  return sddl;
}

// One private folder per process for the rendered pages, made with a name
// no one could guess and claim before, never one that already exists. The
// browser reads a page after the call has returned, so pages stay until the
// system clears its temporary files.
const std::wstring& HelpPageFolder() {
  if (!GHelpFolder.empty()) return GHelpFolder;
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  const std::wstring base =
      (n > 0 && n <= MAX_PATH ? std::wstring(temp, n) : std::wstring(L".\\")) + L"quarnel-help-" +
      std::to_wstring(GetCurrentProcessId()) + L"-";
  const std::wstring access = OwnerOnlyAccess();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (access.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                            access.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    WriteFailed(base);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  std::wstring folder;
  for (int attempt = 0; attempt < 16 && folder.empty(); ++attempt) {
    GUID id{};
    if (FAILED(CoCreateGuid(&id))) break;
    wchar_t suffix[24];
    swprintf(suffix, 24, L"%08lX%04X%04X", static_cast<unsigned long>(id.Data1), id.Data2,
             id.Data3);
    const std::wstring name = base + suffix;
    if (CreateDirectoryW(name.c_str(), &attributes))
      folder = name;
    else if (GetLastError() != ERROR_ALREADY_EXISTS)
      break;
  }
  LocalFree(descriptor);
  if (folder.empty()) WriteFailed(base);
  GHelpFolderHold.Reset(CreateFileW(
      folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!GHelpFolderHold) WriteFailed(folder);
  GHelpFolder = folder;
  return GHelpFolder;
}

}  // namespace

std::string WriteHelpPage(std::string_view AName, std::string_view AContent) {
  std::lock_guard lock(GHelpLock);
  const std::wstring page = HelpPageFolder() + L"\\" + Utf8ToWide(AName) + L".html";
  // The page of an earlier call goes first: a file made anew (CREATE_NEW)
  // is never one that a name planted in the folder leads to.
  if (!DeleteFileW(page.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) WriteFailed(page);
  const TWinHandle file(CreateFileW(page.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) WriteFailed(page);
  for (size_t at = 0; at < AContent.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(AContent.size() - at, 1 << 20));
    DWORD written = 0;
    if (!WriteFile(file.Get(), AContent.data() + at, chunk, &written, nullptr) || written == 0)
      WriteFailed(page);
    at += written;
  }
  return WideToUtf8(page);
}

std::string HelpArchivePath() {
  const std::wstring library = OwnModulePath();
  if (library.empty()) return "md.zip";
  return WideToUtf8((std::filesystem::path(library).parent_path() / L"md.zip").native());
}
