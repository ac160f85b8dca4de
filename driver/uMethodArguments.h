// Every host method of the add-in declared once: its English and Russian
// names and its arguments (name, direction and type).
//
// The method tables of the driver classes pair each row with the code that
// runs it (ExportMethod, driver/uCustomDriver.h) and take the names and the
// parameter count from here, so what the host sees and what a method reads
// cannot drift apart; quarnel-host shows the rows and checks a call against
// them. Header only: the host reads it without linking the driver.
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
  const char* Method;     // English name
  const char* MethodLoc;  // Russian name
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

// Every method of the add-in, in registration order; GetInterfaceRevision,
// which the driver registers twice, has one row.
inline constexpr TMethodSignature kSignatures[] = {
    {"GetInterfaceRevision", "ПолучитьРевизиюИнтерфейса", {}},
    {"GetDataKKT", "ПолучитьПараметрыККТ", {kDevice, XmlOut("TableParametersKKT")}},
    {"OperationFN",
     "ОперацияФН",
     {kDevice,
      {"OperationType", adIn, atInteger},
      XmlIn("ParametersFiscal", "параметры регистрации")}},
    {"OpenShift",
     "ОткрытьСмену",
     {kDevice, XmlIn("InputParameters", "входные параметры открытия смены"),
      XmlOut("OutputParameters")}},
    {"CloseShift",
     "ЗакрытьСмену",
     {kDevice, XmlIn("InputParameters", "входные параметры закрытия смены"),
      XmlOut("OutputParameters")}},
    {"ProcessCheck",
     "СформироватьЧек",
     {kDevice,
      {"Electronically", adIn, atBoolean},
      XmlIn("CheckPackage", "пакет чека"),
      XmlOut("DocumentOutputParameters")}},
    {"ProcessCorrectionCheck",
     "СформироватьЧекКоррекции",
     {kDevice,
      {"Electronically", adIn, atBoolean},
      XmlIn("CheckCorrectionPackage", "пакет чека коррекции"),
      XmlOut("DocumentOutputParameters")}},
    {"PrintTextDocument",
     "НапечататьТекстовыйДокумент",
     {kDevice, XmlIn("DocumentPackage", "текстовый документ")}},
    {"CashInOutcome",
     "НапечататьЧекВнесенияВыемки",
     {kDevice,
      XmlIn("InputParameters", "входные параметры внесения или выемки"),
      {"Amount", adIn, atNumber}}},
    {"PrintXReport",
     "НапечататьОтчетБезГашения",
     {kDevice, XmlIn("InputParameters", "входные параметры X-отчета")}},
    {"GetCurrentStatus",
     "ПолучитьТекущееСостояние",
     {kDevice, XmlIn("InputParameters", "входные параметры запроса состояния"),
      XmlOut("OutputParameters")}},
    {"ReportCurrentStatusOfSettlements",
     "ОтчетОТекущемСостоянииРасчетов",
     {kDevice, XmlIn("InputParameters", "входные параметры отчета о состоянии расчетов"),
      XmlOut("OutputParameters")}},
    {"OpenCashDrawer", "ОткрытьДенежныйЯщик", {kDevice}},
    {"GetLineLength", "ПолучитьШиринуСтроки", {kDevice, {"LineLength", adOut, atInteger}}},
    {"PrintCheckCopy", "НапечататьКопиюЧека", {kDevice, {"CheckNumber", adIn, atText}}},
    {"OpenSessionRegistrationKM", "ОткрытьСессиюРегистрацииКМ", {kDevice}},
    {"CloseSessionRegistrationKM", "ЗакрытьСессиюРегистрацииКМ", {kDevice}},
    {"RequestKM",
     "ЗапросКМ",
     {kDevice, XmlIn("InputParameters", "запрос проверки кода маркировки"),
      XmlOut("OutputParameters")}},
    {"GetProcessingKMResult",
     "ПолучитьРезультатыЗапросаКМ",
     {kDevice, XmlOut("OutputParameters"), {"RequestStatus", adOut, atInteger}}},
    {"ConfirmKM",
     "ПодтвердитьКМ",
     {kDevice, {"GUID", adIn, atText}, {"ConfirmationType", adIn, atInteger}}},
    {"SetDateTime", "УстановитьДатуВремя", {kDevice, {"DateTime", adIn, atText}}},
    {"GetDateTime", "ПолучитьДатуВремя", {kDevice, {"DateTime", adOut, atText}}},
    {"GetDocumentInformation",
     "ПолучитьИнформациюПоДокументу",
     {kDevice, {"DocNumber", adIn, atInteger}, XmlOut("OutputParameters")}},
    {"GetDescription", "ПолучитьОписание", {XmlOut("DriverDescription")}},
    {"GetLastError", "ПолучитьОшибку", {{"ErrorDescription", adOut, atText}}},
    {"ConnectEquipment",
     "ПодключитьОборудование",
     {{"DeviceID", adOut, atText},
      NotRead("EquipmentType"),
      XmlIn("ConnectionParameters", "параметры подключения")}},
    {"DisconnectEquipment", "ОтключитьОборудование", {kDevice}},
    {"EquipmentParameters",
     "ПараметрыОборудования",
     {NotRead("EquipmentType"), XmlOut("TableParameters")}},
    {"SetParameter", "УстановитьПараметр", {{"Name", adIn, atText}, {"Value", adIn, atAny}}},
    {"EquipmentTest",
     "ТестированиеОборудования",
     {NotRead("EquipmentType"),
      XmlIn("ConnectionParameters", "параметры подключения"),
      {"Description", adOut, atText},
      {"DemoModeIsActivated", adOut, atText}}},
    {"GetAdditionalActions", "ПолучитьДополнительныеДействия", {XmlOut("TableActions")}},
    {"DoAdditionalAction", "ВыполнитьДополнительноеДействие", {{"ActionName", adIn, atText}}},
    {"EquipmentAutoSetup",
     "АвтонастройкаОборудования",
     {NotRead("EquipmentType"),
      {"Parameters", adIn, atText},
      {"Result", adOut, atText},
      NotRead("Reserved3"),
      NotRead("Reserved4")}},
    {"SetApplicationInformation",
     "УстановитьИнформациюПриложения",
     {NotRead("ApplicationSettings")}},
    {"GetLocalizationPattern", "ПолучитьШаблонЛокализации", {XmlOut("LocalizationPattern")}},
    {"SetLocalization",
     "УстановитьЛокализацию",
     {NotRead("LanguageCode"), NotRead("LocalizationPattern")}},
};
}  // namespace method_arguments

// A method's English name as a template argument: FiscalEntry<"OpenShift", ...>.
template <std::size_t N>
struct TMethodName {
  char Text[N];
  consteval TMethodName(const char (&AText)[N]) {
    for (std::size_t i = 0; i < N; ++i) Text[i] = AText[i];
  }
  constexpr std::string_view View() const { return {Text, N - 1}; }
};

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
