#include "fiscal/uInputReading.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "common/uCommonUtils.h"
#include "device/uEquipmentErrors.h"
#include "resources/uResources.h"

namespace {

// Decimal text with "," or "." -> number, whatever the process's locale;
// false when the whole text is not one.
bool TryParseFloat(std::string_view AText, double& AValue) {
  std::string text = Trim(AText);
  if (!text.empty() && text.front() == '+') text.erase(0, 1);
  if (text.empty()) return false;
  for (char& c : text)
    if (c == ',') c = '.';
  double v = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (end != text.data() + text.size()) return false;
  // A value the double range cannot hold is refused with the non-finite ones.
  if (error == std::errc::result_out_of_range)
    v = std::numeric_limits<double>::infinity();
  else if (error != std::errc())
    return false;
  AValue = v;
  return true;
}

[[noreturn]] void RaiseInvalidInput() {
  throw MakeEquException(ecInvalidInput);
}

}  // namespace

std::string ReadTextAttr(const pugi::xml_node& ANode, const char* AName) {
  return ANode.attribute(AName).value();
}

std::string ReadTrimmedAttr(const pugi::xml_node& ANode, const char* AName) {
  return Trim(ANode.attribute(AName).value());
}

int32_t ReadIntAttr(const pugi::xml_node& ANode, const char* AName, int32_t ADefault) {
  int64_t v = 0;
  if (!TryStrToInt64(Trim(ANode.attribute(AName).value()), v)) return ADefault;
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    return ADefault;
  return static_cast<int32_t>(v);
}

double ReadFloatAttr(const pugi::xml_node& ANode, const char* AName, double ADefault) {
  double v = 0;
  if (!TryParseFloat(ANode.attribute(AName).value(), v)) return ADefault;
  if (!std::isfinite(v)) RaiseInvalidInput();
  return v;
}

int64_t ReadMoneyAttr(const pugi::xml_node& ANode, const char* AName, int64_t ADefault) {
  double v = 0;
  if (!TryParseFloat(ANode.attribute(AName).value(), v)) return ADefault;
  // Ties go to the even neighbour, as the host-value amounts do.
  const double scaled = std::nearbyint(v * 10000.0);
  // 2^63 is exactly representable; anything at or beyond it does not fit.
  if (!std::isfinite(scaled) || scaled >= 9223372036854775808.0 || scaled < -9223372036854775808.0)
    RaiseInvalidInput();
  return static_cast<int64_t>(scaled);
}

void RefuseInput(std::string_view ADetail) {
  throw MakeEquException(ecInvalidInput, ADetail);
}

namespace {

// Refuses AValue when it holds a byte below 0x20 that AAllowed does not list.
void RefuseControlBytesBut(std::string_view AValue, std::string_view AField,
                           std::string_view AAllowed) {
  for (const char c : AValue)
    if (static_cast<unsigned char>(c) < 0x20 && AAllowed.find(c) == std::string_view::npos)
      RefuseInput(ResFormat("ControlByteInField", {AField}));
}

}  // namespace

void RefuseControlBytes(std::string_view AValue, std::string_view AField) {
  RefuseControlBytesBut(AValue, AField, {});
}

void RefusePrintedControlBytes(std::string_view AValue, std::string_view AField) {
  RefuseControlBytesBut(AValue, AField, "\t\r\n");
}

std::string ThroughAnsi(std::string_view AText) {
  return AnsiToUtf8(Utf8ToAnsi(AText));
}

std::string CashierText(std::string_view AName, std::string_view AINN) {
  std::string text;
  if (!Trim(AINN).empty()) text.append(AINN).append("&");
  if (!Trim(AName).empty()) text.append(AName);
  return text;
}
