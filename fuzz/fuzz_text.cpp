// Text conversions take host and register bytes as they come.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/uCommonUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string wide = Utf8ToUtf16(bytes);
  (void)Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(bytes.data()), size / 2));
  (void)Utf16ToUtf8(wide);
  (void)OemToUtf8(AnsiToOem(Utf8ToAnsi(bytes)));
  (void)SameText(bytes, UpperCase(bytes));
  try {
    if (Base64Decode(Base64Encode(bytes)) != bytes) __builtin_trap();
    (void)Base64Decode(bytes);
  } catch (const EConvertError&) {
  }
  try {
    (void)HexToBytes(bytes);
  } catch (const EConvertError&) {
  }
  return 0;
}
