#include "driver/uCustomDriver.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "common/Common.Log.h"
#include "common/uCommonUtils.h"
#include "device/uEquipmentErrors.h"
#include "resources/uResources.h"

namespace {

[[noreturn]] void RaiseRes(std::string_view key) {
  throw std::runtime_error(ResString(key));
}

bool ParseDouble(std::string_view text, double& value) {
  std::string s = Trim(text);
  for (char& c : s)
    if (c == ',') c = '.';
  if (s.empty()) return false;
  const char* first = s.data();
  if (*first == '+') ++first;
  const auto [end, ec] = std::from_chars(first, s.data() + s.size(), value);
  return ec == std::errc() && end == s.data() + s.size();
}

int64_t DoubleToInt64(double value, const TV8NativeVariant& original) {
  const double rounded = std::nearbyint(value);
  // 2^63 is exactly representable; anything at or beyond it does not fit.
  if (!(rounded >= -9223372036854775808.0 && rounded < 9223372036854775808.0))
    throw std::runtime_error(ResFormat("VariantNotInteger", {NativeVariantToText(original)}));
  return static_cast<int64_t>(rounded);
}

// A Boolean from a host text value spells itself; other host values follow
// the host's number rule.
bool HostValueToBool(const V8Variant* V) {
  if (V8TypeCode(V) == VTYPE_PWSTR) {
    const std::string text = Trim(V8ToUtf8(V));
    if (SameText(text, "true")) return true;
    if (SameText(text, "false")) return false;
  }
  return V8ToBool(V);
}

// The accessor every exported property is registered with.
constexpr auto kHostPropertyGetSet =
    static_cast<bool (TCustomDriver::*)(const std::string&, V8Variant*, bool, TV8AddInDefBaseEx*)>(
        &TCustomDriver::PropertyGetSet);
constexpr TV8PropGetSetCode kPropertyAccessor = &V8PropGetSet<kHostPropertyGetSet>;

}  // namespace

// ---- value kinds ----

int PropValueKind(TPropKind Kind) {
  switch (Kind) {
    case TPropKind::Integer:
    case TPropKind::Int64:
    case TPropKind::Float:
      return 1;
    case TPropKind::Text:
      return 0;
    case TPropKind::Boolean:
      return 2;
    default:
      return 3;
  }
}

std::string ValueKindText(int Kind) {
  switch (Kind) {
    case 0:
      return "String";
    case 1:
      return "Number";
    case 2:
      return "Boolean";
    case 3:
      return "Unknown";
    default:
      RaiseRes("EnumValueUnacceptable");
  }
}

// ---- native variant conversions ----

int64_t VariantToInt64(const TV8NativeVariant& Value) {
  struct TVisitor {
    const TV8NativeVariant& Original;
    int64_t operator()(std::monostate) const { return 0; }
    int64_t operator()(int32_t v) const { return v; }
    int64_t operator()(int64_t v) const { return v; }
    int64_t operator()(bool v) const { return v ? 1 : 0; }
    int64_t operator()(double v) const { return DoubleToInt64(v, Original); }
    int64_t operator()(const TV8DateValue& v) const { return DoubleToInt64(v.Days, Original); }
    int64_t operator()(const std::string& v) const {
      int64_t result = 0;
      if (!TryStrToInt64(Trim(v), result))
        throw std::runtime_error(ResFormat("VariantNotInteger", {v}));
      return result;
    }
    int64_t operator()(const std::vector<uint8_t>&) const { RaiseRes("ValueTypeUnacceptable"); }
  };
  return std::visit(TVisitor{Value}, Value);
}

double VariantToDouble(const TV8NativeVariant& Value) {
  struct TVisitor {
    double operator()(std::monostate) const { return 0; }
    double operator()(int32_t v) const { return v; }
    double operator()(int64_t v) const { return static_cast<double>(v); }
    double operator()(bool v) const { return v ? 1 : 0; }
    double operator()(double v) const { return v; }
    double operator()(const TV8DateValue& v) const { return v.Days; }
    double operator()(const std::string& v) const {
      double result = 0;
      if (!ParseDouble(v, result)) throw std::runtime_error(ResFormat("VariantNotNumber", {v}));
      return result;
    }
    double operator()(const std::vector<uint8_t>&) const { RaiseRes("ValueTypeUnacceptable"); }
  };
  const double result = std::visit(TVisitor{}, Value);
  // NaN and the infinities are not amounts or quantities any setting can hold.
  if (!std::isfinite(result))
    throw std::runtime_error(ResFormat("VariantNotNumber", {NativeVariantToText(Value)}));
  return result;
}

bool VariantToBool(const TV8NativeVariant& Value) {
  struct TVisitor {
    bool operator()(std::monostate) const { return false; }
    bool operator()(int32_t v) const { return v != 0; }
    bool operator()(int64_t v) const { return v != 0; }
    bool operator()(bool v) const { return v; }
    bool operator()(double v) const { return v != 0; }
    bool operator()(const TV8DateValue& v) const { return v.Days != 0; }
    bool operator()(const std::string& v) const {
      const std::string text = Trim(v);
      if (SameText(text, "true")) return true;
      if (SameText(text, "false")) return false;
      double number = 0;
      if (ParseDouble(text, number)) return number != 0;
      throw std::runtime_error(ResFormat("VariantNotBoolean", {v}));
    }
    bool operator()(const std::vector<uint8_t>&) const { RaiseRes("ValueTypeUnacceptable"); }
  };
  return std::visit(TVisitor{}, Value);
}

std::string VariantToText(const TV8NativeVariant& Value) {
  return NativeVariantToText(Value);
}

TV8NativeVariant ConvertVariantToKind(const TV8NativeVariant& Value, TPropKind Kind) {
  switch (Kind) {
    case TPropKind::Integer: {
      const int64_t v = VariantToInt64(Value);
      if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        throw std::runtime_error(ResFormat("IntegerOutOfRange", {std::to_string(v)}));
      return v;
    }
    case TPropKind::Int64:
      return VariantToInt64(Value);
    case TPropKind::Float:
      return VariantToDouble(Value);
    case TPropKind::Boolean:
      return VariantToBool(Value);
    case TPropKind::Text:
      return VariantToText(Value);
    case TPropKind::Variant:
      return Value;
    default:
      RaiseRes("PropertyTypeUnacceptable");
  }
}

void RecordDeviceLogFlag(std::string_view PropName, const std::string& DeviceID,
                         const TV8NativeVariant& Value) {
  if (DeviceID.empty() || !SameText(PropName, "LogEnabled")) return;
  SetDeviceLogFlag(DeviceID, VariantToBool(Value));
}

std::string PropertyNotFoundInSourceMessage(std::string_view Name) {
  return ResFormat("PropertyNotFoundInSource", {Name});
}

std::string PropertyReadOnlyMessage(std::string_view Name) {
  return ResFormat("PropertyReadOnly", {Name});
}

// ---- TCustomDriver ----

const TDriverClassInfo TCustomDriver::Info = {
    .ClassName = "TCustomDriver",
    .Parent = nullptr,
    .Methods = {},
    .Properties = {},
    .Actions = {},
    .UpdateDriverInfo = nullptr,
};

TCustomDriver::TCustomDriver() {
  FLastResult.Clear();
}

TClassReg& TCustomDriver::RegisterClass(TClassRegList& List, const TDriverClassInfo& AClass,
                                        TV8ObjectFactory AFactory, std::string_view AExtension) {
  // The extension name is both what RegisterExtensionAs answers and the
  // class name the host creates objects by.
  TClassReg& Reg = List.RegisterClass(AFactory, AExtension, AExtension);
  for (const TDriverClassInfo* C = &AClass; C != nullptr; C = C->Parent)
    for (const TExportMethodInfo& M : C->Methods)
      Reg.AddFunc(M.Name, M.Export.NameLoc, M.Export.ParamCount, M.Code);
  for (const TDriverClassInfo* C = &AClass; C != nullptr; C = C->Parent)
    for (const TPropertyInfo<TCustomDriver>& P : C->Properties)
      if (P.Export != nullptr)
        Reg.AddProp(P.Name, P.Export->NameLoc, true, !P.Export->ReadOnly, kPropertyAccessor);
  return Reg;
}

bool TCustomDriver::CallHostMethod(std::string_view AName, V8Variant* RetValue, V8Variant* Params,
                                   long Count) {
  for (const TDriverClassInfo* C = &ClassInfo(); C != nullptr; C = C->Parent)
    for (const TExportMethodInfo& M : C->Methods)
      if (AName == M.Name) return M.Code(*this, RetValue, Params, Count, nullptr);
  throw std::logic_error("no host method " + std::string(AName));
}

TClassReg& TCustomDriver::RegisterDriver(TClassRegList& List, const TDriverClassInfo& AClass,
                                         TV8ObjectFactory AFactory, std::string_view AExtension) {
  TClassReg& Reg = RegisterClass(List, AClass, AFactory, AExtension);
  // Naming the log also writes its start block when logging is on.
  SetLogName(AExtension);
  return Reg;
}

template <class F>
bool TCustomDriver::ForEachExportedProperty(std::string_view PropName, F&& Step) {
  bool found = false;
  for (const TDriverClassInfo* C = &ClassInfo(); C != nullptr; C = C->Parent) {
    for (const TPropertyInfo<TCustomDriver>& P : C->Properties) {
      if (P.Export == nullptr) continue;
      if (!SameText(PropName, P.Name) && !SameText(PropName, P.Export->NameLoc)) continue;
      Step(P);
      found = true;
    }
  }
  return found;
}

bool TCustomDriver::PropertyGetSet(const std::string& PropName, V8Variant* propValue, bool Get,
                                   TV8AddInDefBaseEx* /*v8*/) {
  bool result = true;
  const bool found = ForEachExportedProperty(PropName, [&](const TPropertyInfo<TCustomDriver>& P) {
    if (Get) {
      const TV8NativeVariant value = P.Get(*this);
      switch (P.Kind) {
        case TPropKind::Integer:
        case TPropKind::Int64:
          // The host gets every integer property as a 32-bit integer.
          result = V8SetInt(propValue, static_cast<int32_t>(VariantToInt64(value)));
          break;
        case TPropKind::Boolean:
          result = V8SetBool(propValue, VariantToBool(value));
          break;
        case TPropKind::Float:
          result = V8SetDouble(propValue, VariantToDouble(value));
          break;
        case TPropKind::Text:
          result = V8SetWString(propValue, std::string_view(VariantToText(value)));
          break;
        default:
          RaiseRes("PropertyTypeUnacceptable");
      }
      return;
    }
    if (P.Export->ReadOnly || P.Set == nullptr)
      throw std::runtime_error(PropertyReadOnlyMessage(PropName));
    TV8NativeVariant value;
    switch (P.Kind) {
      case TPropKind::Integer:
      case TPropKind::Int64:
        value = int64_t{V8GetInt(propValue)};
        break;
      case TPropKind::Boolean:
        value = HostValueToBool(propValue);
        break;
      case TPropKind::Float:
        value = V8GetDouble(propValue);
        break;
      case TPropKind::Text:
        if (!V8IsString(propValue)) RaiseRes("ValueTypeUnacceptable");
        value = V8ToUtf8(propValue);
        break;
      default:
        RaiseRes("PropertyTypeUnacceptable");
    }
    P.Set(*this, value);
  });
  if (!found) throw std::runtime_error(ResFormat("PropertyNotFound", {PropName}));
  return result;
}

bool TCustomDriver::PropertySet(const std::string& PropName, V8Variant* propValue) {
  return PropertyGetSet(PropName, propValue, false, nullptr);
}

bool TCustomDriver::PropertyGetSet(const std::string& PropName, const TV8NativeVariant& propValue) {
  const bool found = ForEachExportedProperty(PropName, [&](const TPropertyInfo<TCustomDriver>& P) {
    if (P.Export->ReadOnly || P.Set == nullptr)
      throw std::runtime_error(PropertyReadOnlyMessage(PropName));
    P.Set(*this, ConvertVariantToKind(propValue, P.Kind));
  });
  if (!found) throw std::runtime_error(ResFormat("PropertyNotFound", {PropName}));
  return true;
}

bool TCustomDriver::PropertySet(const std::string& PropName, const TV8NativeVariant& propValue) {
  return PropertyGetSet(PropName, propValue);
}

void TCustomDriver::PropertiesSetDefault() {
  for (const TDriverClassInfo* C = &ClassInfo(); C != nullptr; C = C->Parent)
    for (const TPropertyInfo<TCustomDriver>& P : C->Properties)
      if (P.Export != nullptr && !P.Export->ReadOnly && !SameText(P.Name, "LogEnabled"))
        PropertySet(P.Name, TV8NativeVariant(std::string(P.Export->DefValue)));
}

void TCustomDriver::CallSucceeded(V8Variant* RetValue) {
  FLastResult.Clear();
  if (RetValue != nullptr) V8SetBool(RetValue, true);
}

int32_t ErrorCodeOf(const std::exception& E) {
  const auto* coded = dynamic_cast<const EquException*>(&E);
  return coded != nullptr ? coded->Code : kGeneralErrorCode;
}

void TCustomDriver::HandleCallError(const std::exception& E, V8Variant* RetValue,
                                    int32_t ErrorCode) {
  FLastResult.SetError(E.what(), ErrorCode);
  if (RetValue != nullptr) V8SetBool(RetValue, false);
  WriteLog("Exception", E.what(), llError);
}

V8Variant* TCustomDriver::Arg(V8Variant* Params, long Count, long Index) {
  if (Params == nullptr || Index >= Count)
    throw std::runtime_error(ResFormat("ArgumentMissing", {std::to_string(Index + 1)}));
  return &Params[Index];
}

void TCustomDriver::SetOutText(V8Variant* V, std::string_view Utf8Text) {
  if (!V8SetWString(V, Utf8Text)) RaiseRes("HostAllocFailed");
}
