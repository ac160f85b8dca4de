// quarnel-host run: a plain-text script of calls, one per line,
//
//   # a comment
//   ConnectEquipment - - @tcp.xml
//   OpenShift $DEVICE @cashier.xml -
//
// with $DEVICE bound to the identifier the last ConnectEquipment returned and
// relative @FILE names read from the script's folder. Every line is checked
// (method, argument count, arguments, files) before the first one runs; the
// run stops at the first call that fails, naming its line.
#pragma once

#include <ostream>
#include <string>

#include "host/uAddInHost.h"

// Exit status: 0 every line succeeded, 1 a call failed, 2 the script is wrong.
int RunHostScript(TAddInHost& Host, const std::string& Path, std::ostream& Out, std::ostream& Err);
