// quarnel.zip as the platform installs it: a manifest it accepts and a library
// that is the release build stripped, exporting the four entry points.
#include <gtest/gtest.h>

#include <elf.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <set>
#include <sstream>

#include <pugixml.hpp>

#include "support/TestHost.h"

namespace fs = std::filesystem;

namespace {

// What `unzip` prints for a command, read to the end.
std::string Unzip(const std::string& Arguments) {
  const std::string command = "unzip " + Arguments + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  std::string out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
  ::pclose(pipe);
  return out;
}

std::set<std::string> SectionNames(const std::string& Image) {
  std::set<std::string> names;
  Elf64_Ehdr h;
  if (Image.size() < sizeof h) return names;
  std::memcpy(&h, Image.data(), sizeof h);
  auto section = [&](size_t i) {
    Elf64_Shdr s{};
    std::memcpy(&s, Image.data() + h.e_shoff + i * h.e_shentsize, sizeof s);
    return s;
  };
  const Elf64_Shdr strings = section(h.e_shstrndx);
  for (size_t i = 0; i < h.e_shnum; ++i)
    names.insert(Image.c_str() + strings.sh_offset + section(i).sh_name);
  return names;
}

}  // namespace

TEST(Package, HoldsAManifestThePlatformAcceptsAndTheStrippedLibrary) {
  const std::string zip = QUARNEL_PACKAGE;
  ASSERT_TRUE(fs::exists(zip)) << zip;
  const std::string listing = Unzip("-Z1 " + zip);
  EXPECT_NE(listing.find("MANIFEST.XML\n"), std::string::npos) << listing;
  EXPECT_NE(listing.find("libquarnel.so\n"), std::string::npos) << listing;

  pugi::xml_document manifest;
  const std::string text = Unzip("-p " + zip + " MANIFEST.XML");
  ASSERT_TRUE(manifest.load_string(text.c_str())) << text;
  const pugi::xml_node bundle = manifest.child("bundle");
  EXPECT_STREQ(bundle.attribute("xmlns").value(), "http://v8.1c.ru/8.2/addin/bundle");
  const pugi::xml_node component = bundle.child("component");
  EXPECT_STREQ(component.attribute("os").value(), "Linux");
  EXPECT_STREQ(component.attribute("arch").value(), "x86_64");
  EXPECT_STREQ(component.attribute("type").value(), "native");
  EXPECT_STREQ(component.attribute("path").value(), "libquarnel.so");
  // After `make windows` the two Windows DLLs follow, each in the package.
  std::set<std::string> windowsArches;
  for (pugi::xml_node other = component.next_sibling("component"); other;
       other = other.next_sibling("component")) {
    const std::string arch = other.attribute("arch").value();
    EXPECT_STREQ(other.attribute("os").value(), "Windows") << "one library per system and arch";
    EXPECT_TRUE(arch == "i386" || arch == "x86_64") << arch;
    EXPECT_TRUE(windowsArches.insert(arch).second) << "two components for Windows " << arch;
    EXPECT_STREQ(other.attribute("type").value(), "native");
    EXPECT_NE(listing.find(other.attribute("path").value() + std::string("\n")), std::string::npos)
        << other.attribute("path").value() << " is not in the package";
  }

  const fs::path dir = fs::temp_directory_path() / ("quarnel-package-" + std::to_string(getpid()));
  fs::create_directories(dir);
  Unzip("-o -q " + zip + " libquarnel.so -d " + dir.string());
  const std::string library = (dir / "libquarnel.so").string();
  std::ifstream in(library, std::ios::binary);
  std::ostringstream image;
  image << in.rdbuf();
  const std::set<std::string> sections = SectionNames(image.str());
  EXPECT_TRUE(sections.count(".dynsym")) << "the platform finds the exports through it";
  EXPECT_FALSE(sections.count(".symtab")) << "stripped: no symbol table";
  EXPECT_FALSE(sections.count(".debug_info")) << "stripped: no debug information";
  EXPECT_LT(fs::file_size(library), fs::file_size(DefaultAddInPath()));
  std::vector<std::string> exports = ExportedSymbols(library);
  std::sort(exports.begin(), exports.end());
  EXPECT_EQ(exports, (std::vector<std::string>{"DestroyObject", "GetAttachType", "GetClassNames",
                                               "GetClassObject"}));
  {
    // The packed library is the one the platform loads: it makes a driver.
    TTestHost host(library);
    EXPECT_EQ(host.Call("GetInterfaceRevision", {}).Int(), 4004);
  }
  fs::remove_all(dir);
}
