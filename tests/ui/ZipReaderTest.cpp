// ZipReader, which reads a site's help archive: archives the zip tool wrote
// stored and deflated give back the files byte for byte; damaged archives
// raise instead of reading past their end or returning wrong bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/ErrorOf.h"
#include "ui/lib/ZipReader.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

constexpr size_t kLimit = 1 << 20;

const fs::path kHelpSources = fs::path(QUARNEL_SOURCE_DIR) / "resources" / "help";

// The manual and its style sheet packed by the zip tool at ALevel ("-0"
// stored, "-9" deflated), as a site packs its md.zip.
std::string ZipOfTheManual(const char* ALevel) {
  const fs::path dir = fs::temp_directory_path() / ("quarnel-zip-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string command = "cd '" + kHelpSources.string() + "' && zip -q " + ALevel + " '" +
                              (dir / "a.zip").string() + "' help.md help.css";
  fs::remove(dir / "a.zip");
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  const std::string zip = ReadFile(dir / "a.zip");
  fs::remove_all(dir);
  return zip;
}

TEST(ZipReader, ReadsStoredAndDeflatedEntriesByteForByte) {
  const std::string manual = ReadFile(kHelpSources / "help.md");
  const std::string style = ReadFile(kHelpSources / "help.css");
  for (const char* level : {"-0", "-9"}) {
    const std::string zip = ZipOfTheManual(level);
    std::string content;
    ASSERT_TRUE(ExtractZipEntry(zip, "help.md", kLimit, content)) << level;
    EXPECT_EQ(content, manual) << level;
    ASSERT_TRUE(ExtractZipEntry(zip, "help.css", kLimit, content)) << level;
    EXPECT_EQ(content, style) << level;
    EXPECT_FALSE(ExtractZipEntry(zip, "other.md", kLimit, content)) << level;
  }
}

TEST(ZipReader, DamagedArchivesRaise) {
  const std::string zip = ZipOfTheManual("-9");
  std::string content;
  auto error = [&](const std::string& AZip, size_t ALimit = kLimit) {
    return ErrorOf([&] { ExtractZipEntry(AZip, "help.md", ALimit, content); });
  };
  EXPECT_EQ(error(""), "no end of central directory");
  EXPECT_EQ(error(zip.substr(0, zip.size() - 30)), "no end of central directory");
  EXPECT_EQ(error(zip, 100).rfind("help.md: ", 0), 0u) << "larger than the limit";

  // The entry's bytes changed: the stored CRC no longer matches.
  // The first entry is help.md; its data follow the local header, name and extra field.
  ASSERT_EQ(zip.compare(30, 7, "help.md"), 0);
  const size_t data = 30 + 7 + (uint8_t(zip[28]) | uint8_t(zip[29]) << 8);
  std::string flipped = zip;
  flipped[data + 40] ^= 0x55;
  EXPECT_FALSE(error(flipped).empty()) << "a changed byte is caught";

  // Offsets that point past the end of the archive.
  const size_t end = zip.rfind(std::string("PK\x05\x06", 4));
  ASSERT_NE(end, std::string::npos);
  std::string farDirectory = zip;
  farDirectory[end + 19] = '\x7f';
  EXPECT_EQ(error(farDirectory), "central directory");
  std::string farLocal = zip;
  const size_t directory = zip.find(std::string("PK\x01\x02", 4));
  farLocal[directory + 45] = '\x7f';
  EXPECT_EQ(error(farLocal), "help.md: local header");
}

}  // namespace
