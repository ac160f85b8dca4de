// The add-in's methods as quarnel-host shows them: names, counts and each
// argument's name, direction and type (from driver/uMethodArguments.h), for
// `methods` and `call METHOD --help`.
#pragma once

#include <ostream>
#include <string>

#include "driver/uMethodArguments.h"
#include "host/uAddInHost.h"

// The arguments of method Number of the loaded add-in, by its English name;
// null for a method this host has no row for (a library of another build).
const TMethodSignature* HostMethodSignature(TAddInHost& Host, long Number);

// "in", "out" or "not read"; "text", "XML text", "Boolean", ...
const char* ArgDirectionText(TArgDirection Direction);
const char* ArgTypeText(TArgType Type);
// "2 CheckPackage (in, XML text)": an argument as messages name it.
std::string ArgumentText(const TMethodSignature& Signature, size_t Index);

// Every method with its arguments, then the properties.
void ListHostMethods(TAddInHost& Host, std::ostream& Out);
// One method: its names, what each argument is and how to write it, and a
// call line to start from.
void DescribeHostMethod(TAddInHost& Host, long Number, std::ostream& Out);
