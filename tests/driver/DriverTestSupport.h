// In-process helpers for the driver classes: a parameter array built the way
// the platform builds one, with texts from a counting memory manager.
#pragma once

#include <string>
#include <vector>

#include "common/uCommonUtils.h"
#include "hostbridge/uV8UserObject.h"
#include "hostbridge/uV8Values.h"
#include "support/TestHost.h"

class TParamArray {
 public:
  TParamArray(TV8UserObject& Obj, TTestMemoryManager& Memory, size_t Count)
      : FObj(Obj), FMemory(Memory), FValues(Count) {}
  ~TParamArray() {
    for (V8Variant& v : FValues) FObj.V8ClearVar(&v);
    FObj.V8ClearVar(&Result);
  }
  TParamArray(const TParamArray&) = delete;
  TParamArray& operator=(const TParamArray&) = delete;

  TParamArray& Text(size_t Index, const std::string& Utf8) {
    return Wide(Index, Utf8ToUtf16(Utf8));
  }
  TParamArray& Wide(size_t Index, const std::u16string& Text) {
    V8Variant& v = FValues.at(Index);
    FObj.V8ClearVar(&v);
    void* block = nullptr;
    FMemory.AllocMemory(&block, (Text.size() + 1) * sizeof(char16_t));
    auto* chars = static_cast<char16_t*>(block);
    Text.copy(chars, Text.size());
    chars[Text.size()] = 0;
    v.vt = VTYPE_PWSTR;
    v.pwstrVal = chars;
    v.wstrLen = static_cast<uint32_t>(Text.size());
    return *this;
  }
  TParamArray& Int(size_t Index, int32_t Value) {
    FObj.V8SetInt(&FValues.at(Index), Value);
    return *this;
  }
  TParamArray& Double(size_t Index, double Value) {
    FObj.V8SetDouble(&FValues.at(Index), Value);
    return *this;
  }
  TParamArray& Bool(size_t Index, bool Value) {
    FObj.V8SetBool(&FValues.at(Index), Value);
    return *this;
  }

  V8Variant* Data() { return FValues.data(); }
  long Count() const { return static_cast<long>(FValues.size()); }
  V8Variant& operator[](size_t Index) { return FValues.at(Index); }
  std::string TextAt(size_t Index) { return V8ToUtf8(&FValues.at(Index)); }

  V8Variant Result{};

 private:
  TV8UserObject& FObj;
  TTestMemoryManager& FMemory;
  std::vector<V8Variant> FValues;
};
