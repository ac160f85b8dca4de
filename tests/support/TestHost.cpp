#include "support/TestHost.h"

#include <dlfcn.h>
#include <elf.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "common/uCommonUtils.h"

namespace fs = std::filesystem;

std::string DefaultAddInPath() {
  if (const char* dir = std::getenv("QUARNEL_TEST_BINARY_DIR")) {
    const std::string path = std::string(dir) + "/hostbridge/libquarnel.so";
    if (fs::exists(path)) return path;
  }
#ifdef QUARNEL_ADDIN_PATH
  return QUARNEL_ADDIN_PATH;
#else
  throw std::runtime_error("QUARNEL_TEST_BINARY_DIR is not set: cannot find libquarnel.so");
#endif
}

std::vector<std::string> ExportedSymbols(const std::string& LibraryPath) {
  std::ifstream in(LibraryPath, std::ios::binary);
  const std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (image.size() < sizeof(Elf64_Ehdr))
    throw std::runtime_error("not an ELF file: " + LibraryPath);
  Elf64_Ehdr header;
  std::memcpy(&header, image.data(), sizeof header);
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64)
    throw std::runtime_error("not a 64-bit ELF file: " + LibraryPath);
  auto section = [&](size_t index) {
    Elf64_Shdr s;
    const size_t at = header.e_shoff + index * header.e_shentsize;
    if (at + sizeof s > image.size()) throw std::runtime_error("truncated ELF file");
    std::memcpy(&s, image.data() + at, sizeof s);
    return s;
  };
  std::vector<std::string> names;
  for (size_t i = 0; i < header.e_shnum; ++i) {
    const Elf64_Shdr symtab = section(i);
    if (symtab.sh_type != SHT_DYNSYM) continue;
    const Elf64_Shdr strtab = section(symtab.sh_link);
    for (size_t at = symtab.sh_offset + sizeof(Elf64_Sym);
         at + sizeof(Elf64_Sym) <= symtab.sh_offset + symtab.sh_size; at += sizeof(Elf64_Sym)) {
      Elf64_Sym sym;
      std::memcpy(&sym, image.data() + at, sizeof sym);
      const unsigned bind = ELF64_ST_BIND(sym.st_info);
      if (sym.st_shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK)) continue;
      names.emplace_back(image.c_str() + strtab.sh_offset + sym.st_name);
    }
  }
  return names;
}

// ---- temporary data folder ----

TTempDataDir::TTempDataDir() {
  std::string pattern = (fs::temp_directory_path() / "quarnel-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  FPath = pattern;
  if (const char* old = std::getenv("QUARNEL_DATA_DIR")) {
    FHadOldValue = true;
    FOldValue = old;
  }
  setenv("QUARNEL_DATA_DIR", FPath.c_str(), 1);
}

TTempDataDir::~TTempDataDir() {
  if (FHadOldValue)
    setenv("QUARNEL_DATA_DIR", FOldValue.c_str(), 1);
  else
    unsetenv("QUARNEL_DATA_DIR");
  std::error_code ec;
  fs::remove_all(FPath, ec);
}

std::string TTempDataDir::ReadLogs() const {
  std::string all;
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(FPath, ec)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".log") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    all += text.str();
  }
  return all;
}
