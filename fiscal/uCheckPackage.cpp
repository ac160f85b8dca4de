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

const char* ParameterName(int32_t ATag) {
  switch (ATag) {
    case 1012:
      return "DateTime";
    case 1021:
      return "CashierName";
    case 1040:
      return "DocNumber";
    case 1054:
      return "OperationType";
    case 1055:
      return "TaxationSystem";
    case 1077:
      return "FiscalSign";
    case 1203:
      return "CashierINN";
    default:
      return nullptr;
  }
}

const char* PositionName(int32_t ATag) {
  switch (ATag) {
    case 1023:
      return "Quantity";
    case 1030:
      return "Name";
    case 1043:
      return "AmountWithDiscount";
    case 1079:
      return "PriceWithDiscount";
    case 1200:
      return "VATAmount";
    case 1212:
      return "CalculationSubject";
    case 1214:
      return "PaymentMethod";
    case 1305:
      return "MarkingCode";
    default:
      return nullptr;
  }
}

const char* PaymentName(int32_t ATag) {
  switch (ATag) {
    case 1031:
      return "Cash";
    case 1081:
      return "ElectronicPayment";
    case 1215:
      return "PrePayment";
    case 1216:
      return "PostPayment";
    case 1217:
      return "Barter";
    default:
      return nullptr;
  }
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
      const char* name = PositionName(e.Tag);
      if (name == nullptr || !position) continue;
      SetAttribute(position, name, e.Tag == 1305 ? Base64Encode(Utf8ToAnsi(e.Value)) : e.Value);
      continue;
    }
    if (const char* name = ParameterName(e.Tag)) SetAttribute(parameters, name, e.Value);
    if (const char* name = PaymentName(e.Tag)) {
      if (!payments) payments = root.append_child("Payments");
      SetAttribute(payments, name, e.Value);
    }
  }
}

void ReadCheckPackage(TDevice& ADevice, int ADocNumber, pugi::xml_document& AOutput) {
  const int64_t documentType = ADevice.GetDocumentFromFN(ADocNumber);
  WriteCheckPackage(ADevice.DocElementList(), documentType, AOutput);
}
