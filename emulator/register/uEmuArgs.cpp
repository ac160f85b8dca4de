#include "emulator/register/uEmuArgs.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "common/uCommonUtils.h"
#include "emulator/wire/uEmuCodePage.h"

void Refuse(uint8_t error, int ext, const std::string& reason) {
  throw EEmuRefusal(error, ext, reason);
}

namespace {

bool TwoDigits(std::string_view text, size_t at, int& value) {
  if (text[at] < '0' || text[at] > '9' || text[at + 1] < '0' || text[at + 1] > '9') return false;
  value = (text[at] - '0') * 10 + (text[at + 1] - '0');
  return true;
}

}  // namespace

int64_t CivilToSeconds(const TDateTime& t) {
  return DaysFromCivil(t.Year, static_cast<unsigned>(t.Month), static_cast<unsigned>(t.Day)) *
             86400 +
         t.Hour * 3600 + t.Minute * 60 + t.Second;
}

TDateTime SecondsToCivil(int64_t seconds) {
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  TDateTime t;
  CivilFromDays(days, t.Year, t.Month, t.Day);
  t.Hour = static_cast<int>(rest / 3600);
  t.Minute = static_cast<int>(rest / 60 % 60);
  t.Second = static_cast<int>(rest % 60);
  return t;
}

std::string DateText(const TDateTime& t) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d%02d%02d", t.Day, t.Month, ((t.Year % 100) + 100) % 100);
  return buf;
}

std::string TimeText(const TDateTime& t) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d%02d%02d", t.Hour, t.Minute, t.Second);
  return buf;
}

std::string DateTimeText(int64_t seconds) {
  const TDateTime t = SecondsToCivil(seconds);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d", t.Day, t.Month, t.Year, t.Hour,
                t.Minute);
  return buf;
}

std::string MoneyText(int64_t kopecks) {
  const bool negative = kopecks < 0;
  const uint64_t abs = negative ? 0 - static_cast<uint64_t>(kopecks) : kopecks;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%llu.%02llu", negative ? "-" : "",
                static_cast<unsigned long long>(abs / 100),
                static_cast<unsigned long long>(abs % 100));
  return buf;
}

bool ParseDecimal(std::string_view text, double& value) {
  if (text.empty() || text.size() > 40) return false;
  // Digits, one sign, one point and an exponent only: no "inf", "nan" or hex.
  for (char c : text)
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == 'e' || c == 'E' || c == '+'))
      return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && std::isfinite(value);
}

bool ParseDate6(std::string_view text, TDateTime& date) {
  int d, m, y;
  if (text.size() != 6 || !TwoDigits(text, 0, d) || !TwoDigits(text, 2, m) ||
      !TwoDigits(text, 4, y))
    return false;
  if (!TDateTime::IsValidDate(2000 + y, m, d)) return false;
  date.Year = 2000 + y;
  date.Month = m;
  date.Day = d;
  return true;
}

bool ParseTime6(std::string_view text, TDateTime& time) {
  int h, n, s;
  if (text.size() != 6 || !TwoDigits(text, 0, h) || !TwoDigits(text, 2, n) ||
      !TwoDigits(text, 4, s))
    return false;
  if (!TDateTime::IsValidTime(h, n, s)) return false;
  time.Hour = h;
  time.Minute = n;
  time.Second = s;
  return true;
}

void TEmuArgs::ExpectCount(std::initializer_list<size_t> allowed) const {
  for (size_t n : allowed) {
    if (n == FArgs.size()) return;
    // A frame cannot tell one empty argument from none: both are nothing
    // between the command and ETX (an empty cashier, an empty line).
    if (n == 1 && FArgs.empty()) return;
  }
  Refuse(EmuError::BadParameter, EmuExt::None,
         "wrong argument count " + std::to_string(FArgs.size()));
}

const std::string& TEmuArgs::Raw(size_t i) const {
  static const std::string empty;
  return i < FArgs.size() ? FArgs[i] : empty;
}

int64_t TEmuArgs::Int(size_t i, int64_t lo, int64_t hi, int ext) const {
  int64_t value = 0;
  if (!TryStrToInt64(Raw(i), value) || value < lo || value > hi)
    Refuse(EmuError::BadParameter, ext, "argument " + std::to_string(i + 1) + " out of range");
  return value;
}

int64_t TEmuArgs::IntOr(size_t i, int64_t def, int64_t lo, int64_t hi, int ext) const {
  if (Raw(i).empty()) return def;
  return Int(i, lo, hi, ext);
}

int64_t TEmuArgs::Money(size_t i, int ext) const {
  double value = 0;
  if (!ParseDecimal(Raw(i), value) || value < 0 || value > 100000000.0)
    Refuse(EmuError::BadParameter, ext, "argument " + std::to_string(i + 1) + " is not an amount");
  return std::llround(value * 100.0);
}

int64_t TEmuArgs::Quantity(size_t i, int ext) const {
  double value = 0;
  if (!ParseDecimal(Raw(i), value) || value <= 0 || value > 99999.999999)
    Refuse(EmuError::BadParameter, ext, "argument " + std::to_string(i + 1) + " is not a quantity");
  const int64_t micro = std::llround(value * 1e6);
  if (micro <= 0) Refuse(EmuError::BadParameter, ext, "quantity rounds to zero");
  return micro;
}

std::string TEmuArgs::Text(size_t i, size_t maxLen, int ext) const {
  if (Raw(i).size() > maxLen)
    Refuse(EmuError::BadParameter, ext, "argument " + std::to_string(i + 1) + " too long");
  return EmuOemToUtf8(Raw(i));
}

TDateTime TEmuArgs::DateTimeAt(size_t i, int ext) const {
  TDateTime t;
  if (!ParseDate6(Raw(i), t) || !ParseTime6(Raw(i + 1), t))
    Refuse(EmuError::BadParameter, ext, "bad date or time");
  return t;
}

TDateTime TEmuArgs::DateAt(size_t i, int ext) const {
  TDateTime t;
  if (!ParseDate6(Raw(i), t)) Refuse(EmuError::BadParameter, ext, "bad date");
  return t;
}

std::string UnescapeMarkingCode(std::string_view escaped) {
  const auto hex = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
  };
  std::string raw;
  for (size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] == '$' && i + 2 < escaped.size() && hex(escaped[i + 1]) >= 0 &&
        hex(escaped[i + 2]) >= 0) {
      const int byte = hex(escaped[i + 1]) * 16 + hex(escaped[i + 2]);
      if (byte < 0x20) {
        raw.push_back(static_cast<char>(byte));
        i += 2;
        continue;
      }
    }
    raw.push_back(escaped[i]);
  }
  return raw;
}
