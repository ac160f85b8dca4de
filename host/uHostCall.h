// One call of an add-in method the way quarnel-host shows it: the call line,
// the result value, every out-argument (XML pretty-printed) and, when the
// method failed, its GetLastError.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "host/uAddInHost.h"
#include "host/uHostArgs.h"

// A text that is an XML document, indented one element per line with each
// attribute on its own line; any other text as it is.
std::string PrettyXml(const std::string& Text);
// A host value as text: Booleans "true"/"false", numbers, texts (XML pretty).
std::string ShowValue(const V8Variant& V);

struct THostCallOutcome {
  bool Success = false;  // the result value is true (or a value that is no Boolean)
  std::string Error;     // why not, in one line
  std::optional<TCallResult> Call;
  // The text of argument Index after the call, or empty.
  std::string OutText(size_t Index) const;
};

class THostCaller {
 public:
  THostCaller(TAddInHost& Host, std::ostream& Out) : FHost(Host), FOut(Out) {}

  // The method's number by English or Russian name; an unknown name throws
  // EHostUsage, naming a method that differs only in letter case.
  long Resolve(const std::string& Method) const;
  // Throws EHostUsage when more arguments are given than the method takes.
  void CheckCount(long Number, size_t Given) const;
  // Throws EHostUsage when the parsed arguments do not fit the method: fewer
  // than it takes (the missing ones named with direction and type), or "-"
  // where the method reads a value. Nothing is padded: the platform always
  // passes every argument, so a short call would test nothing real.
  void CheckArguments(long Number, const std::vector<THostCallArg>& Args) const;

  // Calls as a function, prints the result and the out-arguments to Out:
  // those given as "-" and every one the method writes.
  THostCallOutcome Call(const std::string& Method, const std::vector<THostCallArg>& Args);

 private:
  TAddInHost& FHost;
  std::ostream& FOut;
};
