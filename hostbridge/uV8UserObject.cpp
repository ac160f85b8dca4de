#include "hostbridge/uV8UserObject.h"

#include <cstring>
#include <exception>

#include "common/Common.Log.h"
#include "common/uCommonUtils.h"
#include "hostbridge/uV8Values.h"

namespace {

// Allocates Bytes from the host; false leaves the pointer null.
bool AllocInto(TV8MemoryManager* MemoryManager, void** Target, unsigned long Bytes) {
  *Target = nullptr;
  if (MemoryManager == nullptr) return false;
  void* block = nullptr;
  if (!MemoryManager->AllocMemory(&block, Bytes) || block == nullptr) return false;
  *Target = block;
  return true;
}

}  // namespace

void TV8UserObject::V8ClearVar(V8Variant* V) {
  try {
    switch (V8TypeCode(V)) {
      case VTYPE_PSTR:
      case VTYPE_PWSTR:
      case VTYPE_BLOB: {
        // pstrVal and pwstrVal share the first word of the value area.
        void* block = V->pstrVal;
        if (block != nullptr && V8MM != nullptr) V8MM->FreeMemory(&block);
        break;
      }
      default:
        // An interface value is only forgotten: the platform defines no
        // reference-counting shape for it that we could call safely.
        break;
    }
  } catch (const std::exception& e) {
    try {
      WriteLog("EXCEPTION V8ClearVar", e.what(), llError);
    } catch (...) {
    }
  }
  std::memset(static_cast<void*>(V), 0, sizeof(V8Variant));
}

bool TV8UserObject::V8SetBool(V8Variant* V, bool Value) {
  V8ClearVar(V);
  V->vt = VTYPE_BOOL;
  V->bVal = Value;
  return true;
}

bool TV8UserObject::V8SetInt(V8Variant* V, int32_t Value) {
  V8ClearVar(V);
  V->vt = VTYPE_I4;
  V->lVal = Value;
  return true;
}

bool TV8UserObject::V8SetInt64(V8Variant* V, int64_t Value) {
  V8ClearVar(V);
  V->vt = VTYPE_I8;
  V->llVal = Value;
  return true;
}

bool TV8UserObject::V8SetDouble(V8Variant* V, double Value) {
  V8ClearVar(V);
  V->vt = VTYPE_R8;
  V->dblVal = Value;
  return true;
}

bool TV8UserObject::V8SetDate(V8Variant* V, const TDateTime& Value) {
  V8ClearVar(V);
  V->vt = VTYPE_DATE;
  V->date = DateTimeToV8Date(Value);
  return true;
}

bool TV8UserObject::V8SetWString(V8Variant* V, std::u16string_view Value) {
  V8ClearVar(V);
  void* block = nullptr;
  if (!AllocInto(V8MM, &block, (Value.size() + 1) * sizeof(WCHAR_T))) return false;
  auto* text = static_cast<WCHAR_T*>(block);
  std::memcpy(text, Value.data(), Value.size() * sizeof(WCHAR_T));
  text[Value.size()] = 0;
  V->vt = VTYPE_PWSTR;
  V->pwstrVal = text;
  V->wstrLen = static_cast<uint32_t>(Value.size());
  return true;
}

bool TV8UserObject::V8SetWString(V8Variant* V, std::string_view Utf8Value) {
  return V8SetWString(V, std::u16string_view(Utf8ToUtf16(Utf8Value)));
}

bool TV8UserObject::V8SetPChar(V8Variant* V, const char* Value) {
  if (Value == nullptr) return true;
  return V8SetString(V, std::string_view(Value));
}

bool TV8UserObject::V8SetString(V8Variant* V, std::string_view Value) {
  V8ClearVar(V);
  void* block = nullptr;
  if (!AllocInto(V8MM, &block, Value.size() + 1)) return false;
  auto* text = static_cast<char*>(block);
  std::memcpy(text, Value.data(), Value.size());
  text[Value.size()] = 0;
  V->vt = VTYPE_PSTR;
  V->pstrVal = text;
  V->strLen = static_cast<uint32_t>(Value.size());
  return true;
}

bool TV8UserObject::V8SetBlob(V8Variant* V, const void* Value, uint32_t Length) {
  if (Value == nullptr) return true;
  V8ClearVar(V);
  // An empty block is a null pointer with length 0: nothing to allocate.
  if (Length == 0) {
    V->vt = VTYPE_BLOB;
    return true;
  }
  void* block = nullptr;
  if (!AllocInto(V8MM, &block, Length)) return false;
  std::memcpy(block, Value, Length);
  V->vt = VTYPE_BLOB;
  V->pstrVal = static_cast<char*>(block);
  V->strLen = Length;
  return true;
}
