// Reading host values, and the one place where host values meet C++ values.
//
// Text arguments: V8ToUtf8 (or V8ToWideString for the raw UTF-16). Numbers and
// flags: V8GetInt, V8GetDouble, V8ToBool. Type checks: V8IsString. Results
// are written with the setters of TV8UserObject (uV8UserObject.h), which
// allocate through the host's memory manager.
//
// An 8-bit host text where a wide one is expected reads as empty: the host
// always sends texts as UTF-16, so an 8-bit one is not trusted to be in any
// particular code page.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "common/uClock.h"
#include "hostbridge/v8napi.h"

// Type code without the flag bits.
inline uint16_t V8TypeCode(const V8Variant* V) {
  return V->vt & VTYPE_TYPEMASK;
}

bool V8IsString(const V8Variant* V);
// pwstrVal for a VTYPE_PWSTR value, else nullptr.
const WCHAR_T* V8GetPWideChar(const V8Variant* V);
// The UTF-16 text of exactly wstrLen code units (a zero inside is kept);
// empty for every other type and for a null pointer.
std::u16string V8ToWideString(const V8Variant* V);
// The same text as UTF-8 (lone surrogates become U+FFFD).
std::string V8ToUtf8(const V8Variant* V);

// lVal for VTYPE_I4, else V8ToInt.
int32_t V8GetInt(const V8Variant* V);
// Integer value of numeric types (floats truncated toward zero, values
// beyond 32 bits pinned to the range) and of decimal text; 0 for everything
// else and for text that does not parse.
int32_t V8ToInt(const V8Variant* V);
// dblVal for VTYPE_R8, else V8ToDouble.
double V8GetDouble(const V8Variant* V);
// Floating-point value of numeric types and of text (either '.' or the
// locale's separator accepted); 0 when it does not parse.
double V8ToDouble(const V8Variant* V);
// bVal for VTYPE_BOOL, else V8ToInt != 0.
bool V8ToBool(const V8Variant* V);

// Date-time of VTYPE_R8/VTYPE_DATE (days since 1899-12-30) and VTYPE_TM; an
// empty TDateTime for other types. An impossible calendar time raises
// std::runtime_error.
TDateTime V8ToDateTime(const V8Variant* V);
// Conversions between the platform's day count and the calendar form.
double DateTimeToV8Date(const TDateTime& Value);
TDateTime V8DateToDateTime(double Value);

// "VTYPE_PWSTR", "VTYPE_PWSTR by ref", ..., "unknown type".
std::string V8TypeName(const V8Variant* V);

// A host value as a C++ value (used by the call trace and by property writes).
struct TV8DateValue {
  double Days;  // days since 1899-12-30
  friend bool operator==(const TV8DateValue&, const TV8DateValue&) = default;
};
using TV8NativeVariant = std::variant<std::monostate,         // unassigned
                                      int32_t,                // VTYPE_I4
                                      double,                 // VTYPE_R8
                                      TV8DateValue,           // VTYPE_TM, VTYPE_INTERFACE
                                      bool,                   // VTYPE_BOOL
                                      int64_t,                // VTYPE_I8
                                      std::string,            // VTYPE_PWSTR, as UTF-8
                                      std::vector<uint8_t>>;  // VTYPE_BLOB

// The error raised for a host value the driver cannot convert.
class EV8UnsupportedType : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raises EV8UnsupportedType("Unsupported data type - <V8TypeName>") for any
// type word (flags included) other than EMPTY, I4, R8, TM, INTERFACE, BOOL,
// I8, PWSTR and BLOB.
TV8NativeVariant V8ToVariant(const V8Variant* V);
// Raises V8ToVariant's error for a type word it does not take, converting nothing.
void V8CheckSupportedType(const V8Variant* V);
// The ordinary text form of V8ToVariant's result.
std::string V8ToText(const V8Variant* V);
std::string NativeVariantToText(const TV8NativeVariant& Value);

// Copies a text into a zero-terminated UTF-16 block allocated from the host's
// memory manager; nullptr when there is no manager or it refuses.
WCHAR_T* HostStringCopy(TV8MemoryManager* MemoryManager, std::u16string_view Text);
WCHAR_T* HostStringCopy(TV8MemoryManager* MemoryManager, std::string_view Utf8Text);
