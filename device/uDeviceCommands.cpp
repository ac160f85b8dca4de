// Document, printing, shift, report and device commands of TDevice.
#include "device/uDevice.h"
#include "device/uDeviceFormat.h"

using namespace DeviceFormat;

// ---- Documents and printing -----------------------------------------------------

void TDevice::OpenDocument(int ADocType, int ADepNum, std::string_view ACashier, int ADocNum,
                           int ATaxVariant) {
  CheckParam(ADocType >= 0 && ADocType <= 7 && (ADepNum & 0xFF) <= 99);
  Run("30", {Int(ADocType), Int(ADepNum), D(ACashier, 64), Int(ADocNum), Int(ATaxVariant)});
}

void TDevice::CloseDocument(int CutCode, std::string_view ACustomerAddr) {
  Run("31", {Int(CutCode), D(ACustomerAddr, 0)});
}

void TDevice::CancelDocument() {
  Run("32");
}

void TDevice::Cut() {
  Run("34");
}

void TDevice::PrintString(std::string_view S) {
  Run("40", {D(S, LineLength() > 0 ? static_cast<size_t>(LineLength()) : 0)});
}

void TDevice::PrintString(std::string_view S, int AFont, bool ADoubleHeight, bool ADoubleWidth) {
  // The text is split at the cut markers first, so that the text around a
  // marker is printed and a marker that spans two lines still cuts; each
  // part is then cut into lines. Markers are looked for before the code page:
  // there a character it lacks becomes "?", and such a marker would cut at
  // every question mark. Pieces are cut in CP1251, where every character is
  // one byte. A line length of 0 would give empty pieces forever: a part then
  // goes whole.
  const std::string attr = Attr(AFont, ADoubleHeight, ADoubleWidth);
  const auto printLines = [&](std::string_view APart) {
    const std::string text = Utf8ToAnsi(APart);
    const size_t width = LineLength() > 0 ? static_cast<size_t>(LineLength()) : text.size();
    for (size_t pos = 0; pos < text.size(); pos += width)
      Run("40", {D(AnsiToUtf8(text.substr(pos, width)), 72), attr});
  };
  std::string_view rest = S;
  for (size_t at;
       !CutString().empty() && (at = rest.find(CutString())) != std::string_view::npos;) {
    printLines(rest.substr(0, at));
    Cut();
    rest.remove_prefix(at + CutString().size());
  }
  printLines(rest);
}

void TDevice::PrintBarcode(int AOptions, int AWidth, int AHeight, int AType,
                           std::string_view AData) {
  Run("41", {Byte(AOptions), Int(AWidth), Byte(AHeight), Int(AType), D(AData, 0)});
}

void TDevice::SubTotal() {
  Run("44");
}

void TDevice::Discount(std::string_view DiscName, int64_t Amount) {
  Run("45", {"1", D(DiscName, 38), Amt(Amount)});
}

void TDevice::Margin(std::string_view MarginName, int64_t Amount) {
  Run("46", {"1", D(MarginName, 38), Amt(Amount)});
}

void TDevice::Payment(int APaymentCode, int64_t AAmount, std::string_view AComment) {
  CheckParam(APaymentCode >= 0 && APaymentCode <= 15);
  Run("47", {Int(APaymentCode), Amt(AAmount), D(AComment, 40)});
}

void TDevice::Encash(std::string_view AComment, int64_t AAmount) {
  Run("48", {D(AComment, 41), Amt(AAmount)});
}

void TDevice::PrintProps(std::string_view S, int AFont, bool ADoubleHeight, bool ADoubleWidth) {
  Run("49", {"0", Attr(AFont, ADoubleHeight, ADoubleWidth), D(S, 72), "", "", ""});
}

void TDevice::OpenReceiptCopy(int ADocType, int ADepNum, std::string_view ACashier, int ARecNum,
                              int ACRNum, const TDateTime& ADateTime) {
  CheckParam((ADocType == 2 || ADocType == 3) && ADepNum >= 1 && ADepNum <= 99 && ACRNum >= 1 &&
             ACRNum <= 9999);
  Run("53", {Int(ADocType), Int(ADepNum), D(ACashier, 64), Int(ARecNum), Int(ACRNum),
             DateToDevice(ADateTime), TimeToDevice(ADateTime)});
}

void TDevice::PrintOFDProps(int ACode, std::string_view AName, std::string_view AValue, int AFont,
                            bool ASixthBit, bool ADoubleHeight, bool ADoubleWidth) {
  Run("57", {Int(ACode), Attr(AFont, ADoubleHeight, ADoubleWidth, ASixthBit), D(AName, 72),
             D(AValue, 256)});
}

// ---- Shift, reports and fiscal storage ---------------------------------------------

void TDevice::XReport() {
  Run("20", {}, cLongCommandTimeout);
}

void TDevice::ZReport(std::string_view ACashier) {
  Run("21", {D(ACashier, 64)}, cLongCommandTimeout);
}

void TDevice::OpenDay(std::string_view ACashier) {
  Run("23", {D(ACashier, 64)});
}

void TDevice::SettlementsCurrStatusReport(std::string_view ACashier) {
  Run("59", {D(ACashier, 64)}, cLongCommandTimeout);
}

void TDevice::TechnologicalReset() {
  TDateTime now = Clock().LocalNow();
  Run("63", {DateToDevice(now), TimeToDevice(now)});
}

void TDevice::FNClose(std::string_view ACashier) {
  Run("71", {D(ACashier, 64)});
}

void TDevice::FNDocumentCopy(int ADocNum) {
  Run("73", {Int(ADocNum)}, cLongCommandTimeout);
}

void TDevice::FNRegistrationReport() {
  Run("76", {}, cLongCommandTimeout);
}

void TDevice::PrintServiceData() {
  Run("94", {}, cLongCommandTimeout);
}

// ---- Devices ------------------------------------------------------------------------

void TDevice::OpenDrawer() {
  Run("80");
}

void TDevice::Beep(int ADuration) {
  CheckParam(ADuration >= 10 && ADuration <= 2000);
  Run("82", {Int(ADuration)});
}

// The register feeds paper by itself; there is no command for it.
void TDevice::Feed() {}
