// TDevice core: frames, the command over the link, answer checking, the
// answer readers and the text and value conversions shared by the links and
// the command catalogue.
#include "device/uDevice.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "common/uCommonUtils.h"
#include "device/uDeviceExchange.h"
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

// The three two-digit numbers a "ddmmyy" or "hhnnss" text starts with;
// false for a text of 5 characters or fewer.
bool ThreeTwoDigitNumbers(std::string_view AText, int& AFirst, int& ASecond, int& AThird) {
  if (AText.size() <= 5) return false;
  AFirst = TwoDigits(AText, 0);
  ASecond = TwoDigits(AText, 2);
  AThird = TwoDigits(AText, 4);
  return true;
}

// A byte below 0x20 inside a request frame acts on the frame itself: FS
// splits the fields, ETX ends the frame and what follows reads as a frame of
// its own. Texts reach here cleaned and codes escaped; whatever still carries
// such a byte is refused, never sent.
void RefuseFrameControlBytes(std::string_view ACmd, std::string_view APassword,
                             const TDeviceArgs& AData) {
  using FrameCodec::HasControlByte;
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

// Where a device without a link sends its commands: nowhere.
class TNoLink : public TRegisterLink {
 public:
  TNoLink() : TRegisterLink("TDevice", {}) {}
  TLinkWaits Waits(int) const override { return {}; }
  TLinkStatus BeforeCommand() override { return TLinkStatus::Done(); }
  TLinkStatus Send(std::string_view) override { return NotOpen(); }
  TLinkStatus ReadNow(size_t) override { return NotOpen(); }
  TLinkStatus WaitInput(std::chrono::steady_clock::time_point) override { return NotOpen(); }
  void OutOfStep() override {}

 protected:
  std::string FailureText(const TLinkStatus&) const override {
    return std::string(EquMessages::PortNotOpen);
  }

 private:
  static TLinkStatus NotOpen() { return TLinkStatus::Failed(TLinkFault::lfNotOpen); }
};

TNoLink gNoLink;

const TConnectionSettings& DefaultSettings() {
  static const TConnectionSettings settings;
  return settings;
}

}  // namespace

TDevice::TDevice() : FSettings(&DefaultSettings()), FLink(&gNoLink) {}

TDevice::TDevice(TRegisterLink& ALink) : FSettings(&DefaultSettings()), FLink(&ALink) {}

TDevice::~TDevice() {
  TDevice::Disable();
}

void TDevice::Enable() {}

void TDevice::Disable() {}

void TDevice::Run(std::string_view ACmd, const TDeviceArgs& AData, int ATimeout) {
  RunCommand(ACmd, AData, ATimeout);
}

void TDevice::RaiseLinkFailure(const TLinkStatus& AStatus) const {
  RaiseError(FLink->Message(AStatus));
}

void TDevice::RunCommand(std::string_view ACmd, const TDeviceArgs& AData, int ATimeout) {
  FCommand = std::string(ACmd.substr(0, 2));
  // A frame that cannot be built (a bad password, a control byte in an
  // argument) fails before the link is touched.
  const std::string frame = BuildPacket(ACmd, AData);
  TDeviceExchange exchange(*FLink);
  const TLinkStatus status = exchange.Transact(frame, FPacketID, FCommand, ATimeout);
  if (!status.Ok()) RaiseLinkFailure(status);
  TakeAnswer(exchange.Answer());
}

void TDevice::CheckConnection() {
  const TLinkStatus status = TDeviceExchange(*FLink).Probe();
  if (!status.Ok()) RaiseLinkFailure(status);
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
  return FrameCodec::Checksum(ABytes);
}

std::string TDevice::BuildPacket(std::string_view ACmd, const TDeviceArgs& AData) {
  std::string pwd = PasswordBytes();
  if (pwd.size() != 4) RaiseError(EquMessages::InvalidPassword);
  RefuseFrameControlBytes(ACmd, pwd, AData);
  return FrameCodec::Request(pwd, NextPacketID(), ACmd, AData);
}

std::vector<std::string> TDevice::SplitFields(std::string_view ABytes, char ASeparator) {
  return FrameCodec::SplitFields(ABytes, ASeparator);
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

void TDevice::CheckAnswer(std::string_view ABody, std::string_view AChecksum) {
  switch (FrameCodec::CheckAnswer(ABody, AChecksum, FPacketID, FCommand)) {
    case FrameCodec::TAnswerCheck::acBadChecksum:
      RaiseError(EquMessages::ChecksumError);
    case FrameCodec::TAnswerCheck::acMalformed:
      RaiseError(EquMessages::ProtocolError);
    case FrameCodec::TAnswerCheck::acGood:
      break;
  }
  TakeAnswer(ABody);
}

void TDevice::TakeAnswer(std::string_view ABody) {
  // Every answer replaces the fields, one without data too: a reader must
  // never return what an earlier command answered.
  FData.clear();
  CheckAnswerError(FrameCodec::ErrorField(ABody));
  FData = SplitFields(FrameCodec::DataPart(ABody));
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
  int day, month, year;
  if (!ThreeTwoDigitNumbers(AText, day, month, year) ||
      !TDateTime::IsValidDate(2000 + year, month, day))
    return {};
  return {2000 + year, month, day};
}

TDateTime TDevice::DeviceToTime(std::string_view AText) {
  int hour, minute, second;
  if (!ThreeTwoDigitNumbers(AText, hour, minute, second) ||
      !TDateTime::IsValidTime(hour, minute, second))
    return {};
  return {0, 0, 0, hour, minute, second};
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
