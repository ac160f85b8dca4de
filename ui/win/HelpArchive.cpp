// Reading documents out of the help archive on Windows, where Debian offers
// no libzip: the archive's central directory is walked here and an entry is
// stored or deflated (zlib), which is what zip tools write for documents.
// Every size and offset is checked against the archive before it is used.
#include <windows.h>
#include <zlib.h>

#include <cstring>
#include <stdexcept>

#include "common/win/uWinText.h"
#include "resources/uResources.h"
#include "ui/lib/HelpArchive.h"

namespace {

// The archive is read whole; a help archive is far smaller than this.
constexpr size_t kMaxArchiveSize = 64 * 1024 * 1024;

[[noreturn]] void Damaged(const std::string& AArchive, const std::string& AReason) {
  throw std::runtime_error(ResFormat("HelpArchiveDamaged", {AArchive, AReason}));
}

uint32_t Read16(const std::string& AData, size_t AAt) {
  return uint8_t(AData[AAt]) | uint32_t(uint8_t(AData[AAt + 1])) << 8;
}
uint32_t Read32(const std::string& AData, size_t AAt) {
  return Read16(AData, AAt) | Read16(AData, AAt + 2) << 16;
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
  // The end record: 22 bytes plus a comment of up to 65535 bytes at the end.
  constexpr size_t kEndSize = 22;
  if (zip.size() < kEndSize) Damaged(AArchive, "no end of central directory");
  size_t end = zip.size() - kEndSize;
  const size_t lowest = zip.size() > kEndSize + 65535 ? zip.size() - kEndSize - 65535 : 0;
  while (Read32(zip, end) != 0x06054b50) {
    if (end == lowest) Damaged(AArchive, "no end of central directory");
    --end;
  }
  const uint32_t count = Read16(zip, end + 10);
  size_t at = Read32(zip, end + 16);
  for (uint32_t i = 0; i < count; ++i) {
    if (at + 46 > zip.size() || Read32(zip, at) != 0x02014b50)
      Damaged(AArchive, "central directory");
    const uint32_t method = Read16(zip, at + 10);
    const uint32_t crc = Read32(zip, at + 16);
    const uint32_t packed = Read32(zip, at + 20);
    const uint32_t size = Read32(zip, at + 24);
    const size_t nameLength = Read16(zip, at + 28);
    const size_t skip = nameLength + Read16(zip, at + 30) + Read16(zip, at + 32);
    const size_t local = Read32(zip, at + 42);
    if (at + 46 + nameLength > zip.size()) Damaged(AArchive, "central directory");
    const std::string name = zip.substr(at + 46, nameLength);
    at += 46 + skip;
    if (name != AEntry) continue;

    if (size > cMaxHelpEntrySize) Damaged(AArchive, AEntry + ": " + std::to_string(size));
    if (local + 30 > zip.size() || Read32(zip, local) != 0x04034b50) Damaged(AArchive, AEntry);
    const size_t data = local + 30 + Read16(zip, local + 26) + Read16(zip, local + 28);
    if (data > zip.size() || packed > zip.size() - data) Damaged(AArchive, AEntry);
    std::string content(size, '\0');
    if (method == 0) {
      if (packed != size) Damaged(AArchive, AEntry);
      std::memcpy(content.data(), zip.data() + data, size);
    } else if (method == 8) {
      z_stream stream{};
      if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) Damaged(AArchive, AEntry);
      stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zip.data() + data));
      stream.avail_in = packed;
      stream.next_out = reinterpret_cast<Bytef*>(content.data());
      stream.avail_out = size;
      const int result = inflate(&stream, Z_FINISH);
      const bool whole = result == Z_STREAM_END && stream.total_out == size;
      inflateEnd(&stream);
      if (!whole) Damaged(AArchive, AEntry);
    } else {
      Damaged(AArchive, AEntry + ": compression method " + std::to_string(method));
    }
    if (crc32(0, reinterpret_cast<const Bytef*>(content.data()), size) != crc)
      Damaged(AArchive, AEntry + ": CRC");
    AContent = std::move(content);
    return true;
  }
  return false;
}
