#include "hostbridge/uClassReg.h"

#include <cstring>

#include "common/uCommonUtils.h"

V8Variant& TDefParamList::AddParam(int32_t Number) {
  TDefParamValue entry{};
  entry.ParamNum = Number - 1;
  Values.push_back(entry);
  TempParam = &Values.back().Value;
  return *TempParam;
}

void TDefParamList::AddInt(int32_t Value, int32_t Number) {
  V8Variant& v = AddParam(Number);
  v.vt = VTYPE_I4;
  v.lVal = Value;
}

void TDefParamList::AddDouble(double Value, int32_t Number) {
  V8Variant& v = AddParam(Number);
  v.vt = VTYPE_R8;
  v.dblVal = Value;
}

void TDefParamList::AddBool(bool Value, int32_t Number) {
  V8Variant& v = AddParam(Number);
  v.vt = VTYPE_BOOL;
  v.bVal = Value;
}

void TDefParamList::AddDate(double Value, int32_t Number) {
  V8Variant& v = AddParam(Number);
  v.vt = VTYPE_DATE;
  v.date = Value;
}

void TDefParamList::AddWString(const WCHAR_T* Value, int32_t Number) {
  V8Variant& v = AddParam(Number);
  v.vt = VTYPE_PWSTR;
  v.pwstrVal = const_cast<WCHAR_T*>(Value);
  v.wstrLen = static_cast<uint32_t>(Value ? std::char_traits<WCHAR_T>::length(Value) : 0);
}

void TDefParamList::AddAString(const char* Value, int32_t Number) {
  V8Variant& v = AddParam(Number);
  v.vt = VTYPE_PSTR;
  v.pstrVal = const_cast<char*>(Value);
  v.strLen = static_cast<uint32_t>(Value ? std::strlen(Value) : 0);
}

TClassReg::TClassReg(TV8ObjectFactory AUserClass, std::string_view ARegisterExtensionAs,
                     std::string_view ANatApiClassName)
    : UserClass(AUserClass),
      RegisterExtensionAs(Utf8ToUtf16(ARegisterExtensionAs)),
      NatApiClassName(Utf8ToUtf16(ANatApiClassName)) {}

TMethReg& TClassReg::AddMethod(std::string_view MethName, std::string_view MethNameLoc,
                               bool IsFunction, int32_t ParamCount) {
  auto reg = std::make_unique<TMethReg>();
  reg->MethName = Utf8ToUtf16(MethName);
  reg->MethNameLoc = Utf8ToUtf16(MethNameLoc);
  reg->IsFunction = IsFunction;
  reg->ParamCount = ParamCount;
  MethList.push_back(std::move(reg));
  return *MethList.back();
}

TMethReg& TClassReg::AddFunc(std::string_view MethName, std::string_view MethNameLoc,
                             int32_t ParamCount, TV8FuncCode Func) {
  TMethReg& reg = AddMethod(MethName, MethNameLoc, true, ParamCount);
  reg.Func = Func;
  return reg;
}

TMethReg& TClassReg::AddProc(std::string_view MethName, std::string_view MethNameLoc,
                             int32_t ParamCount, TV8ProcCode Proc) {
  TMethReg& reg = AddMethod(MethName, MethNameLoc, false, ParamCount);
  reg.Proc = Proc;
  return reg;
}

void TClassReg::AddFuncs(std::span<const TMethDef> Table) {
  for (const TMethDef& row : Table) AddFunc(row.Name, row.NameLoc, row.ParamCount, row.Func);
}

TPropReg& TClassReg::AddProp(std::string_view PropName, std::string_view PropNameLoc,
                             bool IsReadable, bool IsWritable, TV8PropGetSetCode PropGetSet) {
  auto reg = std::make_unique<TPropReg>();
  reg->PropName = Utf8ToUtf16(PropName);
  reg->PropNameLoc = Utf8ToUtf16(PropNameLoc);
  reg->IsReadable = IsReadable;
  reg->IsWritable = IsWritable;
  reg->PropGetSet = PropGetSet;
  PropList.push_back(std::move(reg));
  return *PropList.back();
}

long TClassReg::FindMethod(std::u16string_view Name) const {
  for (size_t i = 0; i < MethList.size(); ++i)
    if (MethList[i]->MethNameLoc == Name || MethList[i]->MethName == Name)
      return static_cast<long>(i);
  return -1;
}

long TClassReg::FindProp(std::u16string_view Name) const {
  for (size_t i = 0; i < PropList.size(); ++i)
    if (PropList[i]->PropNameLoc == Name || PropList[i]->PropName == Name)
      return static_cast<long>(i);
  return -1;
}

TClassReg& TClassRegList::RegisterClass(TV8ObjectFactory UserClass,
                                        std::string_view RegisterExtensionAs,
                                        std::string_view NatApiClassName) {
  ClassList.push_back(std::make_unique<TClassReg>(UserClass, RegisterExtensionAs, NatApiClassName));
  if (!FClassNames.empty()) FClassNames += u'|';
  FClassNames += ClassList.back()->NatApiClassName;
  return *ClassList.back();
}

TClassReg* TClassRegList::FindClass(std::u16string_view NatApiClassName) {
  for (auto& reg : ClassList)
    if (reg->NatApiClassName == NatApiClassName) return reg.get();
  return nullptr;
}
