// Answers to the host's language-extension questions about one object, from
// the object's class registration, and the traced dispatch of its method calls
// and property accesses. No exception leaves these functions: a std::exception
// becomes one AddError to the host plus an "EXCEPTION" log line, and false.
#pragma once

#include "hostbridge/uClassReg.h"
#include "hostbridge/uV8UserObject.h"

// Host error reported for an exception that ends a host call.
constexpr unsigned short kV8ExceptionErrorCode = 1006;
constexpr long kV8ExceptionSCode = static_cast<long>(0x80004005);
inline constexpr char kV8ExceptionSource[] = "Внешняя компонента";

bool V8RegisterExtensionAs(TV8UserObject& Obj, WCHAR_T** ExtensionName);
const WCHAR_T* V8GetPropName(TV8UserObject& Obj, long Number, long Alias);
const WCHAR_T* V8GetMethodName(TV8UserObject& Obj, long Number, long Alias);
bool V8GetParamDefValue(TV8UserObject& Obj, long Method, long Param, V8Variant* Value);
bool V8GetPropVal(TV8UserObject& Obj, long Number, V8Variant* Value);
bool V8SetPropVal(TV8UserObject& Obj, long Number, V8Variant* Value);
// RetValue may be null (a call as a procedure).
bool V8CallMethod(TV8UserObject& Obj, long Number, V8Variant* RetValue, V8Variant* Params,
                  long Count);

// "[a; b; BLOB]": the argument text of the call trace.
std::string V8ParamsText(const V8Variant* Params, long Count);
// The call trace's lines "> Name" (the arguments) and "< Name" (the result
// and the arguments), at llDebug under the log's current selection. Best
// effort: a failure is noted in the log and never reaches the call.
void V8TraceIn(const std::string& Name, const V8Variant* Params, long Count) noexcept;
void V8TraceOut(const std::string& Name, const V8Variant* RetValue, const V8Variant* Params,
                long Count) noexcept;
// Reports an exception that ended a host call (AddError and the log line).
void V8ReportException(TV8UserObject& Obj, const std::string& Message);
