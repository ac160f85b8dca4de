// The typed arguments of quarnel-host and the lines of its scripts.
//
//   s:TEXT   a text            i:42     a 32-bit integer    d:12.5   a number
//   b:true   a Boolean         @FILE    the text of a file  -        an out-argument
//
// "$NAME" in a token stands for a bound variable (run scripts bind $DEVICE);
// "$$" is a plain "$".
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/uAddInHost.h"

// Something the user wrote that cannot be used as it stands; the message says
// what was wrong and what to write instead.
class EHostUsage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using THostVariables = std::map<std::string, std::string>;

struct THostCallArg {
  THostArg Value = THostArg::Empty();
  bool Out = false;   // "-": printed after the call
  std::string Shown;  // how the call line shows it
};

// Argument `Index` (numbered from 0, as the platform numbers them). A relative
// @FILE is read from BaseDir. Throws EHostUsage.
THostCallArg ParseHostArgument(const std::string& Token, size_t Index, const std::string& BaseDir,
                               const THostVariables& Vars);

// "$NAME" replaced by its value; throws EHostUsage for a name not bound.
std::string SubstituteVariables(const std::string& Text, const THostVariables& Vars);

// Whether Text uses the variable Name.
bool UsesVariable(const std::string& Text, const std::string& Name);

// A script line split at blanks; double quotes keep blanks in a token and
// drop out of it, \" and \\ inside them stand for " and \. Throws EHostUsage
// for an unclosed quote.
std::vector<std::string> SplitScriptLine(const std::string& Line);

// A call line for people: long texts and XML documents shortened.
std::string ShowToken(const std::string& Token);
