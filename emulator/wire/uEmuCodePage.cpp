#include "wire/uEmuCodePage.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace {

// One conversion descriptor per direction and thread: iconv_t keeps shift
// state and is not to be shared between threads.
class TConverter {
 public:
  TConverter(const char* To, const char* From) : FFrom(From) {
    FHandle = iconv_open(To, From);
    if (FHandle == reinterpret_cast<iconv_t>(-1))
      throw std::runtime_error(std::string("iconv cannot convert ") + From + " to " + To);
  }
  ~TConverter() { iconv_close(FHandle); }
  TConverter(const TConverter&) = delete;
  TConverter& operator=(const TConverter&) = delete;

  std::string Convert(std::string_view In) {
    iconv(FHandle, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    char buffer[256];
    char* in = const_cast<char*>(In.data());
    size_t inLeft = In.size();
    while (inLeft > 0) {
      char* to = buffer;
      size_t toLeft = sizeof buffer;
      const size_t rc = iconv(FHandle, &in, &inLeft, &to, &toLeft);
      out.append(buffer, static_cast<size_t>(to - buffer));
      if (rc != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      // EILSEQ (no such character here, or malformed input) or EINVAL (cut
      // short at the end): one "?" for the character, then go on after it.
      out += '?';
      size_t skip = 1;
      const unsigned char lead = static_cast<unsigned char>(*in);
      if (FFrom == std::string_view("UTF-8") && lead >= 0xC0) {
        const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        while (skip < length && skip < inLeft &&
               (static_cast<unsigned char>(in[skip]) & 0xC0) == 0x80)
          ++skip;
      }
      in += skip;
      inLeft -= skip;
      iconv(FHandle, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
  }

 private:
  iconv_t FHandle;
  const char* FFrom;
};

}  // namespace

std::string EmuOemToUtf8(std::string_view Bytes) {
  thread_local TConverter converter("UTF-8", "CP866");
  return converter.Convert(Bytes);
}

std::string EmuUtf8ToOem(std::string_view Text) {
  thread_local TConverter converter("CP866", "UTF-8");
  return converter.Convert(Text);
}

std::string EmuUtf8ToAnsi(std::string_view Text) {
  thread_local TConverter converter("CP1251", "UTF-8");
  return converter.Convert(Text);
}
