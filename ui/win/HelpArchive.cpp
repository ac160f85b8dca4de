// Reading documents out of the help archive on Windows, where Debian offers
// no libzip: the archive is read whole and its entry taken with ZipReader.
#include <windows.h>

#include <stdexcept>

#include "common/win/uWinText.h"
#include "resources/uResources.h"
#include "ui/lib/HelpArchive.h"
#include "ui/lib/ZipReader.h"

namespace {

// The archive is read whole; a help archive is far smaller than this.
constexpr size_t kMaxArchiveSize = 64 * 1024 * 1024;

[[noreturn]] void Damaged(const std::string& AArchive, const std::string& AReason) {
  throw std::runtime_error(ResFormat("HelpArchiveDamaged", {AArchive, AReason}));
}

std::string ReadWholeFile(const std::string& AArchive) {
  const std::wstring name = Utf8ToWide(AArchive);
  HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      throw std::runtime_error(ResFormat("HelpArchiveMissing", {AArchive}));
    Damaged(AArchive, WindowsErrorText(error));
  }
  struct TCloser {
    HANDLE Handle;
    ~TCloser() { CloseHandle(Handle); }
  } closer{file};
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) Damaged(AArchive, WindowsErrorText(GetLastError()));
  if (size.QuadPart < 0 || uint64_t(size.QuadPart) > kMaxArchiveSize)
    Damaged(AArchive, std::to_string(size.QuadPart));
  std::string data(size_t(size.QuadPart), '\0');
  size_t done = 0;
  while (done < data.size()) {
    DWORD read = 0;
    if (!ReadFile(file, data.data() + done, DWORD(data.size() - done), &read, nullptr) || read == 0)
      Damaged(AArchive, WindowsErrorText(GetLastError()));
    done += read;
  }
  return data;
}

}  // namespace

bool ReadArchiveEntry(const std::string& AArchive, const std::string& AEntry,
                      std::string& AContent) {
  const std::string zip = ReadWholeFile(AArchive);
  try {
    return ExtractZipEntry(zip, AEntry, cMaxHelpEntrySize, AContent);
  } catch (const std::runtime_error& e) {
    Damaged(AArchive, e.what());
  }
}
