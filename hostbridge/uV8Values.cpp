#include "hostbridge/uV8Values.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "common/uCommonUtils.h"

namespace {

// Day number of 1899-12-30 counted from 1970-01-01.
constexpr int64_t kV8DateEpoch = -25569;
constexpr double kMsPerDay = 86400000.0;

// Whole-text integer; out of the 32-bit range counts as not parsing.
int32_t TextToInt(const std::string& text) {
  int64_t value = 0;
  if (!TryStrToInt64(Trim(text), value)) return 0;
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
    return 0;
  return static_cast<int32_t>(value);
}

// Whole-text number; the user's separator may be ',' or '.'.
double TextToDouble(const std::string& text) {
  std::string s = Trim(text);
  if (s.find('.') == std::string::npos) {
    const auto comma = s.find(',');
    if (comma != std::string::npos) s[comma] = '.';
  }
  const char* first = s.data();
  const char* last = s.data() + s.size();
  if (first != last && *first == '+') ++first;
  double value = 0;
  const auto [end, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || end != last || !std::isfinite(value)) return 0;
  return value;
}

// A number to a 32-bit integer, truncated toward zero; NaN reads as 0 and
// values beyond the 32-bit range are pinned to it rather than wrapped.
int32_t TruncToInt(double value) {
  if (std::isnan(value)) return 0;
  const double t = std::trunc(value);
  if (t <= std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  if (t >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(t);
}

const char* const kTypeNames[] = {
    "VTYPE_EMPTY", "VTYPE_NULL",    "VTYPE_I2",      "VTYPE_I4",   "VTYPE_R4",
    "VTYPE_R8",    "VTYPE_DATE",    "VTYPE_TM",      "VTYPE_PSTR", "VTYPE_INTERFACE",
    "VTYPE_ERROR", "VTYPE_BOOL",    "VTYPE_VARIANT", "VTYPE_I1",   "VTYPE_UI1",
    "VTYPE_UI2",   "VTYPE_UI4",     "VTYPE_I8",      "VTYPE_UI8",  "VTYPE_INT",
    "VTYPE_UINT",  "VTYPE_HRESULT", "VTYPE_PWSTR",   "VTYPE_BLOB", "VTYPE_CLSID",
};

}  // namespace

bool V8IsString(const V8Variant* V) {
  const uint16_t code = V8TypeCode(V);
  return code == VTYPE_PSTR || code == VTYPE_PWSTR;
}

const WCHAR_T* V8GetPWideChar(const V8Variant* V) {
  return V8TypeCode(V) == VTYPE_PWSTR ? V->pwstrVal : nullptr;
}

std::u16string V8ToWideString(const V8Variant* V) {
  // Exactly wstrLen code units: a zero inside belongs to the text, and
  // nothing past the host's block is read when the terminator is missing.
  const WCHAR_T* text = V8GetPWideChar(V);
  if (text == nullptr) return {};
  return std::u16string(V8Utf16(text), V->wstrLen);
}

std::string V8ToUtf8(const V8Variant* V) {
  return Utf16ToUtf8(V8ToWideString(V));
}

int32_t V8GetInt(const V8Variant* V) {
  return V8TypeCode(V) == VTYPE_I4 ? V->lVal : V8ToInt(V);
}

int32_t V8ToInt(const V8Variant* V) {
  // Text must spell a whole number; every numeric type is truncated.
  return V8TypeCode(V) == VTYPE_PWSTR ? TextToInt(V8ToUtf8(V)) : TruncToInt(V8ToDouble(V));
}

double V8GetDouble(const V8Variant* V) {
  return V8TypeCode(V) == VTYPE_R8 ? V->dblVal : V8ToDouble(V);
}

double V8ToDouble(const V8Variant* V) {
  switch (V8TypeCode(V)) {
    case VTYPE_I2:
      return V->shortVal;
    case VTYPE_I4:
      return V->lVal;
    case VTYPE_R4:
      return V->fltVal;
    case VTYPE_R8:  // normally answered by V8GetDouble; a direct call must not read 0
      return V->dblVal;
    case VTYPE_DATE:
      return V->date;
    case VTYPE_ERROR:
      return V->errCode;
    case VTYPE_UI1:
      return V->ui8Val;
    // The other integer types are numbers too: a 64-bit amount or number
    // must not silently read as 0.
    case VTYPE_I1:
      return V->i8Val;
    case VTYPE_UI2:
      return V->ushortVal;
    case VTYPE_INT:
      return V->intVal;
    case VTYPE_UI4:
    case VTYPE_UINT:
      return V->ulVal;
    case VTYPE_I8:
      return static_cast<double>(V->llVal);
    case VTYPE_UI8:
      return static_cast<double>(V->ullVal);
    case VTYPE_PWSTR:
      return TextToDouble(V8ToUtf8(V));
    default:
      return 0;
  }
}

bool V8ToBool(const V8Variant* V) {
  if (V8TypeCode(V) != VTYPE_BOOL) return V8ToInt(V) != 0;
  // The flag's byte as the host wrote it: a byte other than 0 or 1 read as a
  // C++ bool is undefined, and any non-zero byte means true.
  uint8_t byte = 0;
  std::memcpy(&byte, &V->bVal, 1);
  return byte != 0;
}

double DateTimeToV8Date(const TDateTime& Value) {
  if (Value.IsEmpty()) return 0;
  const int64_t days = DaysFromCivil(Value.Year, static_cast<unsigned>(Value.Month),
                                     static_cast<unsigned>(Value.Day)) -
                       kV8DateEpoch;
  const double time =
      ((Value.Hour * 60.0 + Value.Minute) * 60.0 + Value.Second) * 1000.0 + Value.Millisecond;
  // Before the epoch the fraction still counts forward within the day.
  return days >= 0 ? days + time / kMsPerDay : days - time / kMsPerDay;
}

TDateTime V8DateToDateTime(double Value) {
  if (!std::isfinite(Value) || std::fabs(Value) > 3e6)  // beyond year 9999
    throw std::runtime_error("Invalid argument to date encode");
  int64_t days = static_cast<int64_t>(std::trunc(Value));
  int64_t ms = std::llround(std::fabs(Value - static_cast<double>(days)) * kMsPerDay);
  if (ms >= 86400000) {
    ms -= 86400000;
    days += Value < 0 ? -1 : 1;
  }
  TDateTime result;
  CivilFromDays(days + kV8DateEpoch, result.Year, result.Month, result.Day);
  result.Hour = static_cast<int>(ms / 3600000);
  result.Minute = static_cast<int>(ms / 60000 % 60);
  result.Second = static_cast<int>(ms / 1000 % 60);
  result.Millisecond = static_cast<int>(ms % 1000);
  return result;
}

TDateTime V8ToDateTime(const V8Variant* V) {
  switch (V8TypeCode(V)) {
    case VTYPE_R8:
      return V8DateToDateTime(V->dblVal);
    case VTYPE_DATE:
      return V8DateToDateTime(V->date);
    case VTYPE_TM: {
      const struct tm& t = V->tmVal;
      // The host's fields may hold anything: add the offsets without overflow.
      const int64_t year = int64_t{t.tm_year} + 1900;
      const int64_t month = int64_t{t.tm_mon} + 1;
      if (year < 1 || year > 9999 || month < 1 || month > 12 ||
          !TDateTime::IsValidDate(static_cast<int>(year), static_cast<int>(month), t.tm_mday))
        throw std::runtime_error("Invalid argument to date encode");
      TDateTime result;
      result.Year = static_cast<int>(year);
      result.Month = static_cast<int>(month);
      result.Day = t.tm_mday;
      if (!TDateTime::IsValidTime(t.tm_hour, t.tm_min, t.tm_sec))
        throw std::runtime_error("Invalid argument to time encode");
      result.Hour = t.tm_hour;
      result.Minute = t.tm_min;
      result.Second = t.tm_sec;
      return result;
    }
    default:
      return TDateTime{};
  }
}

std::string V8TypeName(const V8Variant* V) {
  const uint16_t code = V8TypeCode(V);
  std::string name;
  if (code < std::size(kTypeNames))
    name = kTypeNames[code];
  else if (code == VTYPE_STR_BLOB)
    name = "VTYPE_STR_BLOB";
  else
    return "unknown type";
  if (V->vt & VTYPE_BYREF)
    name += " by ref";
  else if (V->vt & VTYPE_ARRAY)
    name += " array";
  else if (V->vt & VTYPE_VECTOR)
    name += " vector";
  return name;
}

void V8CheckSupportedType(const V8Variant* V) {
  switch (V->vt) {
    case VTYPE_EMPTY:
    case VTYPE_I4:
    case VTYPE_R8:
    case VTYPE_TM:
    case VTYPE_INTERFACE:
    case VTYPE_BOOL:
    case VTYPE_I8:
    case VTYPE_PWSTR:
    case VTYPE_BLOB:
      return;
    default:
      throw EV8UnsupportedType("Unsupported data type - " + V8TypeName(V));
  }
}

TV8NativeVariant V8ToVariant(const V8Variant* V) {
  switch (V->vt) {
    case VTYPE_EMPTY:
      return std::monostate{};
    case VTYPE_I4:
      return V->lVal;
    case VTYPE_R8:
      return V->dblVal;
    case VTYPE_TM:
      return TV8DateValue{DateTimeToV8Date(V8ToDateTime(V))};
    case VTYPE_INTERFACE: {
      int32_t word = 0;
      std::memcpy(&word, &V->pInterfaceVal, sizeof word);
      return TV8DateValue{static_cast<double>(word)};
    }
    case VTYPE_BOOL:
      return V8ToBool(V);
    case VTYPE_I8:
      return static_cast<int64_t>(V->llVal);
    case VTYPE_PWSTR:
      return V8ToUtf8(V);
    case VTYPE_BLOB: {
      const auto* bytes = reinterpret_cast<const uint8_t*>(V->pstrVal);
      if (bytes == nullptr) return std::vector<uint8_t>{};
      return std::vector<uint8_t>(bytes, bytes + V->strLen);
    }
    default:
      throw EV8UnsupportedType("Unsupported data type - " + V8TypeName(V));
  }
}

std::string NativeVariantToText(const TV8NativeVariant& Value) {
  struct TVisitor {
    std::string operator()(std::monostate) const { return {}; }
    std::string operator()(int32_t v) const { return std::to_string(v); }
    std::string operator()(int64_t v) const { return std::to_string(v); }
    std::string operator()(bool v) const { return v ? "True" : "False"; }
    std::string operator()(double v) const {
      char buffer[40];
      std::snprintf(buffer, sizeof buffer, "%.15g", v);
      return buffer;
    }
    std::string operator()(const TV8DateValue& v) const {
      const TDateTime d = V8DateToDateTime(v.Days);
      char buffer[40];
      if (d.Hour == 0 && d.Minute == 0 && d.Second == 0)
        std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d", d.Day, d.Month, d.Year);
      else
        std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d %02d:%02d:%02d", d.Day, d.Month,
                      d.Year, d.Hour, d.Minute, d.Second);
      return buffer;
    }
    std::string operator()(const std::string& v) const { return v; }
    std::string operator()(const std::vector<uint8_t>& v) const {
      return BytesToHex(std::string_view(reinterpret_cast<const char*>(v.data()), v.size()));
    }
  };
  return std::visit(TVisitor{}, Value);
}

std::string V8ToText(const V8Variant* V) {
  return NativeVariantToText(V8ToVariant(V));
}

WCHAR_T* HostStringCopy(TV8MemoryManager* MemoryManager, std::u16string_view Text) {
  if (MemoryManager == nullptr) return nullptr;
  void* block = nullptr;
  const unsigned long bytes = (Text.size() + 1) * sizeof(WCHAR_T);
  if (!MemoryManager->AllocMemory(&block, bytes) || block == nullptr) return nullptr;
  auto* text = static_cast<WCHAR_T*>(block);
  std::memcpy(text, Text.data(), Text.size() * sizeof(WCHAR_T));
  text[Text.size()] = 0;
  return text;
}

WCHAR_T* HostStringCopy(TV8MemoryManager* MemoryManager, std::string_view Utf8Text) {
  return HostStringCopy(MemoryManager, std::u16string_view(Utf8ToUtf16(Utf8Text)));
}
