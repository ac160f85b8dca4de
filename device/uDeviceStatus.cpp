// Status, information, clock and setting-table commands of TDevice, and the
// reads built on the fiscal storage's information command.
#include <cmath>
#include <stdexcept>

#include "common/uCommonUtils.h"
#include "device/uDevice.h"
#include "device/uDeviceFormat.h"
#include "device/uEquipmentErrors.h"

using namespace DeviceFormat;

namespace {

// A number the register's own field could never hold is no answer of the
// register: cut to the field, 65544 would read as 8, a shift over 24 hours.
int64_t WithinField(int64_t AValue, int64_t AMax) {
  if (AValue < 0 || AValue > AMax) RaiseError(EquMessages::ProtocolError);
  return AValue;
}

}  // namespace

void TDevice::GetECRStatus(uint8_t& AFatalStatus, uint16_t& ACurrentStatus,
                           uint8_t& ADocumentStatus) {
  Run("00");
  AFatalStatus = static_cast<uint8_t>(WithinField(GetDataAsInteger(0), 0xFF));
  ACurrentStatus = static_cast<uint16_t>(WithinField(GetDataAsInteger(1), 0xFFFF));
  ADocumentStatus = static_cast<uint8_t>(WithinField(GetDataAsInteger(2), 0xFF));
}

int TDevice::GetDayState() {
  uint8_t fatal = 0, document = 0;
  uint16_t current = 0;
  GetECRStatus(fatal, current, document);
  if (current & 0x08) return 3;
  if (current & 0x04) return 2;
  return 1;
}

int64_t TDevice::GetPrinterState() {
  Run("04");
  std::string field = FData.empty() ? std::string{} : FData[0];
  int64_t value = 0;
  if (!TryInteger(field, value))
    throw std::runtime_error("'" + FromDeviceText(field) + "' is not a valid integer value");
  return value;
}

int64_t TDevice::GetDrawerState() {
  Run("81");
  return GetDataAsInteger(0);
}

std::vector<std::string> TDevice::GetCounterValue(int ARequestNum) {
  CheckParam(ARequestNum >= 1 && ARequestNum <= 18);
  Run("01", {std::to_string(ARequestNum)});
  return FData;
}

std::vector<std::string> TDevice::GetECRInfo(int ARequestNum) {
  CheckParam(ARequestNum >= 1 && ARequestNum <= 71);
  Run("02", {std::to_string(ARequestNum)});
  return FData;
}

std::vector<std::string> TDevice::GetECRInfo(int ARequestNum, int ANum) {
  CheckParam(ARequestNum >= 1 && ARequestNum <= 71);
  Run("02", {std::to_string(ARequestNum), std::to_string(ANum)});
  return FData;
}

void TDevice::GetLastReceiptInfo(int64_t& ARecType, std::string& AOperCounter, int64_t& ARecNumber,
                                 int64_t& ADocNumber, int64_t& ARecSum, int64_t& ARecDiscount,
                                 int64_t& ARecMargin, std::string& ARecKPK) {
  Run("03", {"2"});
  ARecType = GetDataAsInteger(1);
  AOperCounter = GetDataAsString(2);
  ARecNumber = GetDataAsInteger(3);
  ADocNumber = GetDataAsInteger(4);
  ARecSum = GetDataAsAmount(5);
  ARecDiscount = GetDataAsAmount(6);
  ARecMargin = GetDataAsAmount(7);
  ARecKPK = GetDataAsString(8);
}

std::string TDevice::GetExtErrorDescription() {
  // Only this answer's own field counts: an answer without data must not be
  // read through the fields of an older one.
  FData.clear();
  Run("06", {"1"});
  int64_t code = -1;
  if (FData.size() <= 1 || !TryInteger(FData[1], code)) code = -1;
  if (code < INT32_MIN || code > INT32_MAX) code = -1;
  return ExtendedErrorText(static_cast<int>(code));
}

void TDevice::StartSeans() {
  TDateTime now = Clock().LocalNow();
  Run("10", {DateToDevice(now), TimeToDevice(now)});
}

std::string TDevice::ReadSettingTable(int ANum, int AInd) {
  Run("11", {Byte(ANum), Byte(AInd)});
  return FData.empty() ? std::string{} : FData[0];
}

void TDevice::WriteSettingTable(int ANum, int AInd, std::string_view AValue) {
  Run("12", {Byte(ANum), Byte(AInd), std::string(AValue)});
}

TDateTime TDevice::GetDateTime() {
  Run("13");
  TDateTime date = GetDataAsDate(0);
  TDateTime time = GetDataAsTime(1);
  date.Hour = time.Hour;
  date.Minute = time.Minute;
  date.Second = time.Second;
  date.Millisecond = time.Millisecond;
  return date;
}

void TDevice::SetDateTime(const TDateTime& ADateTime) {
  Run("14", {DateToDevice(ADateTime), TimeToDevice(ADateTime)});
}

std::vector<std::string> TDevice::FNGetInfo(int ARequest, int64_t ADocOffset, int64_t ABlockSize) {
  Run("78", {Byte(ARequest), std::to_string(ADocOffset), std::to_string(ABlockSize)});
  return FData;
}

// ---- Setting tables -----------------------------------------------------------

int64_t TDevice::ReadSettingTableByte(int ANum, int AInd) {
  ReadSettingTable(ANum, AInd);
  return GetDataAsInteger(0);
}

int64_t TDevice::ReadSettingTableWord(int ANum, int AInd) {
  return ReadSettingTableByte(ANum, AInd);
}

double TDevice::ReadSettingTableFloat(int ANum, int AInd) {
  return DeviceToFloat(ReadSettingTable(ANum, AInd));
}

std::string TDevice::ReadSettingTableStr(int ANum, int AInd) {
  return FromDeviceText(ReadSettingTable(ANum, AInd));
}

void TDevice::WriteSettingTableByte(int ANum, int AInd, int64_t AValue) {
  WriteSettingTable(ANum, AInd, std::to_string(AValue & 0xFF));
}

void TDevice::WriteSettingTableWord(int ANum, int AInd, int64_t AValue) {
  WriteSettingTable(ANum, AInd, std::to_string(AValue & 0xFFFF));
}

void TDevice::WriteSettingTableFloat(int ANum, int AInd, double AValue) {
  WriteSettingTable(ANum, AInd, FloatToDevice(AValue));
}

void TDevice::WriteSettingTableStr(int ANum, int AInd, std::string_view AValue) {
  WriteSettingTable(ANum, AInd, ToDeviceText(AValue));
}

// ---- Fiscal storage reads ------------------------------------------------------

uint8_t TDevice::GetFFD() {
  FNGetInfo(14, 0, 0);
  switch (GetDataAsInteger(3)) {
    case 2:
      return 1;
    case 3:
      return 2;
    case 4:
      return 3;
    default:
      return 0;
  }
}

void TDevice::FNGetLastDocInfo(TDateTime& ADate, uint32_t& ANum, uint32_t& AFiscalSigb) {
  FNGetInfo(3, 0, 0);
  int64_t last = GetDataAsInteger(1);
  FNGetInfo(11, last, 0);
  std::string bytes = HexToBytes(FData.size() > 1 ? FData[1] : std::string{});
  if (bytes.size() < 13) RaiseError(EquMessages::InvalidDataLength);
  auto b = [&bytes](size_t i) { return static_cast<uint8_t>(bytes[i]); };
  auto le32 = [&b](size_t i) {
    return static_cast<uint32_t>(b(i)) | static_cast<uint32_t>(b(i + 1)) << 8 |
           static_cast<uint32_t>(b(i + 2)) << 16 | static_cast<uint32_t>(b(i + 3)) << 24;
  };
  TDateTime d;
  d.Year = 2000 + b(0);
  d.Month = b(1);
  d.Day = b(2);
  d.Hour = b(3);
  d.Minute = b(4);
  if (!TDateTime::IsValidDate(d.Year, d.Month, d.Day) ||
      !TDateTime::IsValidTime(d.Hour, d.Minute, 0))
    throw std::runtime_error("Invalid argument to date encode");
  ADate = d;
  ANum = le32(5);
  AFiscalSigb = le32(9);
}
