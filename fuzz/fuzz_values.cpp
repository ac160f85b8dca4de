// Host values as a host may hand them over: any type word (flags included),
// any scalar bits, any broken date record, texts with lone surrogates and
// zeros inside. Every reader, the text form the call trace logs and the
// property conversions must answer a value or raise, never crash; and a text
// without lone surrogates must come back unchanged through UTF-8.
//
// Input: the type word (2 bytes), 56 bytes of the value record, then the text
// or blob the record points at (the host's own block: its length fields are
// kept within it).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "common/uCommonUtils.h"
#include "driver/uCustomDriver.h"
#include "host/uAddInHost.h"
#include "hostbridge/uV8Dispatch.h"
#include "hostbridge/uV8UserObject.h"
#include "hostbridge/uV8Values.h"

namespace {

constexpr size_t kHead = 2 + 56;

bool HasLoneSurrogate(const std::u16string& AText) {
  for (size_t i = 0; i < AText.size(); ++i) {
    const char16_t c = AText[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < AText.size() && AText[i + 1] >= 0xDC00 &&
        AText[i + 1] <= 0xDFFF) {
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      return true;
    }
  }
  return false;
}

template <class F>
void Guard(F&& AStep) {
  try {
    AStep();
  } catch (const std::exception& e) {
    if (std::string(e.what()).empty()) __builtin_trap();  // a failure says what it is
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHead) return 0;
  V8Variant v{};
  std::memcpy(&v, data + 2, 56);
  std::memcpy(&v.vt, data, 2);
  // The block the record points at, copied so that nothing past it is ours.
  std::string block(reinterpret_cast<const char*>(data) + kHead, size - kHead);
  std::u16string wide(block.size() / 2, u'\0');
  std::memcpy(wide.data(), block.data(), wide.size() * 2);
  switch (V8TypeCode(&v)) {
    case VTYPE_PWSTR:
      v.pwstrVal = wide.data();
      v.wstrLen = std::min<uint32_t>(v.wstrLen, static_cast<uint32_t>(wide.size()));
      break;
    case VTYPE_PSTR:
    case VTYPE_BLOB:
    case VTYPE_STR_BLOB:
      v.pstrVal = block.data();
      v.strLen = std::min<uint32_t>(v.strLen, static_cast<uint32_t>(block.size()));
      break;
    case VTYPE_VARIANT:
    case VTYPE_INTERFACE:
      // A pointer the host owns; only its bits are ever read.
      break;
    default:
      break;
  }

  const std::u16string text = V8ToWideString(&v);
  const std::string utf8 = V8ToUtf8(&v);
  if (!HasLoneSurrogate(text) && Utf8ToUtf16(utf8) != text) __builtin_trap();
  (void)V8IsString(&v);
  (void)V8GetInt(&v);
  (void)V8ToInt(&v);
  (void)V8GetDouble(&v);
  (void)V8ToDouble(&v);
  (void)V8ToBool(&v);
  (void)V8TypeName(&v);
  Guard([&] { (void)V8ToDateTime(&v); });
  Guard([&] { V8CheckSupportedType(&v); });
  Guard([&] { (void)V8ToText(&v); });
  Guard([&] { (void)V8ParamsText(&v, 1); });
  Guard([&] {
    const TV8NativeVariant native = V8ToVariant(&v);
    for (TPropKind kind : {TPropKind::Integer, TPropKind::Int64, TPropKind::Float,
                           TPropKind::Boolean, TPropKind::Text, TPropKind::Variant})
      Guard([&] { (void)NativeVariantToText(ConvertVariantToKind(native, kind)); });
  });

  // The text written back through the host's memory reads the same, zeros
  // inside and all, and goes back to the host.
  THostMemoryManager memory;
  TV8UserObject object;
  object.V8MM = &memory;
  V8Variant copy{};
  if (!object.V8SetWString(&copy, text) || V8ToWideString(&copy) != text) __builtin_trap();
  object.V8ClearVar(&copy);
  if (memory.Live() != 0 || memory.BadFrees() != 0) __builtin_trap();
  return 0;
}
