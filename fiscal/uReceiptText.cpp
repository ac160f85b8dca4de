#include "fiscal/uReceiptText.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <stdexcept>

#include "common/uClock.h"
#include "common/uCommonUtils.h"
#include "device/uDevice.h"
#include "resources/uResources.h"

namespace {

// Character work is done on CP1251 text (one byte per character): every text
// here ends up in the register's code page anyway.
std::string Ansi(std::string_view AUtf8) {
  return Utf8ToAnsi(AUtf8);
}
std::string Utf8(std::string_view AAnsi) {
  return AnsiToUtf8(AAnsi);
}

// Delphi-style Copy on bytes: 1-based start, clipped to the text.
std::string Copy(std::string_view AText, size_t AStart, size_t ACount) {
  if (AStart == 0 || AStart > AText.size()) return {};
  return std::string(AText.substr(AStart - 1, ACount));
}

bool AllDigits(std::string_view AText) {
  if (AText.empty()) return false;
  for (char c : AText)
    if (c < '0' || c > '9') return false;
  return true;
}

[[noreturn]] void RaiseBadMarkingCode(std::string_view ACode) {
  throw std::runtime_error(ResFormat("InvalidMarkingCode", {ACode}));
}

}  // namespace

std::string ReadBase64Attribute(const pugi::xml_node& ANode, const char* AName) {
  const pugi::xml_attribute attr = ANode.attribute(AName);
  if (!attr) return {};
  return Utf8(Base64Decode(attr.value()));
}

std::string NormalizePhoneList(std::string_view APhones) {
  std::string result, digits;
  auto flush = [&] {
    if (!digits.empty()) {
      if (!result.empty()) result += ',';
      result += '+' + digits;
    }
    digits.clear();
  };
  for (char c : APhones) {
    if (c == ';' || c == ',')
      flush();
    else if (c >= '0' && c <= '9')
      digits += c;
  }
  flush();
  return result;
}

std::string FormatTwoColumnLine(std::string_view ALeft, std::string_view ARight, int AWidth) {
  const size_t width = AWidth > 0 ? static_cast<size_t>(AWidth) : 24;
  const std::string right = Ansi(ARight);
  std::string left = Ansi(ALeft);
  const size_t room = width > right.size() ? width - right.size() : 0;
  if (left.size() > room) left.resize(room);
  const size_t pad = width > left.size() + right.size() ? width - left.size() - right.size() : 0;
  return Utf8(left + std::string(pad, ' ') + right);
}

std::vector<std::string> WrapTextToLines(std::string_view AText, int AWidth) {
  std::string text;
  const std::string ansi = Ansi(AText);
  for (size_t i = 0; i < ansi.size(); ++i) {
    if (ansi[i] == '\r') {
      text += '\n';
      if (i + 1 < ansi.size() && ansi[i + 1] == '\n') ++i;
    } else {
      text += ansi[i];
    }
  }
  std::vector<std::string> lines;
  const size_t width = AWidth > 0 ? static_cast<size_t>(AWidth) : 1;
  std::string line;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\n') {
      lines.push_back(Utf8(Trim(line)));
      line.clear();
      ++i;
      continue;
    }
    if (line.size() < width) {
      line += c;
      ++i;
      continue;
    }
    // The line is full and c would start the next one.
    if (c == ' ') {
      lines.push_back(Utf8(Trim(line)));
      line.clear();
      ++i;
      continue;
    }
    const size_t blank = line.rfind(' ');
    if (blank != std::string::npos) {
      lines.push_back(Utf8(Trim(line.substr(0, blank))));
      line.erase(0, blank + 1);
    } else {
      lines.push_back(Utf8(line));
      line.clear();
    }
  }
  if (!line.empty()) lines.push_back(Utf8(line));
  return lines;
}

std::string BuildLegacyMarkingCode(std::string_view ACode) {
  const std::string code = Ansi(ACode);
  const size_t at = code.find("01");
  if (at == std::string::npos || at > 1) RaiseBadMarkingCode(ACode);
  const std::string gtin = Trim(code.substr(at + 2, 14));
  std::string rest = at + 16 <= code.size() ? code.substr(at + 16) : std::string();
  if (rest.find("21") == std::string::npos) RaiseBadMarkingCode(ACode);
  rest.erase(0, 2);
  size_t end = rest.find('\x1D');
  if (end == std::string::npos) end = rest.find("92");
  if (end == std::string::npos) RaiseBadMarkingCode(ACode);
  const std::string serial = Trim(rest.substr(0, end));
  int64_t number = 0;
  if (!AllDigits(gtin) || !TryStrToInt64(gtin, number)) RaiseBadMarkingCode(ACode);
  std::string bytes;
  for (int shift = 40; shift >= 0; shift -= 8)
    bytes += static_cast<char>((static_cast<uint64_t>(number) >> shift) & 0xFF);
  return Utf8(TDevice::SetMarkingCode("DM" + bytes + serial));
}

std::string CompactDocumentDate(std::string_view ADate) {
  if (ADate.empty()) return {};
  return Copy(ADate, 1, 2) + Copy(ADate, 4, 2) + Copy(ADate, 7, 4);
}

std::string DocumentDateTagValue(std::string_view ACompactDate) {
  std::string value(ACompactDate);
  if (value.size() < 8) value = Copy(value, 1, 4) + "20" + Copy(value, 5, 2);
  std::string result;
  for (char c : value)
    if (c != '.') result += c;
  return result;
}

bool IsoDateToUtcDeviceDate(std::string_view AText, std::string& ADate) {
  const std::string text = Trim(AText);
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, used = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &used) != 3 || used != 10)
    return false;
  size_t pos = 10;
  if (pos < text.size() && (text[pos] == 'T' || text[pos] == 't' || text[pos] == ' ')) {
    int n = 0;
    if (std::sscanf(text.c_str() + pos + 1, "%2d:%2d%n", &h, &mi, &n) != 2 || n != 5) return false;
    pos += 1 + 5;
    if (pos < text.size() && text[pos] == ':') {
      if (std::sscanf(text.c_str() + pos + 1, "%2d%n", &s, &n) != 1 || n != 2) return false;
      pos += 3;
      if (pos < text.size() && (text[pos] == '.' || text[pos] == ','))
        for (++pos; pos < text.size() && text[pos] >= '0' && text[pos] <= '9';) ++pos;
    }
  }
  if (!TDateTime::IsValidDate(y, mo, d) || !TDateTime::IsValidTime(h, mi, s)) return false;
  int64_t seconds = 0;
  const std::string zone = text.substr(pos);
  if (zone.empty()) {
    // No zone: the computer's local time.
    const std::time_t t = TDateTime{y, mo, d, h, mi, s, 0}.ToTimeT();
    if (t == static_cast<std::time_t>(-1)) return false;
    seconds = static_cast<int64_t>(t);
  } else {
    int offset = 0;
    if (zone != "Z" && zone != "z") {
      int zh = 0, zm = 0;
      const char sign = zone[0];
      if (sign != '+' && sign != '-') return false;
      const std::string digits = zone.substr(1);
      if (digits.size() == 5 && digits[2] == ':' && AllDigits(digits.substr(0, 2)) &&
          AllDigits(digits.substr(3))) {
        zh = std::stoi(digits.substr(0, 2));
        zm = std::stoi(digits.substr(3));
      } else if ((digits.size() == 4 || digits.size() == 2) && AllDigits(digits)) {
        zh = std::stoi(digits.substr(0, 2));
        zm = digits.size() == 4 ? std::stoi(digits.substr(2)) : 0;
      } else {
        return false;
      }
      if (zh > 23 || zm > 59) return false;
      offset = (zh * 60 + zm) * 60 * (sign == '-' ? -1 : 1);
    }
    seconds = DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s - offset;
  }
  int64_t days = seconds / 86400;
  if (seconds % 86400 < 0) --days;
  int uy = 0, um = 0, ud = 0;
  CivilFromDays(days, uy, um, ud);
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d%02d%02d", ud, um, uy % 100);
  ADate = buf;
  return true;
}
