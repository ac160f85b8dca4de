// The clock, the cash drawer and stored document information.
#include <cctype>
#include <string_view>

#include "device/uEquipmentErrors.h"
#include "fiscal/uCheckPackage.h"
#include "fiscal/uDriver.h"
#include "resources/uResources.h"

namespace {

// Reads exactly ACount digits at APos.
bool Digits(std::string_view AText, size_t& APos, size_t ACount, int& AValue) {
  if (AText.size() - APos < ACount) return false;
  AValue = 0;
  for (size_t i = 0; i < ACount; ++i) {
    const char c = AText[APos + i];
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    AValue = AValue * 10 + (c - '0');
  }
  APos += ACount;
  return true;
}

bool Skip(std::string_view AText, size_t& APos, char AChar) {
  if (APos < AText.size() && AText[APos] == AChar) {
    ++APos;
    return true;
  }
  return false;
}

// An ISO 8601 date with an optional time: "yyyy-mm-dd" or "yyyymmdd", then
// "T" and "hh[:nn[:ss[.fff]]]" (or without colons), then "Z" or an offset
// "+hh[:nn]" / "-hh[:nn]". 24:00 is midnight of the next day; second 60 and a
// fraction that rounds to a whole second carry over. With an offset the
// moment is moved back by it; without one it is taken as it stands.
bool TryParseIso8601(std::string_view AText, TDateTime& AResult) {
  size_t pos = 0;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  if (!Digits(AText, pos, 4, year)) return false;
  const bool extended = Skip(AText, pos, '-');
  if (!Digits(AText, pos, 2, month) || (extended && !Skip(AText, pos, '-')) ||
      !Digits(AText, pos, 2, day) || !TDateTime::IsValidDate(year, month, day))
    return false;
  int64_t offset = 0;
  if (Skip(AText, pos, 'T')) {
    if (!Digits(AText, pos, 2, hour)) return false;
    // Either every part is separated by ":" or none is.
    const bool colons = pos < AText.size() && AText[pos] == ':';
    const auto next = [&] {
      return colons ? Skip(AText, pos, ':')
                    : pos < AText.size() && std::isdigit(static_cast<unsigned char>(AText[pos]));
    };
    if (next()) {
      if (!Digits(AText, pos, 2, minute)) return false;
      if (next()) {
        if (!Digits(AText, pos, 2, second)) return false;
        if (Skip(AText, pos, '.') || Skip(AText, pos, ',')) {
          // Milliseconds, rounded from the digits given.
          int digits = 0, scaled = 0;
          while (pos < AText.size() && std::isdigit(static_cast<unsigned char>(AText[pos]))) {
            if (digits < 4) scaled = scaled * 10 + (AText[pos] - '0');
            ++digits;
            ++pos;
          }
          if (digits == 0) return false;
          for (int d = digits; d < 4; ++d) scaled *= 10;
          millisecond = (scaled + 5) / 10;
        }
      }
    }
    if (hour > 24 || minute > 59 || second > 60) return false;
    if (hour == 24 && (minute != 0 || second != 0 || millisecond != 0)) return false;
    if (!Skip(AText, pos, 'Z') && pos < AText.size()) {
      const char sign = AText[pos];
      if (sign != '+' && sign != '-') return false;
      ++pos;
      int offsetHours = 0, offsetMinutes = 0;
      if (!Digits(AText, pos, 2, offsetHours)) return false;
      const bool offsetColon = Skip(AText, pos, ':');
      if ((offsetColon || pos < AText.size()) && !Digits(AText, pos, 2, offsetMinutes))
        return false;
      if (offsetHours > 23 || offsetMinutes > 59) return false;
      offset = (sign == '+' ? 1 : -1) * (offsetHours * 3600 + offsetMinutes * 60);
    }
  }
  if (pos != AText.size()) return false;
  // Carries and the offset in calendar arithmetic, free of the time zone.
  int64_t seconds =
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
      hour * 3600 + minute * 60 + second + millisecond / 1000 - offset;
  TDateTime t;
  CivilFromDays(seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400, t.Year, t.Month, t.Day);
  seconds = ((seconds % 86400) + 86400) % 86400;
  t.Hour = static_cast<int>(seconds / 3600);
  t.Minute = static_cast<int>(seconds % 3600 / 60);
  t.Second = static_cast<int>(seconds % 60);
  t.Millisecond = millisecond % 1000;
  AResult = t;
  return true;
}

}  // namespace

void TDriver::OpenCashDrawer() {
  Device().OpenDrawer();
}

void TDriver::SetDateTime(const std::string& ADateTime) {
  TDateTime value;
  // The register keeps a two-digit year: only this century can be set.
  if (!TryParseIso8601(ADateTime, value) || value.Year < 2000 || value.Year > 2099)
    throw MakeEquException(ecInvalidInput, ResString("DateTimeFormatInvalid"));
  Device().SetDateTime(value);
}

void TDriver::GetDateTime(std::string& ADateTime) {
  ADateTime = Device().GetDateTime().ToXml();
}

void TDriver::GetDocumentInformation(int32_t ADocNumber, pugi::xml_document& AOutputParameters) {
  ReadCheckPackage(Device(), ADocNumber, AOutputParameters);
}
