#include "fiscal/uCheckPackage.h"

#include <string>

#include "common/uCommonUtils.h"
#include "device/uDevice.h"

namespace {

// An attribute set once; a tag that occurs again overwrites it.
void SetAttribute(pugi::xml_node ANode, const char* AName, const std::string& AValue) {
  pugi::xml_attribute a = ANode.attribute(AName);
  if (!a) a = ANode.append_attribute(AName);
  a.set_value(AValue.c_str());
}

// Where the host's receipt package carries a tag: an attribute name.
struct TTagName {
  int32_t Tag;
  const char* Name;
};
constexpr TTagName kParameterNames[] = {
    {1012, "DateTime"},       {1021, "CashierName"}, {1040, "DocNumber"}, {1054, "OperationType"},
    {1055, "TaxationSystem"}, {1077, "FiscalSign"},  {1203, "CashierINN"}};
constexpr TTagName kPositionNames[] = {{1023, "Quantity"},           {1030, "Name"},
                                       {1043, "AmountWithDiscount"}, {1079, "PriceWithDiscount"},
                                       {1200, "VATAmount"},          {1212, "CalculationSubject"},
                                       {1214, "PaymentMethod"},      {1305, "MarkingCode"}};
constexpr TTagName kPaymentNames[] = {{1031, "Cash"},
                                      {1081, "ElectronicPayment"},
                                      {1215, "PrePayment"},
                                      {1216, "PostPayment"},
                                      {1217, "Barter"}};

// The attribute ATag goes to, or null when the package does not carry it there.
template <size_t N>
const char* NameOf(const TTagName (&ANames)[N], int32_t ATag) {
  for (const TTagName& n : ANames)
    if (n.Tag == ATag) return n.Name;
  return nullptr;
}

}  // namespace

void WriteCheckPackage(const std::vector<TDocElement>& AList, int64_t ADocumentType,
                       pugi::xml_document& AOutput) {
  AOutput.reset();
  pugi::xml_node decl = AOutput.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  pugi::xml_node root = AOutput.append_child("CheckPackage");
  pugi::xml_node parameters = root.append_child("Parameters");
  SetAttribute(parameters, "DocumentType", std::to_string(ADocumentType));
  pugi::xml_node positions, payments, position;
  for (const TDocElement& e : AList) {
    if (e.Tag == 1059) {
      if (!positions) positions = root.append_child("Positions");
      position = positions.append_child("FiscalString");
      continue;
    }
    if (e.TagSection) {
      const char* name = NameOf(kPositionNames, e.Tag);
      if (name == nullptr || !position) continue;
      SetAttribute(position, name, e.Tag == 1305 ? Base64Encode(Utf8ToAnsi(e.Value)) : e.Value);
      continue;
    }
    if (const char* name = NameOf(kParameterNames, e.Tag)) SetAttribute(parameters, name, e.Value);
    if (const char* name = NameOf(kPaymentNames, e.Tag)) {
      if (!payments) payments = root.append_child("Payments");
      SetAttribute(payments, name, e.Value);
    }
  }
}

void ReadCheckPackage(TDevice& ADevice, int ADocNumber, pugi::xml_document& AOutput) {
  const int64_t documentType = ADevice.GetDocumentFromFN(ADocNumber);
  WriteCheckPackage(ADevice.DocElementList(), documentType, AOutput);
}
