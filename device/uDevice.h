// TDevice: the register as the fiscal operations see it. It knows the command
// set, builds request frames, runs each command over its link through the
// exchange (uDeviceExchange.h), turns the answer's error byte into an error,
// keeps the answer fields of the last command and reads them as typed values.
// It never touches the wire: the link does (uRegisterLink.h). The devices
// that own a link of their kind, TCOMDevice (serial port) and TSocketDevice
// (TCP), open and close it; a harness without a wire gives one to the
// constructor.
//
// Text conventions: every text parameter and result of this class is UTF-8.
// Arguments handed to RunCommand and the fields in FData are the register's
// bytes (CP866 text converted by ToDeviceText, numbers as ASCII digits).
// Money values are 64-bit integers of value x 10000 (four implied decimals).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/uClock.h"
#include "device/uConnectionSettings.h"
#include "device/uDeviceAnswers.h"
#include "device/uFrameCodec.h"
#include "device/uRegisterLink.h"
#include "device/uKMResult.h"
#include "device/uTLVStructure.h"

// Ordered arguments of one command, already in the register's bytes.
using TDeviceArgs = std::vector<std::string>;

class TDevice {
 public:
  // Frame bytes shared by both links.
  static constexpr char STX = FrameCodec::STX;
  static constexpr char ETX = FrameCodec::ETX;
  static constexpr char ENQ = FrameCodec::ENQ;
  static constexpr char ACK = FrameCodec::ACK;
  static constexpr char FS = FrameCodec::FS;
  static constexpr std::string_view cDefaultPassword = "KVNT";
  // Time limits (ms) the catalogue passes to RunCommand.
  static constexpr int cCommandTimeout = 15000;
  static constexpr int cLongCommandTimeout = 88000;
  // A code check waits for the marking service behind the register.
  static constexpr int cMarkingCheckTimeout = 30000;

  // Without a link every command fails with "Порт не открыт".
  TDevice();
  // Commands go over ALink, which outlives the device.
  explicit TDevice(TRegisterLink& ALink);
  // Runs TDevice::Disable (nothing). A device that owns a link closes it in
  // its own destructor: the base destructor cannot reach the override.
  virtual ~TDevice();
  TDevice(const TDevice&) = delete;
  TDevice& operator=(const TDevice&) = delete;

  // ---- The link ---------------------------------------------------------
  // One request frame: STX, password, NextPacketID(), the first two
  // characters of ACmd, the arguments joined by FS, ETX, checksum. Raises
  // "Некорректный пароль связи с ФР" (before the identifier advances) when the
  // password is not exactly 4 bytes, and EquException 1004 naming the
  // command and the argument's position (or the password) when a byte below
  // 0x20 would act as a control byte of the frame.
  std::string BuildPacket(std::string_view ACmd, const TDeviceArgs& AData);
  // Open and close the link; nothing in TDevice.
  virtual void Enable();
  virtual void Disable();
  // Sends one command and waits for its answer; afterwards FData holds the
  // answer's fields. The frame is built first (a frame that cannot be built
  // touches no link), then the exchange carries it; any failure raises the
  // link's message, a register error the catalogue's.
  void RunCommand(std::string_view ACmd, const TDeviceArgs& AData, int ATimeout);
  // The link probe: ENQ until ACK, as often and as far apart as the link's
  // policy says. A byte other than ACK at the last try is a protocol error;
  // a failed send or receive raises the link's message.
  void CheckConnection();

  // Advances FPacketID (0x21 ... 0xF0, then 0x20) and returns it.
  uint8_t NextPacketID();
  // Turns the two-character error field of an answer into FErrorCode and,
  // when it is not zero, into a plain error with the catalogue's message.
  // Error 01 fetches the extended description with command 06 first.
  void CheckAnswerError(std::string_view AField);
  // Checks a collected answer as the exchange does: ABody runs from STX's
  // successor (the packet identifier) up to and including ETX, AChecksum is
  // what arrived after it. Checksum, length, packet identifier, command
  // echo, then the error byte; on success the data part becomes FData (an
  // answer without data leaves it empty).
  void CheckAnswer(std::string_view ABody, std::string_view AChecksum);

  // Exclusive-or of the bytes as two upper-case hexadecimal digits.
  static std::string CalcChecksum(std::string_view ABytes);
  // Each separator ends a field (adjacent separators give an empty field); a
  // non-empty remainder is one more field; empty input gives no field.
  static std::vector<std::string> SplitFields(std::string_view ABytes, char ASeparator = FS);

  // ---- Conversions ------------------------------------------------------
  // UTF-8 text -> register bytes: the first ALength characters (0: all), in
  // CP866, "ё" written as "е" and "№" as "N", then every other byte below
  // 0x20 or above 0xF0 replaced by a space.
  static std::string ToDeviceText(std::string_view AText, size_t ALength = 0);
  // Register bytes (CP866) -> UTF-8 text.
  static std::string FromDeviceText(std::string_view ABytes);
  // "ddmmyy" and "hhnnss".
  static std::string DateToDevice(const TDateTime& ADate);
  static std::string TimeToDevice(const TDateTime& ATime);
  // "ddmmyy" -> date (time fields zero); an impossible date or a text of 5
  // characters or fewer gives the empty TDateTime.
  static TDateTime DeviceToDate(std::string_view AText);
  // "hhnnss" -> time (date fields zero); an impossible time or a text of 5
  // characters or fewer gives the empty TDateTime.
  static TDateTime DeviceToTime(std::string_view AText);
  // Shortest decimal form (at most 15 significant digits) with "." and never
  // an exponent: 12.5 -> "12.5", 3 -> "3".
  static std::string FloatToDevice(double AValue);
  // Decimal text with "." -> number; 0 when it is not a number.
  static double DeviceToFloat(std::string_view AText);
  // A money or quantity value of four implied decimals, as FloatToDevice.
  static std::string AmountToDevice(int64_t AValue);

  // ---- Answer fields of the last command ---------------------------------
  // Beyond the last field: "" / 0 / 0 / now / now.
  std::string GetDataAsString(size_t AIndex) const;
  int64_t GetDataAsInteger(size_t AIndex) const;
  double GetDataAsFloat(size_t AIndex) const;
  // GetDataAsFloat as money of four implied decimals; a sum beyond the
  // 64-bit money range raises "Ошибка протокола обмена" instead of wrapping.
  int64_t GetDataAsAmount(size_t AIndex) const;
  TDateTime GetDataAsDate(size_t AIndex) const;
  TDateTime GetDataAsTime(size_t AIndex) const;
  // The field's bytes taken as CP1251 text: the register answers serial and
  // registration numbers in that code page.
  std::string GetDataAsAnsi(size_t AIndex) const;
  const std::vector<std::string>& Data() const { return FData; }

  // ---- Settings ---------------------------------------------------------
  // The connection's settings this object reads from now on; they must
  // outlive it. Until then it reads the defaults: password "KVNT", font 0,
  // 40 characters a line, no cut marker, format 1.0.
  void UseSettings(const TConnectionSettings& ASettings) { FSettings = &ASettings; }
  int LineLength() const { return FSettings->FLineLen; }
  // "KVNT" while none is set; else the first 4 bytes of the setting in
  // CP1251 (a shorter text fails at the next frame).
  std::string ConnectionPassword() const;
  uint8_t ErrorCode() const { return FErrorCode; }
  uint8_t FontNumber() const { return static_cast<uint8_t>(FSettings->FFontNumber); }
  // UTF-8; an empty marker never cuts.
  const std::string& CutString() const { return FSettings->FCutString; }
  uint8_t FFDVersion() const { return FSettings->FFFDVersion; }
  std::vector<TDocElement>& DocElementList() { return FDocElementList; }
  const std::string& Command() const { return FCommand; }
  uint8_t PacketID() const { return FPacketID; }

  // ---- Status and information -------------------------------------------
  // 00: fields 0, 1, 2 (0 when not a number).
  void GetECRStatus(uint8_t& AFatalStatus, uint16_t& ACurrentStatus, uint8_t& ADocumentStatus);
  // 3: shift longer than 24 hours, 2: shift open, 1: shift closed.
  int GetDayState();
  // 04: field 0; a field that is not a number raises.
  int64_t GetPrinterState();
  // 81: field 0 (0 when not a number).
  int64_t GetDrawerState();
  // 01, ARequestNum 1..18.
  std::vector<std::string> GetCounterValue(int ARequestNum);
  // 02, ARequestNum 1..71.
  std::vector<std::string> GetECRInfo(int ARequestNum);
  std::vector<std::string> GetECRInfo(int ARequestNum, int ANum);
  // 03 "2"; money values in four implied decimals.
  void GetLastReceiptInfo(int64_t& ARecType, std::string& AOperCounter, int64_t& ARecNumber,
                          int64_t& ADocNumber, int64_t& ARecSum, int64_t& ARecDiscount,
                          int64_t& ARecMargin, std::string& ARecKPK);
  // 06 "1": the extended error text.
  std::string GetExtErrorDescription();
  // 10: start of work with the current local date and time.
  void StartSeans();
  // 11: raw field 0 of the answer.
  std::string ReadSettingTable(int ANum, int AInd);
  // 12: AValue is sent as given (register bytes).
  void WriteSettingTable(int ANum, int AInd, std::string_view AValue);
  // 13: date of field 0 plus time of field 1.
  TDateTime GetDateTime();
  // 14.
  void SetDateTime(const TDateTime& ADateTime);
  // 78: the whole answer.
  std::vector<std::string> FNGetInfo(int ARequest, int64_t ADocOffset = 0, int64_t ABlockSize = 0);

  // ---- Setting tables ---------------------------------------------------
  int64_t ReadSettingTableByte(int ANum, int AInd);
  int64_t ReadSettingTableWord(int ANum, int AInd);
  double ReadSettingTableFloat(int ANum, int AInd);
  std::string ReadSettingTableStr(int ANum, int AInd);
  void WriteSettingTableByte(int ANum, int AInd, int64_t AValue);
  void WriteSettingTableWord(int ANum, int AInd, int64_t AValue);
  void WriteSettingTableFloat(int ANum, int AInd, double AValue);
  void WriteSettingTableStr(int ANum, int AInd, std::string_view AValue);

  // ---- Documents and receipts -------------------------------------------
  // 30; ADocType 0..7, low byte of ADepNum at most 99.
  void OpenDocument(int ADocType, int ADepNum, std::string_view ACashier, int ADocNum,
                    int ATaxVariant);
  // 31, short form.
  void CloseDocument(int CutCode, std::string_view ACustomerAddr);
  // 31, buyer form: 10 arguments, 15 when FFDVersion > 2.
  void CloseDocument(std::string_view ACustomerAddr, std::string_view ASaleAddress,
                     std::string_view ASaleLocation, std::string_view AUserAttributeName,
                     std::string_view AUserAttributeValue, std::string_view ACustomerInfo,
                     std::string_view ACustomerINN, std::string_view ACustomerDateOfBirth,
                     std::string_view ACustomerCitizenship,
                     std::string_view ACustomerDocumentTypeCode,
                     std::string_view ACustomerDocumentData, std::string_view ACustomerAddress);
  void CancelDocument();  // 32
  void Cut();             // 34
  // 40, one line cut to LineLength.
  void PrintString(std::string_view S);
  // The text split at every CutString, each marker sent as a Cut (34) in its
  // place; each part between markers goes as 40 per piece of LineLength
  // characters.
  void PrintString(std::string_view S, int AFont, bool ADoubleHeight, bool ADoubleWidth);
  // 41.
  void PrintBarcode(int AOptions, int AWidth, int AHeight, int AType, std::string_view AData);
  // 42: 12 arguments, 15 when FFDVersion > 2. AAmount, ACountryOfOrigin and
  // ACustomsDeclaration are not sent; a negative AMeasureOfQuantity goes empty.
  void RegisterItem(std::string_view AItemName, std::string_view AArticle, int ADepartment,
                    double AQuantity, int64_t APrice, int ATaxCode, int64_t AAmount,
                    int ASignMethodCalculation, int ASignCalculationObject,
                    std::string_view ACountryOfOrigin, std::string_view ACustomsDeclaration,
                    int AMeasureOfQuantity, int64_t AExciseAmount);
  // 42 with its own discount (ADiscountSum > 0) or margin (< 0), then the
  // discount line. AQuantity, APrice and ADiscountSum in four implied decimals.
  // A tax code above 5, a discount on no quantity, or a line amount beyond the
  // 64-bit money range is refused ("Неверный параметр") before anything is sent.
  void RegisterItemEx(std::string_view AItemName, std::string_view AArticle, int64_t AQuantity,
                      int64_t APrice, int ATaxCode, int64_t ADiscountSum,
                      std::string_view ADiscName, bool AFiscal);
  void SubTotal();                                           // 44
  void Discount(std::string_view DiscName, int64_t Amount);  // 45
  void Margin(std::string_view MarginName, int64_t Amount);  // 46
  // 47; APaymentCode 0..15.
  void Payment(int APaymentCode, int64_t AAmount, std::string_view AComment);
  void Encash(std::string_view AComment, int64_t AAmount);                                // 48
  void PrintProps(std::string_view S, int AFont, bool ADoubleHeight, bool ADoubleWidth);  // 49
  // 53; ADocType 2 or 3, ADepNum 1..99, ACRNum 1..9999.
  void OpenReceiptCopy(int ADocType, int ADepNum, std::string_view ACashier, int ARecNum,
                       int ACRNum, const TDateTime& ADateTime);
  void PrintOFDProps(int ACode, std::string_view AName, std::string_view AValue, int AFont,
                     bool ASixthBit, bool ADoubleHeight, bool ADoubleWidth);  // 57
  // 58, format 1.2. ACorrectionBaseDate is sent as given ("ddmmyy").
  void CorrectionReceipt(std::string_view ACashier, int ACorrectionType,
                         std::string_view ACorrectionBaseDate,
                         std::string_view ACorrectionBaseNumber);
  // 58, older formats.
  void CorrectionReceiptOld(std::string_view ACashier, int64_t ACash, int64_t AElectronic,
                            int64_t AAdvance, int64_t ACredit, int64_t ACashProvision,
                            int ACorrectionType, std::string_view ACorrectionBaseDate,
                            std::string_view ACorrectionBaseNumber, int64_t ASumTAX20,
                            int64_t ASumTAX10, int64_t ASumTAX0, int64_t ASumTAXNone,
                            int64_t ASumTAX120, int64_t ASumTAX110);
  // 24: 14 arguments, 18 when FFDVersion > 2.
  void AddRequisite(std::string_view AMarkingCode, std::string_view ACalculationSubjectRequisite,
                    std::string_view ACalculationSubjectUnit, std::string_view ACalculationAgent,
                    std::string_view AVendorINN, std::string_view AVendorPhone,
                    std::string_view AVendorName, std::string_view AAcquirerOperatorAddress,
                    std::string_view AAcquirerOperatorINN, std::string_view AAcquirerOperatorName,
                    std::string_view AAcquirerOperatorPhone, std::string_view AAgentOperation,
                    std::string_view AAgentPhone, std::string_view APaymentProcessorPhone,
                    std::string_view AIndustryIdentifierFOIV,
                    std::string_view AIndustryDocumentDate,
                    std::string_view AIndustryDocumentNumber,
                    std::string_view AIndustryAttributeValue);

  // ---- Shift, reports and fiscal storage ---------------------------------
  void XReport();                                               // 20
  void ZReport(std::string_view ACashier);                      // 21
  void OpenDay(std::string_view ACashier);                      // 23
  void SettlementsCurrStatusReport(std::string_view ACashier);  // 59
  // 60; ARegNum 16 characters, AVatIn and AOFDVATIN 10 or 12.
  void RegisterCashRegister(bool ANewFN, int ATaxSystem, int AWorkMode, std::string_view ARegNum,
                            std::string_view AVatIn, std::string_view ACashier,
                            std::string_view AOrganizationName1,
                            std::string_view AOrganizationName2, std::string_view AAddressSettle1,
                            std::string_view AAddressSettle2, std::string_view APlaceSettle,
                            std::string_view AAutomaticNumber,
                            std::string_view AOFDOrganizationName, std::string_view AOFDVATIN,
                            std::string_view ASenderEmail, std::string_view AFNSWebSite,
                            int AAddWorkMode);
  void TechnologicalReset();                // 63
  void FNClose(std::string_view ACashier);  // 71
  void FNDocumentCopy(int ADocNum);         // 73
  void FNRegistrationReport();              // 76
  void PrintServiceData();                  // 94
  // FNGetInfo 14: 0 (format 1.0), 1 (1.0.5), 2 (1.1), 3 (1.2).
  uint8_t GetFFD();
  // FNGetInfo 3, then 11: date and time, number and fiscal sign of the last
  // fiscal document.
  void FNGetLastDocInfo(TDateTime& ADate, uint32_t& ANum, uint32_t& AFiscalSigb);

  // ---- Typed reads (uDeviceReadings.cpp) ----------------------------------
  // 01/1: the number of the current (or last) shift.
  int64_t ReadShiftNumber();
  // 78/6: the number of the last receipt within the shift.
  int64_t ReadReceiptNumberInShift();
  // 02/18: printable characters per line in font AFontNumber.
  int ReadLineLength(int AFontNumber);
  // The last document (78/3, 78/11), 01/1, 78/6 and the site of settings
  // table 83.
  TDocumentResult ReadDocumentResult();
  // The last document, 78/6, 01/1, 02/7, the status, 78/7, then counters
  // 7, 8, 3, 5, 4 and 6. Payment sums whose total does not fit 64 bits are
  // an answer no register gives: "Ошибка протокола обмена".
  TShiftCounters ReadShiftCounters();
  // The registration: storage phase, serial numbers, formats, registration
  // report, organisation, work modes and the operator's settings.
  TRegistrationReading ReadRegistration();

  // ---- Marking codes (command 79) ----------------------------------------
  // The form in which the register receives a marking code and the checked
  // codes are kept: every byte below 32 as "$" and two upper-case
  // hexadecimal digits (a group separator is "$1D"); other bytes as they are.
  // UTF-8 in and out like every text here.
  static std::string SetMarkingCode(std::string_view ACode);
  // 79 sub-command ARequestNum: checks the escaped code with the marking
  // service. AKMResult receives answer fields 1 to 5, the planned status and
  // RequestStatus 0, or RequestStatus 2 when the command fails (and the
  // failure is raised). A serial read that timed out is reported as the
  // marking service's failure to answer.
  void CheckMarkingCode(int ARequestNum, std::string_view AMarkingCode, int APlannedStatus,
                        double AQuantity, int AMeasureOfQuantity, int ANumerator, int ADenominator,
                        TKMResult& AKMResult);
  // 79/2: accepts ("1") or rejects ("0") the code checked last.
  void AcceptMarkingCode(bool AIsAccepted);
  // 79/3: clears the register's table of checked codes.
  void ClearBufferKM();
  // 79/15: binds a checked code (escaped) to the next item with the planned
  // status and validation result of its check; a negative measure goes empty.
  void BindMarkingCode(std::string_view AMarkingCode, const TKMResult& AChecked,
                       int AMeasureOfQuantity);

  // ---- Stored fiscal documents (uDeviceFn.cpp) -----------------------------
  // Reads stored document ADocNumber (0 or less: the last one) record by
  // record (78/15, then 78/16 until the announced length is read) into
  // DocElementList() and answers its document type. A failed read or a
  // record that does not hold together raises "Ошибка чтения данных из ФН.
  // <reason>"; the elements read until then stay.
  int64_t GetDocumentFromFN(int ADocNumber);

  // ---- Devices ------------------------------------------------------------
  void OpenDrawer();         // 80
  void Beep(int ADuration);  // 82, 10..2000 ms
  void Feed();               // sends nothing

 protected:
  // Shared by the catalogue: RunCommand with the usual time limit.
  void Run(std::string_view ACmd, const TDeviceArgs& AData = {}, int ATimeout = cCommandTimeout);
  // The password bytes a frame carries.
  std::string PasswordBytes() const;

  // Commands go over ALink from now on; a device that owns its link gives it
  // here, once its link is made.
  void SetLink(TRegisterLink& ALink) { FLink = &ALink; }
  // A failed link status as the error the host sees.
  [[noreturn]] void RaiseLinkFailure(const TLinkStatus& AStatus) const;

  const TConnectionSettings* FSettings;
  uint8_t FErrorCode = 0;  // 0 = none, 255 = unreadable
  std::vector<TDocElement> FDocElementList;
  std::string FCommand;            // code of the last command sent
  uint8_t FPacketID = 0x20;        // identifier of the last frame
  std::vector<std::string> FData;  // answer fields of the last command

 private:
  // The error byte and the fields of an answer whose frame has been checked.
  void TakeAnswer(std::string_view ABody);

  TRegisterLink* FLink;
  bool FFetchingExtError = false;  // command 06 runs for an error 01
};
