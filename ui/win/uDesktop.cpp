// Handing files and folders to the user's desktop on Windows: the shell opens
// them with the programs the user has chosen (Explorer for the log folder,
// the browser for the help page).
#include <windows.h>
#include <shellapi.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

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

// A folder of this process under the user's temporary folder; made again
// when something removed it.
std::string HelpPageFolder() {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  std::wstring folder = n > 0 && n <= MAX_PATH ? std::wstring(temp, n) : std::wstring(L".\\");
  folder += L"quarnel-help-" + std::to_wstring(GetCurrentProcessId());
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    throw std::runtime_error(ResFormat("HelpWriteFailed", {WideToUtf8(folder)}));
  return WideToUtf8(folder);
}

}  // namespace

std::string WriteHelpPage(std::string_view AName, std::string_view AContent) {
  const std::string page = HelpPageFolder() + "/" + std::string(AName) + ".html";
  // The page's name is UTF-8 text; the path type takes it as such.
  std::ofstream out(std::filesystem::path(std::u8string(page.begin(), page.end())),
                    std::ios::binary | std::ios::trunc);
  out << AContent;
  if (!out.flush()) throw std::runtime_error(ResFormat("HelpWriteFailed", {page}));
  return page;
}

std::string HelpArchivePath() {
  const std::wstring library = OwnModulePath();
  if (library.empty()) return "md.zip";
  return WideToUtf8((std::filesystem::path(library).parent_path() / L"md.zip").native());
}
