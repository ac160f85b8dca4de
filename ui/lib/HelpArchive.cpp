// The help archive is read whole and its entry taken with ZipReader: an
// archive of a few documents, so no streaming is needed.
#include "ui/lib/HelpArchive.h"

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "resources/uResources.h"
#include "ui/lib/ZipReader.h"

namespace fs = std::filesystem;

namespace {

// A help archive is far smaller than this.
constexpr uintmax_t kMaxArchiveSize = 64 * 1024 * 1024;

[[noreturn]] void Damaged(const std::string& AArchive, const std::string& AReason) {
  throw std::runtime_error(ResFormat("HelpArchiveDamaged", {AArchive, AReason}));
}

// The path type takes the UTF-8 name as such on every platform.
fs::path PathOf(const std::string& AName) {
  return fs::path(std::u8string(AName.begin(), AName.end()));
}

std::string ReadWholeFile(const std::string& AArchive) {
  const fs::path path = PathOf(AArchive);
  std::error_code ec;
  const uintmax_t size = fs::file_size(path, ec);
  if (ec == std::errc::no_such_file_or_directory)
    throw std::runtime_error(ResFormat("HelpArchiveMissing", {AArchive}));
  if (ec) Damaged(AArchive, ec.message());
  if (size > kMaxArchiveSize) Damaged(AArchive, std::to_string(size));
  std::ifstream in(path, std::ios::binary);
  std::string data(static_cast<size_t>(size), '\0');
  if (!in || !in.read(data.data(), static_cast<std::streamsize>(data.size())))
    Damaged(AArchive, std::generic_category().message(EIO));
  return data;
}

}  // namespace

bool HelpArchivePresent(const std::string& AArchive) {
  std::error_code ec;
  return fs::exists(PathOf(AArchive), ec);
}

bool ReadArchiveEntry(const std::string& AArchive, const std::string& AEntry,
                      std::string& AContent) {
  const std::string zip = ReadWholeFile(AArchive);
  try {
    return ExtractZipEntry(zip, AEntry, cMaxHelpEntrySize, AContent);
  } catch (const std::runtime_error& e) {
    Damaged(AArchive, e.what());
  }
}
