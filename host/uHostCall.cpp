#include "host/uHostCall.h"

#include <cstdio>
#include <sstream>

#include <pugixml.hpp>

#include "common/uCommonUtils.h"
#include "host/uHostMethods.h"

std::string PrettyXml(const std::string& Text) {
  const size_t first = Text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos || Text[first] != '<') return Text;
  pugi::xml_document doc;
  if (!doc.load_string(Text.c_str(), pugi::parse_default | pugi::parse_declaration) ||
      !doc.document_element())
    return Text;
  std::ostringstream out;
  doc.save(out, "  ",
           pugi::format_indent | pugi::format_indent_attributes | pugi::format_no_declaration);
  std::string pretty = out.str();
  while (!pretty.empty() && pretty.back() == '\n') pretty.pop_back();
  return pretty;
}

std::string ShowValue(const V8Variant& V) {
  switch (V.vt) {
    case VTYPE_EMPTY:
      return "(empty)";
    case VTYPE_BOOL:
      return V.bVal ? "true" : "false";
    case VTYPE_I4:
      return std::to_string(V.lVal);
    case VTYPE_I8:
      return std::to_string(V.llVal);
    case VTYPE_R8: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.15g", V.dblVal);
      return buf;
    }
    case VTYPE_PWSTR:
      return PrettyXml(TCallResult::TextOf(V));
    default:
      return "(value of type " + std::to_string(V.vt) + ")";
  }
}

std::string THostCallOutcome::OutText(size_t Index) const {
  if (!Call || Index >= Call->Params.size() || Call->Params[Index].vt != VTYPE_PWSTR) return {};
  return TCallResult::TextOf(Call->Params[Index]);
}

long THostCaller::Resolve(const std::string& Method) const {
  const long number = FHost.FindMethod(Method);
  if (number >= 0) return number;
  std::string hint = " (quarnel-host methods lists them)";
  const long count = FHost.Lang()->GetNMethods();
  for (long i = 0; i < count; ++i)
    for (long alias = 0; alias < 2; ++alias) {
      const std::string name = FHost.MethodName(i, alias);
      if (SameText(name, Method)) hint = "; did you mean " + name + "?";
    }
  throw EHostUsage("the add-in has no method \"" + Method + "\"" + hint);
}

void THostCaller::CheckCount(long Number, size_t Given) const {
  const long takes = FHost.Lang()->GetNParams(Number);
  if (static_cast<long>(Given) > takes)
    throw EHostUsage(FHost.MethodName(Number, 0) + " takes " + std::to_string(takes) +
                     (takes == 1 ? " argument, " : " arguments, ") + std::to_string(Given) +
                     " given");
}

void THostCaller::CheckArguments(long Number, const std::vector<THostCallArg>& Args) const {
  CheckCount(Number, Args.size());
  const std::string name = FHost.MethodName(Number, 0);
  const long takes = FHost.Lang()->GetNParams(Number);
  const TMethodSignature* signature = HostMethodSignature(FHost, Number);
  // A row that disagrees with the library's own count describes another build.
  if (signature != nullptr && signature->Count() != takes) signature = nullptr;
  if (static_cast<long>(Args.size()) < takes) {
    std::string missing;
    for (size_t i = Args.size(); i < static_cast<size_t>(takes); ++i)
      missing += (missing.empty() ? "" : ", ") +
                 (signature != nullptr ? ArgumentText(*signature, i) : std::to_string(i));
    throw EHostUsage(name + " takes " + std::to_string(takes) +
                     (takes == 1 ? " argument, " : " arguments, ") + std::to_string(Args.size()) +
                     " given; missing: " + missing + " (quarnel-host call " + name +
                     " --help shows them all)");
  }
  if (signature == nullptr) return;
  for (size_t i = 0; i < Args.size(); ++i)
    if (Args[i].Out && signature->Args[i].Direction == TArgDirection::adIn)
      throw EHostUsage("argument " + ArgumentText(*signature, i) + " of " + name +
                       " is read by the method: give its value, not -");
}

THostCallOutcome THostCaller::Call(const std::string& Method,
                                   const std::vector<THostCallArg>& Args) {
  const long number = Resolve(Method);
  CheckArguments(number, Args);
  const TMethodSignature* signature = HostMethodSignature(FHost, number);
  std::vector<THostArg> values;
  values.reserve(Args.size());
  for (const THostCallArg& a : Args) values.push_back(a.Value);
  const size_t errorsBefore = FHost.Connection.Errors.size();

  THostCallOutcome outcome;
  outcome.Call.emplace(FHost.CallNumber(number, true, values));
  const TCallResult& r = *outcome.Call;
  FOut << "result: " << ShowValue(r.Result) << "\n";
  for (size_t i = 0; i < Args.size(); ++i) {
    const bool written = signature != nullptr && i < static_cast<size_t>(signature->Count()) &&
                         signature->Args[i].Direction == TArgDirection::adOut;
    if (!Args[i].Out && !written) continue;
    const std::string shown = ShowValue(r.Params[i]);
    FOut << "out " << i << (shown.find('\n') == std::string::npos ? ": " : ":\n") << shown << "\n";
  }

  if (!r.Ok) {
    // The call itself broke off: the add-in told the host through AddError.
    std::string why = "the call failed";
    for (size_t i = errorsBefore; i < FHost.Connection.Errors.size(); ++i)
      why += (i == errorsBefore ? ": " : "; ") + FHost.Connection.Errors[i].Descr;
    outcome.Error = why;
    return outcome;
  }
  if (r.Result.vt != VTYPE_BOOL) {
    outcome.Success = true;  // an answer such as the interface revision
    return outcome;
  }
  if (r.Result.bVal) {
    outcome.Success = true;
    return outcome;
  }
  TCallResult last = FHost.Call("GetLastError", {THostArg::Empty()});
  std::string text = last.Params.empty() || last.Params[0].vt != VTYPE_PWSTR
                         ? std::string()
                         : TCallResult::TextOf(last.Params[0]);
  const std::string code = last.Result.vt == VTYPE_I4 ? std::to_string(last.Result.lVal) : "?";
  outcome.Error = "[" + code + "] " + (text.empty() ? "(no error text)" : text);
  return outcome;
}
