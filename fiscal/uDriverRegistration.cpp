// Registration data of the register and the fiscal-storage operations: the
// table of registration parameters (read once per connection) and the
// registration or re-registration of the register with its fiscal storage.
#include <stdexcept>

#include "common/uCommonUtils.h"
#include "device/uEquipmentErrors.h"
#include "driver/uXmlUtils.h"
#include "fiscal/uDriver.h"
#include "fiscal/uInputReading.h"
#include "resources/uResources.h"

namespace {

// Life phase of a fiscal storage in fiscal mode (low four bits).
constexpr int64_t kFiscalMode = 3;
// The registration's attributes that go to the register as texts.
constexpr const char* kRegistrationTexts[] = {
    "CashierName",     "KKTNumber",  "CompanyName",   "INN",         "SaleAddress", "SaleLocation",
    "AutomaticNumber", "OFDCompany", "OFDCompanyINN", "SenderEmail", "FNSURL"};

// A text the register keeps in two fields of 44 characters (the
// organisation name, the settlement address). A field may come back padded
// with blanks, so each half is trimmed; a blank trimmed where the halves meet
// means the split fell between two words, and one blank stays there. A split
// inside a word joins the halves as they are.
std::string JoinHalves(std::string_view AFirst, std::string_view ASecond) {
  const std::string first = Trim(AFirst), second = Trim(ASecond);
  if (first.empty() || second.empty()) return first + second;
  const auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  const bool betweenWords = isBlank(AFirst.back()) || isBlank(ASecond.front());
  return betweenWords ? first + " " + second : first + second;
}

bool Bit(int64_t AValue, int ABit) {
  return (AValue >> ABit & 1) != 0;
}

// The first ACount characters from character AStart (0-based). The register
// holds one byte per character in its code page, so the cut is made there.
std::string Characters(std::string_view AText, size_t AStart, size_t ACount) {
  const std::string ansi = Utf8ToAnsi(AText);
  return AStart >= ansi.size() ? std::string{} : AnsiToUtf8(ansi.substr(AStart, ACount));
}

// AText padded on the right with blanks to ALength characters; longer texts
// are kept whole.
std::string PadRight(const std::string& AText, size_t ALength) {
  const size_t length = Utf8ToAnsi(AText).size();
  return length >= ALength ? AText : AText + std::string(ALength - length, ' ');
}

// "True" in any letter case; anything else, "1" included, is false.
bool ReadFlag(const pugi::xml_node& ANode, const char* AName) {
  return SameText(ANode.attribute(AName).value(), "True");
}

// The text of a fiscal data format version code of the storage.
std::string FFDVersionText(int64_t ACode) {
  switch (ACode) {
    case 0:
    case 1:
      return "1.0";
    case 2:
      return "1.0.5";
    case 3:
      return "1.1";
    case 4:
      return "1.2";
    default:
      return {};
  }
}

// The numbers of the bits set among bits 0 to ACount - 1, ascending, joined
// by ",": bits 0 and 3 give "0,3".
std::string BitListText(int64_t AValue, int ACount) {
  std::string text;
  for (int bit = 0; bit < ACount; ++bit) {
    if (!Bit(AValue, bit)) continue;
    if (!text.empty()) text += ',';
    text += std::to_string(bit);
  }
  return text;
}

// Fills the connection's registration data from the register's answer.
void ReadDataKKT(TDeviceDriver& AInstance) {
  const TRegistrationReading r = AInstance.Device().ReadRegistration();
  TDataKKT& d = AInstance.FDataKKT;
  d.Fiscal = (r.FNLifePhase & 0x0F) == kFiscalMode;
  d.FNSerialNumber = r.FNSerialNumber;
  d.KKTNumber = r.KKTNumber;
  d.FFDVersion = FFDVersionText(r.FFDCode);
  d.FFDVersionFN = FFDVersionText(r.FNFFDCode);
  d.FFDVersionKKT = FFDVersionText(r.FFDCode);
  d.KKTSerialNumber = r.KKTSerialNumber;
  d.DocumentNumber = r.DocumentNumber;
  d.DateTime = r.DateTime;
  d.CompanyName = JoinHalves(r.CompanyName1, r.CompanyName2);
  d.INN = r.INN;
  d.SaleAddress = JoinHalves(r.SaleAddress1, r.SaleAddress2);
  d.SaleLocation = r.SaleLocation;

  const int64_t taxes = r.TaxationSystems;
  const int64_t modes = r.WorkModes;
  const int64_t extra = r.ExtraWorkModes;
  d.TaxationSystems = BitListText(taxes, 6);
  d.IsEncrypted = Bit(modes, 0);
  d.IsAutomatic = Bit(modes, 2);
  d.IsOffline = Bit(modes, 1);
  d.IsAutomaticPrinter = Bit(extra, 0);
  d.IsService = Bit(modes, 3);
  d.IsExcisable = Bit(modes, 6);
  d.IsLottery = Bit(taxes, 15);
  d.IsGambling = Bit(modes, 7);
  d.IsOnlineOnly = Bit(modes, 5);
  d.BSOSing = Bit(modes, 4);
  const bool format12 = AInstance.FFFDVersion == ffd12;
  d.IsMarking = format12 && Bit(extra, 1);
  d.IsPawnshop = format12 && Bit(extra, 2);
  d.IsAssurance = format12 && Bit(extra, 3);
  // The later flags exist only in format 1.2; older registers leave them as
  // an earlier reading on this connection found them.
  if (format12) {
    d.IsVendingMachine = Bit(extra, 4);
    d.IsCateringServices = Bit(extra, 5);
    d.IsWholesaleTrade = Bit(extra, 6);
    d.PermissiveMarking = true;
  }
  d.AgentTypes = BitListText(modes >> 8 & 0x7F, 7);

  d.AutomaticNumber = r.AutomaticNumber;
  d.OFDCompany = r.OFDCompany;
  d.OFDCompanyINN = Trim(r.OFDCompanyINN);
  d.FNSURL = r.FNSURL;
  d.SenderEmail = r.SenderEmail;
  d.FirmwareVersion.clear();
}

}  // namespace

void TDriver::GetDataKKT(pugi::xml_document& ATableParametersKKT) {
  TDeviceDriver& instance = Instance();
  // Read once per connection; a failed reading is read again next time.
  if (!instance.FKKTDataCompleted) ReadDataKKT(instance);
  const TDataKKT& d = instance.FDataKKT;
  pugi::xml_node p = ATableParametersKKT.append_child("Parameters");
  p.append_attribute("Fiscal") = XmlBool(d.Fiscal);
  if (d.Fiscal) {
    const auto text = [&p](const char* AName, const std::string& AValue) {
      p.append_attribute(AName) = AValue.c_str();
    };
    const auto flag = [&p](const char* AName, bool AValue) {
      p.append_attribute(AName) = XmlBool(AValue);
    };
    text("KKTNumber", d.KKTNumber);
    text("FNSerialNumber", d.FNSerialNumber);
    text("FFDVersion", d.FFDVersion);
    text("FFDVersionFN", d.FFDVersionFN);
    text("FFDVersionKKT", d.FFDVersionKKT);
    text("KKTSerialNumber", d.KKTSerialNumber);
    text("DocumentNumber", d.DocumentNumber);
    text("DateTime", d.DateTime.ToXml());
    text("CompanyName", d.CompanyName);
    text("INN", d.INN);
    text("SaleAddress", d.SaleAddress);
    text("SaleLocation", d.SaleLocation);
    text("TaxationSystems", d.TaxationSystems);
    flag("IsEncrypted", d.IsEncrypted);
    flag("IsAutomatic", d.IsAutomatic);
    flag("IsOffline", d.IsOffline);
    flag("IsAutomaticPrinter", d.IsAutomaticPrinter);
    text("AutomaticNumber", d.AutomaticNumber);
    text("AgentTypes", d.AgentTypes);
    flag("IsService", d.IsService);
    flag("IsExcisable", d.IsExcisable);
    flag("IsLottery", d.IsLottery);
    flag("IsGambling", d.IsGambling);
    flag("IsOnlineOnly", d.IsOnlineOnly);
    flag("IsMarking", d.IsMarking);
    flag("IsPawnshop", d.IsPawnshop);
    flag("IsAssurance", d.IsAssurance);
    flag("BSOSing", d.BSOSing);
    text("OFDCompany", d.OFDCompany);
    text("OFDCompanyINN", d.OFDCompanyINN);
    text("FNSURL", d.FNSURL);
    text("SenderEmail", d.SenderEmail);
    text("FirmwareVersion", d.FirmwareVersion);
    flag("IsVendingMachine", d.IsVendingMachine);
    flag("IsCateringServices", d.IsCateringServices);
    flag("IsWholesaleTrade", d.IsWholesaleTrade);
    flag("PermissiveMarking", d.PermissiveMarking);
  }
  instance.FKKTDataCompleted = true;
}

void TDriver::OperationFN(uint8_t /*AOperationType*/, const pugi::xml_document& AParametersFiscal) {
  // Every operation type registers: closing the fiscal storage is a
  // different register command that this operation never sends.
  const pugi::xml_node in = AParametersFiscal.document_element();
  // Every text is checked before the register is asked anything.
  for (const char* name : kRegistrationTexts) RefuseControlBytes(ReadTextAttr(in, name), name);
  CancelOpenDocument();
  if (!in) throw MakeEquException(ecInvalidInput);
  if (ReadTextAttr(in, "FFDVersion") == "1.2")
    throw std::runtime_error(ResString("RegistrationFfd12Refused"));

  const std::string taxationSystems = ReadTextAttr(in, "TaxationSystems");
  int taxSystem = 0;
  for (int bit = 0; bit <= 5; ++bit)
    if (taxationSystems.find(static_cast<char>('0' + bit)) != std::string::npos)
      taxSystem |= 1 << bit;
  int workMode = 0;
  const char* const workModeFlags[] = {"IsEncrypted", "IsOffline",    "IsAutomatic", "IsService",
                                       "BSOSing",     "IsOnlineOnly", "IsExcisable", "IsGambling"};
  for (int bit = 0; bit < 8; ++bit)
    if (ReadFlag(in, workModeFlags[bit])) workMode |= 1 << bit;
  int addWorkMode = 0;
  const char* const addWorkModeFlags[] = {
      "IsAutomaticPrinter", "IsMarking",          "IsPawnshop",      "IsAssurance",
      "IsVendingMachine",   "IsCateringServices", "IsWholesaleTrade"};
  for (int bit = 0; bit < 7; ++bit)
    if (ReadFlag(in, addWorkModeFlags[bit])) addWorkMode |= 1 << bit;
  int64_t reason = 0;
  if (!TryStrToInt64(ReadTrimmedAttr(in, "RegistrationReasonCode"), reason)) reason = 0;

  const std::string company = ReadTextAttr(in, "CompanyName");
  const std::string address = ReadTextAttr(in, "SaleAddress");
  // Whatever the register answers, its registration data is read afresh
  // next time: a registration that went through changed it.
  Instance().FKKTDataCompleted = false;
  Device().RegisterCashRegister(
      reason == 0, taxSystem, workMode, PadRight(ReadTextAttr(in, "KKTNumber"), 16),
      ReadTextAttr(in, "INN"), ReadTextAttr(in, "CashierName"), Characters(company, 0, 44),
      Characters(company, 44, 44), Characters(address, 0, 44), Characters(address, 44, 44),
      Characters(ReadTextAttr(in, "SaleLocation"), 0, 112),
      PadRight(ReadTextAttr(in, "AutomaticNumber"), 12), ReadTextAttr(in, "OFDCompany"),
      PadRight(ReadTextAttr(in, "OFDCompanyINN"), 12), ReadTextAttr(in, "SenderEmail"),
      ReadTextAttr(in, "FNSURL"), addWorkMode);
}
