// The arguments of every host method: name, direction and type.
//
// The method tables of the driver classes take their parameter counts from
// here, so a method's count and its arguments cannot drift apart; quarnel-host
// shows the rows and checks a call against them. Header only: the host reads
// it without linking the driver.
//
//   constexpr int n = MethodArgumentCount("ProcessCheck");        // 4
//   constexpr const char* what = XmlArgumentCaption("ProcessCheck", 2);
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string_view>

enum class TArgDirection {
  adIn,       // the method reads it
  adOut,      // the method writes it
  adNotRead,  // passed by the platform, not looked at
};

enum class TArgType {
  atText,
  atXml,  // an XML document as text
  atBoolean,
  atInteger,
  atNumber,
  atAny,  // whatever the method converts (SetParameter's value)
};

struct TMethodArgument {
  const char* Name = nullptr;  // null: no argument in this slot
  TArgDirection Direction = TArgDirection::adIn;
  TArgType Type = TArgType::atText;
  // For an XML document the method reads: what it is, in the words of its
  // parse messages (Russian, as the user reads them).
  const char* Caption = nullptr;
};

inline constexpr std::size_t cMaxMethodArguments = 5;

struct TMethodSignature {
  const char* Method;
  TMethodArgument Args[cMaxMethodArguments];

  constexpr int Count() const {
    int n = 0;
    while (n < static_cast<int>(cMaxMethodArguments) && Args[n].Name != nullptr) ++n;
    return n;
  }
};

namespace method_arguments {
using enum TArgDirection;
using enum TArgType;
constexpr TMethodArgument kDevice{"DeviceID", adIn, atText};
constexpr TMethodArgument XmlIn(const char* Name, const char* Caption) {
  return {Name, adIn, atXml, Caption};
}
constexpr TMethodArgument XmlOut(const char* Name) {
  return {Name, adOut, atXml};
}
constexpr TMethodArgument NotRead(const char* Name) {
  return {Name, adNotRead, atAny};
}

// Every method of the add-in, by its English name, in registration order.
inline constexpr TMethodSignature kSignatures[] = {
    {"GetInterfaceRevision", {}},
    {"GetDataKKT", {kDevice, XmlOut("TableParametersKKT")}},
    {"OperationFN",
     {kDevice,
      {"OperationType", adIn, atInteger},
      XmlIn("ParametersFiscal", "параметры регистрации")}},
    {"OpenShift",
     {kDevice, XmlIn("InputParameters", "входные параметры открытия смены"),
      XmlOut("OutputParameters")}},
    {"CloseShift",
     {kDevice, XmlIn("InputParameters", "входные параметры закрытия смены"),
      XmlOut("OutputParameters")}},
    {"ProcessCheck",
     {kDevice,
      {"Electronically", adIn, atBoolean},
      XmlIn("CheckPackage", "пакет чека"),
      XmlOut("DocumentOutputParameters")}},
    {"ProcessCorrectionCheck",
     {kDevice,
      {"Electronically", adIn, atBoolean},
      XmlIn("CheckCorrectionPackage", "пакет чека коррекции"),
      XmlOut("DocumentOutputParameters")}},
    {"PrintTextDocument", {kDevice, XmlIn("DocumentPackage", "текстовый документ")}},
    {"CashInOutcome",
     {kDevice,
      XmlIn("InputParameters", "входные параметры внесения или выемки"),
      {"Amount", adIn, atNumber}}},
    {"PrintXReport", {kDevice, XmlIn("InputParameters", "входные параметры X-отчета")}},
    {"GetCurrentStatus",
     {kDevice, XmlIn("InputParameters", "входные параметры запроса состояния"),
      XmlOut("OutputParameters")}},
    {"ReportCurrentStatusOfSettlements",
     {kDevice, XmlIn("InputParameters", "входные параметры отчета о состоянии расчетов"),
      XmlOut("OutputParameters")}},
    {"OpenCashDrawer", {kDevice}},
    {"GetLineLength", {kDevice, {"LineLength", adOut, atInteger}}},
    {"PrintCheckCopy", {kDevice, {"CheckNumber", adIn, atText}}},
    {"OpenSessionRegistrationKM", {kDevice}},
    {"CloseSessionRegistrationKM", {kDevice}},
    {"RequestKM",
     {kDevice, XmlIn("InputParameters", "запрос проверки кода маркировки"),
      XmlOut("OutputParameters")}},
    {"GetProcessingKMResult",
     {kDevice, XmlOut("OutputParameters"), {"RequestStatus", adOut, atInteger}}},
    {"ConfirmKM", {kDevice, {"GUID", adIn, atText}, {"ConfirmationType", adIn, atInteger}}},
    {"SetDateTime", {kDevice, {"DateTime", adIn, atText}}},
    {"GetDateTime", {kDevice, {"DateTime", adOut, atText}}},
    {"GetDocumentInformation",
     {kDevice, {"DocNumber", adIn, atInteger}, XmlOut("OutputParameters")}},
    {"GetDescription", {XmlOut("DriverDescription")}},
    {"GetLastError", {{"ErrorDescription", adOut, atText}}},
    {"ConnectEquipment",
     {{"DeviceID", adOut, atText},
      NotRead("EquipmentType"),
      XmlIn("ConnectionParameters", "параметры подключения")}},
    {"DisconnectEquipment", {kDevice}},
    {"EquipmentParameters", {NotRead("EquipmentType"), XmlOut("TableParameters")}},
    {"SetParameter", {{"Name", adIn, atText}, {"Value", adIn, atAny}}},
    {"EquipmentTest",
     {NotRead("EquipmentType"),
      XmlIn("ConnectionParameters", "параметры подключения"),
      {"Description", adOut, atText},
      {"DemoModeIsActivated", adOut, atText}}},
    {"GetAdditionalActions", {XmlOut("TableActions")}},
    {"DoAdditionalAction", {{"ActionName", adIn, atText}}},
    {"EquipmentAutoSetup",
     {NotRead("EquipmentType"),
      {"Parameters", adIn, atText},
      {"Result", adOut, atText},
      NotRead("Reserved3"),
      NotRead("Reserved4")}},
    {"SetApplicationInformation", {NotRead("ApplicationSettings")}},
    {"GetLocalizationPattern", {XmlOut("LocalizationPattern")}},
    {"SetLocalization", {NotRead("LanguageCode"), NotRead("LocalizationPattern")}},
};
}  // namespace method_arguments

// The row of a method by its English name, or null.
constexpr const TMethodSignature* FindMethodSignature(std::string_view Method) {
  for (const TMethodSignature& s : method_arguments::kSignatures)
    if (Method == s.Method) return &s;
  return nullptr;
}

// The row of a method a method table names; a name without a row does not
// compile. The row is found without comparing its address with null, which
// GCC does not take as constant in the builds with -fsanitize=undefined.
consteval const TMethodSignature& MethodSignatureOf(std::string_view Method) {
  for (const TMethodSignature& s : method_arguments::kSignatures)
    if (Method == s.Method) return s;
  throw std::logic_error("a host method without its row of arguments");
}

// The count a method table registers.
consteval int MethodArgumentCount(std::string_view Method) {
  return MethodSignatureOf(Method).Count();
}

// What an XML argument the method reads is, for its parse messages.
consteval const char* XmlArgumentCaption(std::string_view Method, int Index) {
  const TMethodSignature& s = MethodSignatureOf(Method);
  if (Index < 0 || Index >= s.Count() || s.Args[Index].Caption == nullptr)
    throw std::logic_error("no XML argument read at this position");
  return s.Args[Index].Caption;
}
