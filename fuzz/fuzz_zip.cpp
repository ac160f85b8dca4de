// A site's md.zip is input like any other: a damaged or hostile archive
// (sizes that lie, offsets past the end, a huge uncompressed size, zip64
// markers, entries that overlap) must end in the entry, in "no such entry",
// or in an error that says what is wrong, never in a read out of bounds or
// an allocation past the entry limit.
//
// Input: the archive's bytes. Both entries the help window asks for are
// looked up, under a small limit so that a size just above it is tried too.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "ui/lib/ZipReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kLimit = 64 * 1024;
  const std::string_view zip(reinterpret_cast<const char*>(data), size);
  for (const char* entry : {"help.md", "help.css"}) {
    std::string content = "untouched";
    try {
      if (ExtractZipEntry(zip, entry, kLimit, content)) {
        if (content.size() > kLimit) __builtin_trap();  // past the limit
      } else if (content != "untouched") {
        __builtin_trap();  // no entry, yet the output changed
      }
    } catch (const std::runtime_error& e) {
      if (std::string(e.what()).empty()) __builtin_trap();  // every failure says what it is
      if (content != "untouched") __builtin_trap();         // a failure leaves the output alone
    }
  }
  return 0;
}
