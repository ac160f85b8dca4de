// TDevice core: frames, answer checking, the answer readers and the text and
// value conversions shared by the links and the command catalogue.
#include "device/uDevice.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "common/uCommonUtils.h"
#include "device/uDeviceFormat.h"
#include "device/uEquipmentErrors.h"
#include "resources/uResources.h"

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A decimal number of the whole text, or AFallback.
int64_t IntOrDefault(std::string_view AText, int64_t AFallback) {
  int64_t v = 0;
  return DeviceFormat::TryInteger(AText, v) ? v : AFallback;
}

// Two digits of AText from APos as a number; 0 when they are not one.
int TwoDigits(std::string_view AText, size_t APos) {
  return static_cast<int>(IntOrDefault(AText.substr(APos, 2), 0));
}

bool HasControlByte(std::string_view ABytes) {
  return std::any_of(ABytes.begin(), ABytes.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

// A byte below 0x20 inside a request frame acts on the frame itself: FS
// splits the fields, ETX ends the frame and what follows reads as a frame of
// its own. Texts reach here cleaned and codes escaped; whatever still carries
// such a byte is refused, never sent.
void RefuseFrameControlBytes(std::string_view ACmd, std::string_view APassword,
                             const TDeviceArgs& AData) {
  if (HasControlByte(APassword))
    throw MakeEquException(ecInvalidInput, ResString("ControlByteInPassword"));
  for (size_t i = 0; i < AData.size(); ++i) {
    if (!HasControlByte(AData[i])) continue;
    throw MakeEquException(ecInvalidInput, ResFormat("ControlByteInArgument",
                                                     {std::to_string(i + 1), ACmd.substr(0, 2)}));
  }
}

std::string TwoDigitText(int AValue) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", AValue);
  return buf;
}

}  // namespace

namespace {

const TConnectionSettings& DefaultSettings() {
  static const TConnectionSettings settings;
  return settings;
}

}  // namespace

TDevice::TDevice() : FSettings(&DefaultSettings()) {}

TDevice::~TDevice() {
  TDevice::Disable();
}

void TDevice::Enable() {}

void TDevice::Disable() {}

void TDevice::Run(std::string_view ACmd, const TDeviceArgs& AData, int ATimeout) {
  RunCommand(ACmd, AData, ATimeout);
}

// ---- Password and frames ----------------------------------------------------

std::string TDevice::ConnectionPassword() const {
  return AnsiToUtf8(PasswordBytes());
}

std::string TDevice::PasswordBytes() const {
  const std::string bytes = Utf8ToAnsi(FSettings->FConnectionPassword).substr(0, 4);
  return bytes.empty() ? std::string(cDefaultPassword) : bytes;
}

uint8_t TDevice::NextPacketID() {
  FPacketID = static_cast<uint8_t>(FPacketID + 1);
  if (FPacketID == 0xF1) FPacketID = 0x20;
  return FPacketID;
}

std::string TDevice::CalcChecksum(std::string_view ABytes) {
  uint8_t sum = 0;
  for (char c : ABytes) sum ^= static_cast<uint8_t>(c);
  return BytesToHex(std::string(1, static_cast<char>(sum)));
}

std::string TDevice::BuildPacket(std::string_view ACmd, const TDeviceArgs& AData) {
  std::string pwd = PasswordBytes();
  if (pwd.size() != 4) RaiseError(EquMessages::InvalidPassword);
  RefuseFrameControlBytes(ACmd, pwd, AData);
  std::string body = pwd;
  body += static_cast<char>(NextPacketID());
  body += ACmd.substr(0, 2);
  for (size_t i = 0; i < AData.size(); ++i) {
    if (i > 0) body += FS;
    body += AData[i];
  }
  body += ETX;
  return std::string(1, STX) + body + CalcChecksum(body);
}

std::vector<std::string> TDevice::SplitFields(std::string_view ABytes, char ASeparator) {
  std::vector<std::string> fields;
  std::string current;
  for (char c : ABytes) {
    if (c == ASeparator) {
      fields.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) fields.push_back(std::move(current));
  return fields;
}

// ---- Answers -----------------------------------------------------------------

void TDevice::CheckAnswerError(std::string_view AField) {
  int value = cProtocolErrorByte;
  if (AField.size() == 2) {
    int hi = HexDigit(AField[0]), lo = HexDigit(AField[1]);
    if (hi >= 0 && lo >= 0) value = hi * 16 + lo;
  }
  FErrorCode = static_cast<uint8_t>(value);
  if (value == 0) return;

  std::string message = RegisterErrorText(FErrorCode);
  if (value == 1) {
    // The register explains error 01 through command 06. An error 01 in the
    // answer to that command itself must not ask again. The failed command's
    // error code stays what the caller reads: the query's own error byte
    // would report success.
    std::string description;
    if (!FFetchingExtError) {
      FFetchingExtError = true;
      try {
        description = GetExtErrorDescription();
      } catch (...) {
        description.clear();
      }
      FErrorCode = 1;
      FFetchingExtError = false;
    }
    message += ". " + description;
  }
  RaiseError(message);
}

void TDevice::CheckAnswerFrame(std::string_view ABody, std::string_view AChecksum) const {
  if (CalcChecksum(ABody) != AChecksum) RaiseError(EquMessages::ChecksumError);
  if (ABody.size() < 5) RaiseError(EquMessages::ProtocolError);
  if (static_cast<uint8_t>(ABody[0]) != FPacketID) RaiseError(EquMessages::ProtocolError);
  if (ABody.substr(1, 2) != std::string_view(FCommand).substr(0, 2))
    RaiseError(EquMessages::ProtocolError);
}

void TDevice::CheckAnswer(std::string_view ABody, std::string_view AChecksum) {
  CheckAnswerFrame(ABody, AChecksum);
  // Every answer replaces the fields, one without data too: a reader must
  // never return what an earlier command answered.
  FData.clear();
  CheckAnswerError(ABody.substr(3, 2));
  // Identifier, command and error take 5 bytes; ETX closes the answer.
  if (ABody.size() > 6) FData = SplitFields(ABody.substr(5, ABody.size() - 6));
}

// ---- Readers -----------------------------------------------------------------

std::string TDevice::GetDataAsString(size_t AIndex) const {
  return AIndex < FData.size() ? FromDeviceText(FData[AIndex]) : std::string{};
}

int64_t TDevice::GetDataAsInteger(size_t AIndex) const {
  return AIndex < FData.size() ? IntOrDefault(FData[AIndex], 0) : 0;
}

double TDevice::GetDataAsFloat(size_t AIndex) const {
  return AIndex < FData.size() ? DeviceToFloat(FData[AIndex]) : 0.0;
}

int64_t TDevice::GetDataAsAmount(size_t AIndex) const {
  const double scaled = GetDataAsFloat(AIndex) * 10000.0;
  if (!(scaled >= -9223372036854775808.0 && scaled < 9223372036854775808.0))
    RaiseError(EquMessages::ProtocolError);
  return static_cast<int64_t>(std::llround(scaled));
}

TDateTime TDevice::GetDataAsDate(size_t AIndex) const {
  return AIndex < FData.size() ? DeviceToDate(FData[AIndex]) : Clock().LocalNow();
}

TDateTime TDevice::GetDataAsTime(size_t AIndex) const {
  return AIndex < FData.size() ? DeviceToTime(FData[AIndex]) : Clock().LocalNow();
}

// ---- Conversions -------------------------------------------------------------

std::string TDevice::ToDeviceText(std::string_view AText, size_t ALength) {
  // CP1251 holds one byte per character, so the cut is made there.
  std::string ansi = Utf8ToAnsi(AText);
  if (ALength > 0 && ansi.size() > ALength) ansi.resize(ALength);
  std::string oem = AnsiToOem(ansi);
  // The register takes nothing above 0xF0. Two common characters live there:
  // "ё" (0xF1) and "№" (0xFC); spelled "е" and "N" they keep names and
  // document numbers readable instead of leaving a gap.
  constexpr uint8_t cYo = 0xF1, cIe = 0xA5, cNumero = 0xFC;
  for (char& c : oem) {
    const auto b = static_cast<uint8_t>(c);
    if (b == cYo)
      c = static_cast<char>(cIe);
    else if (b == cNumero)
      c = 'N';
    else if (b < 0x20 || b > 0xF0)
      c = ' ';
  }
  return oem;
}

std::string TDevice::FromDeviceText(std::string_view ABytes) {
  return AnsiToUtf8(OemToAnsi(ABytes));
}

std::string TDevice::DateToDevice(const TDateTime& ADate) {
  std::string year = std::to_string(ADate.Year);
  return TwoDigitText(ADate.Day) + TwoDigitText(ADate.Month) +
         (year.size() > 2 ? year.substr(2) : std::string{});
}

std::string TDevice::TimeToDevice(const TDateTime& ATime) {
  return TwoDigitText(ATime.Hour) + TwoDigitText(ATime.Minute) + TwoDigitText(ATime.Second);
}

TDateTime TDevice::DeviceToDate(std::string_view AText) {
  if (AText.size() <= 5) return {};
  int day = TwoDigits(AText, 0), month = TwoDigits(AText, 2);
  int year = 2000 + TwoDigits(AText, 4);
  if (!TDateTime::IsValidDate(year, month, day)) return {};
  TDateTime d;
  d.Year = year;
  d.Month = month;
  d.Day = day;
  return d;
}

TDateTime TDevice::DeviceToTime(std::string_view AText) {
  if (AText.size() <= 5) return {};
  int hour = TwoDigits(AText, 0), minute = TwoDigits(AText, 2), second = TwoDigits(AText, 4);
  if (!TDateTime::IsValidTime(hour, minute, second)) return {};
  TDateTime t;
  t.Hour = hour;
  t.Minute = minute;
  t.Second = second;
  return t;
}

std::string TDevice::FloatToDevice(double AValue) {
  if (!std::isfinite(AValue)) return "0";
  if (AValue == 0) return "0";  // also for -0
  // Fifteen significant digits, as the register's own software writes them,
  // but always in positional form: the register does not read exponents.
  // to_chars writes a point whatever locale the host process runs in.
  char buf[64];
  char* end =
      std::to_chars(buf, buf + sizeof buf - 1, AValue, std::chars_format::scientific, 14).ptr;
  *end = '\0';
  int exponent = std::atoi(std::strchr(buf, 'e') + 1);
  int decimals = std::max(0, 14 - exponent);
  char out[512];
  std::string s(
      out, std::to_chars(out, out + sizeof out, AValue, std::chars_format::fixed, decimals).ptr);
  if (s.find('.') != std::string::npos) {
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

double TDevice::DeviceToFloat(std::string_view AText) {
  std::string t = Trim(AText);
  std::string_view v = t;
  if (!v.empty() && v.front() == '+') v.remove_prefix(1);
  if (v.empty() || v.front() == '+' || (t.size() != v.size() && v.front() == '-')) return 0.0;
  // Digits, one ".", an optional exponent; from_chars alone would also take
  // "inf" and "nan", which are not numbers for the register.
  for (char c : v)
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
      return 0.0;
  double value = 0;
  auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
  if (ec != std::errc() || ptr != v.data() + v.size() || !std::isfinite(value)) return 0.0;
  return value;
}

std::string TDevice::AmountToDevice(int64_t AValue) {
  return FloatToDevice(static_cast<double>(AValue) / 10000.0);
}
