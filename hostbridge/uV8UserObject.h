// TV8UserObject: base class of every object the host creates through
// GetClassObject. It keeps what the host hands over (connection, memory
// manager, locale) and writes host values with the host's memory manager.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/uClock.h"
#include "hostbridge/v8napi.h"

class TClassReg;

class TV8UserObject {
 public:
  TV8UserObject() = default;
  virtual ~TV8UserObject() = default;
  TV8UserObject(const TV8UserObject&) = delete;
  TV8UserObject& operator=(const TV8UserObject&) = delete;

  // The registration this object was created from (set by GetClassObject).
  TClassReg* ClassReg = nullptr;
  // Host memory manager and host connection; not owned, null until the host sets them.
  TV8MemoryManager* V8MM = nullptr;
  TV8AddInDefBaseEx* V8 = nullptr;
  // The last locale the host announced (UTF-8).
  std::string locale;

  // Hooks run after the bridge stored what the host handed over.
  virtual bool Init() { return true; }
  virtual long GetInfo() { return 2000; }
  virtual void SetLocale() {}
  virtual void Done() {}
  virtual bool SetMemManager() { return true; }

  // Host-value setters. Each clears the target first. The text and blob
  // setters return false when the memory manager is missing or refuses; the
  // target is then left VTYPE_EMPTY, so that no host reads a typed null text.
  bool V8SetBool(V8Variant* V, bool Value);
  bool V8SetInt(V8Variant* V, int32_t Value);
  bool V8SetInt64(V8Variant* V, int64_t Value);
  bool V8SetDouble(V8Variant* V, double Value);
  bool V8SetDate(V8Variant* V, const TDateTime& Value);
  // VTYPE_PWSTR; the UTF-8 overload converts first.
  bool V8SetWString(V8Variant* V, std::u16string_view Value);
  bool V8SetWString(V8Variant* V, std::string_view Utf8Value);
  // VTYPE_PSTR with the bytes as given; a null Value leaves V untouched.
  bool V8SetPChar(V8Variant* V, const char* Value);
  bool V8SetString(V8Variant* V, std::string_view Value);
  // VTYPE_BLOB; a null Value leaves V untouched.
  bool V8SetBlob(V8Variant* V, const void* Value, uint32_t Length);
  // Frees what V holds (through the host's memory manager) and zeroes it.
  void V8ClearVar(V8Variant* V);
};
