#include "driver/uCommonDriver4004.h"

#include <mutex>

#include "common/Common.Log.h"
#include "common/uCommonUtils.h"
#include "driver/uMethodArguments.h"
#include "driver/uXmlUtils.h"
#include "hostbridge/uV8Dispatch.h"
#include "resources/uResources.h"
#include "ui/ufmDocView.h"
#include "ui/ufmLog.h"

namespace {

// The maker's page with driver downloads.
constexpr char kDownloadURL[] = "https://dravex.ru/drivers/quarnel";

// The driver description is one record for the whole process; objects may be
// created on several host threads, so it is read and refreshed under a lock.
std::mutex& DriverInfoLock() {
  static std::mutex lock;
  return lock;
}
TDriverInfo& DriverInfoRecord() {
  static TDriverInfo info;
  return info;
}
// The UpdateDriverInfo of the registered class. Every constructor of the
// chain refreshes the record with it, so that a half-built object never
// shows another class's equipment kind to a host reading the description.
TUpdateDriverInfoCode& RegisteredUpdate() {
  static TUpdateDriverInfoCode update = nullptr;
  return update;
}

TUpdateDriverInfoCode ClassUpdateDriverInfo(const TDriverClassInfo& AClass) {
  for (const TDriverClassInfo* C = &AClass; C != nullptr; C = C->Parent)
    if (C->UpdateDriverInfo != nullptr) return C->UpdateDriverInfo;
  return nullptr;
}

TCommonDriver& AsCommon(TCustomDriver& Obj) {
  return static_cast<TCommonDriver&>(Obj);
}
const TCommonDriver& AsCommon(const TCustomDriver& Obj) {
  return static_cast<const TCommonDriver&>(Obj);
}

// True when an attribute text means a Boolean true ("true" in any case or a
// non-zero number).
bool XmlValueIsTrue(const char* Text) {
  try {
    return VariantToBool(TV8NativeVariant(std::string(Text)));
  } catch (const std::exception&) {
    return false;
  }
}

// The connection parameters ask for a log: <Parameters><Parameter Name="LogEnabled" Value="true"/>.
bool SettingsEnableLog(const pugi::xml_document& ASettings) {
  for (pugi::xml_node top : ASettings.children()) {
    if (top.type() != pugi::node_element || std::string_view(top.name()) != "Parameters") continue;
    for (pugi::xml_node p : top.children()) {
      if (p.type() != pugi::node_element || !SameText(p.name(), "Parameter")) continue;
      if (SameText(p.attribute("Name").value(), "LogEnabled") &&
          XmlValueIsTrue(p.attribute("Value").value()))
        return true;
    }
  }
  return false;
}

const ExportPropAttribute kLogEnabledExport{"ЛогВключен", "Вести лог", "False", false};

const TPropertyInfo<TCustomDriver> kProperties[] = {
    {"LogEnabled", TPropKind::Boolean,
     [](const TCustomDriver& Obj) -> TV8NativeVariant { return AsCommon(Obj).GetLogEnabled(); },
     [](TCustomDriver& Obj, const TV8NativeVariant& Value) {
       AsCommon(Obj).SetLogEnabled(std::get<bool>(Value));
     },
     &kLogEnabledExport},
};

// Host methods declared by TCommonDriver, in declaration order.
const TExportMethodInfo kMethods[] = {
    ExportMethod("GetInterfaceRevision",
                 HostCode<TCommonDriver, &TCommonDriver::GetInterfaceRevision>),
    ExportMethod("GetDescription", HostCode<TCommonDriver, &TCommonDriver::GetDescription>),
    ExportMethod("GetLastError", HostCode<TCommonDriver, &TCommonDriver::GetLastError>),
    ExportMethod("ConnectEquipment", HostCode<TCommonDriver, &TCommonDriver::ConnectEquipment>),
    ExportMethod("DisconnectEquipment",
                 HostCode<TCommonDriver, &TCommonDriver::DisconnectEquipment>),
    ExportMethod("EquipmentParameters",
                 HostCode<TCommonDriver, &TCommonDriver::EquipmentParameters>),
    ExportMethod("SetParameter", HostCode<TCommonDriver, &TCommonDriver::SetParameter>),
    ExportMethod("EquipmentTest", HostCode<TCommonDriver, &TCommonDriver::EquipmentTest>),
    ExportMethod("GetAdditionalActions",
                 HostCode<TCommonDriver, &TCommonDriver::GetAdditionalActions>),
    ExportMethod("DoAdditionalAction", HostCode<TCommonDriver, &TCommonDriver::DoAdditionalAction>),
    ExportMethod("EquipmentAutoSetup", HostCode<TCommonDriver, &TCommonDriver::EquipmentAutoSetup>),
    ExportMethod("SetApplicationInformation",
                 HostCode<TCommonDriver, &TCommonDriver::SetApplicationInformation>),
    ExportMethod("GetLocalizationPattern",
                 HostCode<TCommonDriver, &TCommonDriver::GetLocalizationPattern>),
    ExportMethod("SetLocalization", HostCode<TCommonDriver, &TCommonDriver::SetLocalization>),
};

const TAdditionalActionInfo kActions[] = {
    {"ViewLog", {"Просмотр лога"}, [](TCustomDriver& Obj) { AsCommon(Obj).ViewLog(); }},
    {"ShowHelp", {"Справка"}, [](TCustomDriver& Obj) { AsCommon(Obj).ShowHelp(); }},
};

}  // namespace

const TDriverClassInfo TCommonDriver::Info = {
    .ClassName = "TCommonDriver",
    .Parent = &TCustomDriver::Info,
    .Methods = kMethods,
    .Properties = kProperties,
    .Actions = kActions,
    .UpdateDriverInfo = &TCommonDriver::UpdateDriverInfo,
};

TCommonDriver::TCommonDriver() {
  RefreshDriverInfo(&TCommonDriver::UpdateDriverInfo);
}

// ---- driver description ----

TClassReg& TCommonDriver::RegisterDriver(TClassRegList& List, const TDriverClassInfo& AClass,
                                         TV8ObjectFactory AFactory, std::string_view AExtension,
                                         std::string_view AName, std::string_view ADescription) {
  TClassReg& Reg = TCustomDriver::RegisterDriver(List, AClass, AFactory, AExtension);
  {
    std::lock_guard lock(DriverInfoLock());
    TDriverInfo& info = DriverInfoRecord();
    info.Name = AName;
    info.Description = ADescription;
    RegisteredUpdate() = ClassUpdateDriverInfo(AClass);
    if (RegisteredUpdate() != nullptr) RegisteredUpdate()(info);
  }
  SetLogName(AExtension);
  return Reg;
}

void TCommonDriver::RefreshDriverInfo(TUpdateDriverInfoCode Update) {
  std::lock_guard lock(DriverInfoLock());
  if (RegisteredUpdate() != nullptr) Update = RegisteredUpdate();
  Update(DriverInfoRecord());
}

TDriverInfo TCommonDriver::DriverInfo() {
  std::lock_guard lock(DriverInfoLock());
  return DriverInfoRecord();
}

void TCommonDriver::UpdateDriverInfo(TDriverInfo& AInfo) {
  AInfo.Clear();
  AInfo.DownloadURL = kDownloadURL;
  AInfo.DriverVersion = ApplicationVersionText();
  AInfo.IntegrationComponentVersion = AInfo.DriverVersion;
  AInfo.LogIsEnabled = false;
}

std::string TCommonDriver::GetDriverDescription() {
  const TDriverInfo info = DriverInfo();
  pugi::xml_document doc;
  NewXmlDocument(doc);
  pugi::xml_node root = doc.append_child("DriverDescription");
  root.append_attribute("Name") = info.Name.c_str();
  root.append_attribute("Description") = info.Description.c_str();
  root.append_attribute("EquipmentType") = EquipmentTypeText(info.EquipmentType).c_str();
  root.append_attribute("IntegrationComponent") = XmlBool(info.IntegrationComponent);
  root.append_attribute("MainDriverInstalled") = XmlBool(info.MainDriverInstalled);
  root.append_attribute("DriverVersion") = info.DriverVersion.c_str();
  root.append_attribute("IntegrationComponentVersion") = info.IntegrationComponentVersion.c_str();
  root.append_attribute("DownloadURL") = info.DownloadURL.c_str();
  // The current log switch, not the record's field.
  root.append_attribute("LogIsEnabled") = XmlBool(GetLogEnabled());
  // The log is best effort: a folder that cannot be used leaves the path
  // empty rather than hiding the whole driver from the host.
  std::string logPath;
  try {
    logPath = GetLogFileName(true);
  } catch (const std::exception&) {
  }
  root.append_attribute("LogPath") = logPath.c_str();
  return XmlText(doc);
}

std::string BuildParametersDescription(const TDriverClassInfo& AClass) {
  pugi::xml_document doc;
  NewXmlDocument(doc);
  pugi::xml_node page = doc.append_child("Settings").append_child("Page");
  page.append_attribute("Caption") = ResString("ParametersPage").c_str();
  for (const TDriverClassInfo* C = &AClass; C != nullptr; C = C->Parent) {
    for (const TPropertyInfo<TCustomDriver>& P : C->Properties) {
      if (P.Export == nullptr) continue;
      pugi::xml_node param = page.append_child("Parameter");
      param.append_attribute("Name") = P.Name;
      param.append_attribute("Caption") = P.Export->Caption;
      param.append_attribute("TypeValue") = ValueKindText(PropValueKind(P.Kind)).c_str();
      param.append_attribute("DefaultValue") = P.Export->DefValue;
      param.append_attribute("ReadOnly") = XmlBool(P.Export->ReadOnly);
    }
  }
  return XmlText(doc);
}

std::string TCommonDriver::GetParametersDescription() {
  const std::string_view resource = ParametersResource();
  if (resource.empty()) return BuildParametersDescription(ClassInfo());
  pugi::xml_document doc;
  ParseXmlUtf8(resource, doc, ResString("ParametersDescription"));
  return XmlText(doc);
}

// ---- connection ----

void TCommonDriver::ConnectEquipment(const pugi::xml_document& /*ASettings*/) {
  FDeviceID = NewDeviceIdentifier();
}

void TCommonDriver::DisconnectEquipment(const std::string& /*ADeviceID*/) {
  FDeviceID.clear();
}

void TCommonDriver::EquipmentTest(const pugi::xml_document& ASettings, std::string& ADescription,
                                  std::string& ADemoModeIsActivated) {
  ADescription.clear();
  ADemoModeIsActivated.clear();
  std::string error;
  bool failed = false;
  try {
    ConnectEquipment(ASettings);
    ADescription = DriverInfo().Description;
  } catch (const std::exception& E) {
    failed = true;
    error = E.what();
  }
  // The test leaves no connection behind, whatever happened above.
  try {
    DisconnectEquipment(FDeviceID);
  } catch (const std::exception& E) {
    if (!failed) error = E.what();
    failed = true;
  }
  if (failed) {
    ADescription = error;
    throw std::runtime_error(error);
  }
}

// ---- additional actions ----

std::string TCommonDriver::GetAdditionalActions() {
  pugi::xml_document doc;
  NewXmlDocument(doc);
  pugi::xml_node actions = doc.append_child("Actions");
  for (const TDriverClassInfo* C = &ClassInfo(); C != nullptr; C = C->Parent) {
    for (const TAdditionalActionInfo& A : C->Actions) {
      pugi::xml_node action = actions.append_child("Action");
      action.append_attribute("Name") = A.Name;
      action.append_attribute("Caption") = A.Action.Caption;
    }
  }
  return XmlText(doc);
}

void TCommonDriver::DoAdditionalAction(const std::string& AName) {
  bool found = false;
  for (const TDriverClassInfo* C = &ClassInfo(); C != nullptr; C = C->Parent) {
    for (const TAdditionalActionInfo& A : C->Actions) {
      if (AName != A.Name) continue;
      A.Run(*this);
      found = true;
    }
  }
  if (!found) throw std::runtime_error(ResString("ActionNotFound"));
}

void TCommonDriver::ViewLog() {
  TfmLog(GetLogFileName(true)).Show();
}

void TCommonDriver::ShowHelp() {
  TfmDocView("help", "Справка").Show();
}

// ---- LogEnabled ----

bool TCommonDriver::GetLogEnabled() const {
  // What the host set, not the mode the current call's device selected.
  return LogSwitchedOn();
}

void TCommonDriver::SetLogEnabled(bool Value) {
  SetLogSwitch(Value);
  RecordDeviceLogFlag("LogEnabled", FDeviceID, Value);
}

// ---- host methods ----

bool TCommonDriver::GetInterfaceRevision(V8Variant* RetValue, V8Variant* /*Params*/, long /*Count*/,
                                         TV8AddInDefBaseEx* /*V8*/) {
  const int32_t revision = GetInterfaceRevision();
  FLastResult.Clear();
  if (RetValue != nullptr) V8SetInt(RetValue, revision);
  return true;
}

bool TCommonDriver::GetDescription(V8Variant* RetValue, V8Variant* Params, long Count,
                                   TV8AddInDefBaseEx* /*V8*/) {
  return Guarded(RetValue, [&] { SetOutText(Arg(Params, Count, 0), GetDriverDescription()); });
}

bool TCommonDriver::GetLastError(V8Variant* RetValue, V8Variant* Params, long Count,
                                 TV8AddInDefBaseEx* /*V8*/) {
  // Reports the last outcome without changing it.
  if (RetValue != nullptr) V8SetInt(RetValue, FLastResult.GetIntResult());
  if (Params != nullptr && Count > 0) V8SetWString(&Params[0], FLastResult.ErrorDescription);
  return true;
}

bool TCommonDriver::ConnectEquipment(V8Variant* RetValue, V8Variant* Params, long Count,
                                     TV8AddInDefBaseEx* /*V8*/) {
  return Guarded(RetValue, [&] {
    pugi::xml_document settings;
    ParseXmlText(V8ToWideString(Arg(Params, Count, 2)), settings,
                 XmlArgumentCaption("ConnectEquipment", 2));
    ConnectEquipment(settings);
    SetOutText(Arg(Params, Count, 0), FDeviceID);
  });
}

bool TCommonDriver::DisconnectEquipment(V8Variant* RetValue, V8Variant* Params, long Count,
                                        TV8AddInDefBaseEx* /*V8*/) {
  return Guarded(RetValue, [&] { DisconnectEquipment(V8ToUtf8(Arg(Params, Count, 0))); });
}

bool TCommonDriver::EquipmentParameters(V8Variant* RetValue, V8Variant* Params, long Count,
                                        TV8AddInDefBaseEx* /*V8*/) {
  return Guarded(RetValue, [&] { SetOutText(Arg(Params, Count, 1), GetParametersDescription()); });
}

bool TCommonDriver::SetParameter(V8Variant* RetValue, V8Variant* Params, long Count,
                                 TV8AddInDefBaseEx* /*V8*/) {
  return Guarded(RetValue, [&] {
    const std::string name = V8ToUtf8(Arg(Params, Count, 0));
    PropertySet(name, Arg(Params, Count, 1));
  });
}

bool TCommonDriver::EquipmentTest(V8Variant* RetValue, V8Variant* Params, long Count,
                                  TV8AddInDefBaseEx* /*V8*/) {
  // When the parameters ask for a log, the test is traced even though no
  // device is connected yet (the dispatcher's own trace ran suspended).
  const auto traceOut = [&] { V8TraceOut("EquipmentTest", RetValue, Params, Count); };
  try {
    pugi::xml_document settings;
    ParseXmlText(V8ToWideString(Arg(Params, Count, 1)), settings,
                 XmlArgumentCaption("EquipmentTest", 1));
    if (SettingsEnableLog(settings)) {
      SetLogMode(lmAll);
      V8TraceIn("EquipmentTest", Params, Count);
    }
    std::string description, demoMode;
    EquipmentTest(settings, description, demoMode);
    SetOutText(Arg(Params, Count, 2), description);
    SetOutText(Arg(Params, Count, 3), demoMode);
    CallSucceeded(RetValue);
    traceOut();
  } catch (const std::exception& E) {
    HandleCallError(E, RetValue, ErrorCodeOf(E));
    traceOut();
    if (Params != nullptr && Count > 2) V8SetWString(&Params[2], std::string_view(E.what()));
  }
  return true;
}

bool TCommonDriver::GetAdditionalActions(V8Variant* RetValue, V8Variant* Params, long Count,
                                         TV8AddInDefBaseEx* /*V8*/) {
  return Guarded(RetValue, [&] { SetOutText(Arg(Params, Count, 0), GetAdditionalActions()); });
}

bool TCommonDriver::DoAdditionalAction(V8Variant* RetValue, V8Variant* Params, long Count,
                                       TV8AddInDefBaseEx* /*V8*/) {
  return Guarded(RetValue, [&] { DoAdditionalAction(V8ToUtf8(Arg(Params, Count, 0))); });
}

bool TCommonDriver::EquipmentAutoSetup(V8Variant* RetValue, V8Variant* Params, long Count,
                                       TV8AddInDefBaseEx* /*V8*/) {
  // Nothing to set up automatically: the register's parameters come from
  // the user. The third argument echoes the second one's text.
  return Guarded(RetValue,
                 [&] { SetOutText(Arg(Params, Count, 2), V8ToUtf8(Arg(Params, Count, 1))); });
}

bool TCommonDriver::SetApplicationInformation(V8Variant* RetValue, V8Variant* /*Params*/,
                                              long /*Count*/, TV8AddInDefBaseEx* /*V8*/) {
  CallSucceeded(RetValue);
  return true;
}

bool TCommonDriver::GetLocalizationPattern(V8Variant* RetValue, V8Variant* Params, long Count,
                                           TV8AddInDefBaseEx* /*V8*/) {
  return Guarded(RetValue, [&] {
    pugi::xml_document doc;
    NewXmlDocument(doc);
    SetOutText(Arg(Params, Count, 0), XmlText(doc));
  });
}

bool TCommonDriver::SetLocalization(V8Variant* RetValue, V8Variant* /*Params*/, long /*Count*/,
                                    TV8AddInDefBaseEx* /*V8*/) {
  CallSucceeded(RetValue);
  return true;
}
