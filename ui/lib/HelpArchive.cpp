#include "ui/lib/HelpArchive.h"

#include <zip.h>

#include <memory>
#include <stdexcept>

#include "resources/uResources.h"

namespace {

struct TZipCloser {
  void operator()(zip_t* AZip) const { zip_discard(AZip); }
};
struct TZipFileCloser {
  void operator()(zip_file_t* AFile) const { zip_fclose(AFile); }
};

[[noreturn]] void Damaged(const std::string& AArchive, const std::string& AReason) {
  throw std::runtime_error(ResFormat("HelpArchiveDamaged", {AArchive, AReason}));
}

}  // namespace

bool ReadArchiveEntry(const std::string& AArchive, const std::string& AEntry,
                      std::string& AContent) {
  int error = 0;
  std::unique_ptr<zip_t, TZipCloser> zip(zip_open(AArchive.c_str(), ZIP_RDONLY, &error));
  if (!zip) {
    if (error == ZIP_ER_NOENT)
      throw std::runtime_error(ResFormat("HelpArchiveMissing", {AArchive}));
    zip_error_t reason;
    zip_error_init_with_code(&reason, error);
    const std::string text = zip_error_strerror(&reason);
    zip_error_fini(&reason);
    Damaged(AArchive, text);
  }
  const zip_int64_t index = zip_name_locate(zip.get(), AEntry.c_str(), 0);
  if (index < 0) return false;
  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat_index(zip.get(), static_cast<zip_uint64_t>(index), 0, &stat) != 0 ||
      (stat.valid & ZIP_STAT_SIZE) == 0)
    Damaged(AArchive, zip_strerror(zip.get()));
  if (stat.size > cMaxHelpEntrySize) Damaged(AArchive, AEntry + ": " + std::to_string(stat.size));
  std::unique_ptr<zip_file_t, TZipFileCloser> file(
      zip_fopen_index(zip.get(), static_cast<zip_uint64_t>(index), 0));
  if (!file) Damaged(AArchive, zip_strerror(zip.get()));
  std::string content(static_cast<size_t>(stat.size), '\0');
  size_t done = 0;
  while (done < content.size()) {
    const zip_int64_t n = zip_fread(file.get(), content.data() + done, content.size() - done);
    if (n <= 0) Damaged(AArchive, n < 0 ? zip_file_strerror(file.get()) : AEntry);
    done += static_cast<size_t>(n);
  }
  AContent = std::move(content);
  return true;
}
