#include "ui/lib/ZipReader.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kDirectorySignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr size_t kEndSize = 22;
constexpr size_t kDirectorySize = 46;
constexpr size_t kLocalSize = 30;

[[noreturn]] void Damaged(const std::string& AReason) {
  throw std::runtime_error(AReason);
}

uint32_t Read16(std::string_view AData, size_t AAt) {
  return uint8_t(AData[AAt]) | uint32_t(uint8_t(AData[AAt + 1])) << 8;
}
uint32_t Read32(std::string_view AData, size_t AAt) {
  return Read16(AData, AAt) | Read16(AData, AAt + 2) << 16;
}

// The end record: its 22 bytes and a comment of up to 65535 bytes end the archive.
size_t FindEnd(std::string_view AZip) {
  if (AZip.size() < kEndSize) Damaged("no end of central directory");
  const size_t lowest = AZip.size() > kEndSize + 0xFFFF ? AZip.size() - kEndSize - 0xFFFF : 0;
  for (size_t at = AZip.size() - kEndSize;; --at) {
    if (Read32(AZip, at) == kEndSignature) return at;
    if (at == lowest) Damaged("no end of central directory");
  }
}

}  // namespace

bool ExtractZipEntry(std::string_view AZip, std::string_view AEntry, size_t AMaxSize,
                     std::string& AContent) {
  const size_t end = FindEnd(AZip);
  const uint32_t count = Read16(AZip, end + 10);
  size_t at = Read32(AZip, end + 16);
  for (uint32_t i = 0; i < count; ++i) {
    if (at > AZip.size() || AZip.size() - at < kDirectorySize ||
        Read32(AZip, at) != kDirectorySignature)
      Damaged("central directory");
    const uint32_t method = Read16(AZip, at + 10);
    const uint32_t crc = Read32(AZip, at + 16);
    const uint32_t packed = Read32(AZip, at + 20);
    const uint32_t size = Read32(AZip, at + 24);
    const size_t nameLength = Read16(AZip, at + 28);
    const size_t recordLength =
        kDirectorySize + nameLength + Read16(AZip, at + 30) + Read16(AZip, at + 32);
    const size_t local = Read32(AZip, at + 42);
    if (AZip.size() - at < kDirectorySize + nameLength) Damaged("central directory");
    const std::string_view name = AZip.substr(at + kDirectorySize, nameLength);
    at += recordLength;
    if (name != AEntry) continue;

    const std::string entry(AEntry);
    if (size > AMaxSize) Damaged(entry + ": " + std::to_string(size));
    if (local > AZip.size() || AZip.size() - local < kLocalSize ||
        Read32(AZip, local) != kLocalSignature)
      Damaged(entry + ": local header");
    const size_t data = local + kLocalSize + Read16(AZip, local + 26) + Read16(AZip, local + 28);
    if (data > AZip.size() || packed > AZip.size() - data) Damaged(entry + ": data");
    std::string content(size, '\0');
    if (method == 0) {
      if (packed != size) Damaged(entry + ": sizes");
      std::memcpy(content.data(), AZip.data() + data, size);
    } else if (method == 8) {
      z_stream stream{};
      if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) Damaged(entry + ": zlib");
      stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(AZip.data() + data));
      stream.avail_in = packed;
      stream.next_out = reinterpret_cast<Bytef*>(content.data());
      stream.avail_out = size;
      const int result = inflate(&stream, Z_FINISH);
      const bool whole = result == Z_STREAM_END && stream.total_out == size;
      inflateEnd(&stream);
      if (!whole) Damaged(entry + ": compressed data");
    } else {
      Damaged(entry + ": compression method " + std::to_string(method));
    }
    if (crc32(0, reinterpret_cast<const Bytef*>(content.data()), size) != crc)
      Damaged(entry + ": CRC");
    AContent = std::move(content);
    return true;
  }
  return false;
}
