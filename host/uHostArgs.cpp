#include "host/uHostArgs.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/uCommonUtils.h"

namespace {

const char kArgumentForms[] =
    "write s:TEXT, i:INTEGER, d:NUMBER, b:true|false, @FILE, or - for an out-argument";

[[noreturn]] void Refuse(size_t Index, const std::string& Token, const std::string& Why) {
  throw EHostUsage("argument " + std::to_string(Index) + " (\"" + Token +
                   "\") does not parse: " + Why);
}

bool IsNameStart(char c) {
  return (c >= 'A' && c <= 'Z') || c == '_';
}
bool IsNameChar(char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9');
}

std::string ReadFile(const std::string& Path, size_t Index, const std::string& Token) {
  // A folder opens as a stream that reads as nothing: it would go to the
  // add-in as an empty document and fail far from the real cause.
  std::error_code error;
  if (std::filesystem::is_directory(Path, error)) Refuse(Index, Token, Path + " is a folder");
  std::ifstream in(Path, std::ios::binary);
  if (!in) Refuse(Index, Token, "cannot read " + Path + ": " + std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) Refuse(Index, Token, "cannot read " + Path);
  return text.str();
}

}  // namespace

std::string SubstituteVariables(const std::string& Text, const THostVariables& Vars) {
  std::string out;
  for (size_t i = 0; i < Text.size(); ++i) {
    if (Text[i] != '$') {
      out += Text[i];
      continue;
    }
    if (i + 1 < Text.size() && Text[i + 1] == '$') {
      out += '$';
      ++i;
      continue;
    }
    size_t end = i + 1;
    if (end >= Text.size() || !IsNameStart(Text[end])) {
      out += '$';  // "$1D" and the like are text
      continue;
    }
    while (end < Text.size() && IsNameChar(Text[end])) ++end;
    const std::string name = Text.substr(i + 1, end - i - 1);
    const auto found = Vars.find(name);
    if (found == Vars.end()) {
      std::string bound;
      for (const auto& [n, v] : Vars) bound += (bound.empty() ? " $" : ", $") + n;
      throw EHostUsage(
          "$" + name + " is not bound" +
          (bound.empty() ? std::string(" (nothing is bound yet)") : " (bound here:" + bound + ")"));
    }
    out += found->second;
    i = end - 1;
  }
  return out;
}

bool UsesVariable(const std::string& Text, const std::string& Name) {
  for (size_t at = Text.find('$'); at != std::string::npos; at = Text.find('$', at + 1)) {
    if (at + 1 < Text.size() && Text[at + 1] == '$') {
      ++at;
      continue;
    }
    const size_t end = at + 1 + Name.size();
    if (Text.compare(at + 1, Name.size(), Name) == 0 &&
        (end >= Text.size() || !IsNameChar(Text[end])))
      return true;
  }
  return false;
}

THostCallArg ParseHostArgument(const std::string& Token, size_t Index, const std::string& BaseDir,
                               const THostVariables& Vars) {
  THostCallArg arg;
  arg.Shown = ShowToken(Token);
  if (Token == "-") {
    arg.Out = true;
    return arg;
  }
  if (!Token.empty() && Token[0] == '@') {
    std::string path = Token.substr(1);
    if (path.empty()) Refuse(Index, Token, "@ needs a file name");
    if (path[0] != '/' && !BaseDir.empty()) path = BaseDir + "/" + path;
    arg.Value = THostArg(ReadFile(path, Index, Token));
    return arg;
  }
  // A bound variable alone is its text, as in "OpenShift $DEVICE ...".
  if (Token.size() > 1 && Token[0] == '$' && IsNameStart(Token[1]) &&
      std::all_of(Token.begin() + 1, Token.end(), IsNameChar)) {
    arg.Value = THostArg(SubstituteVariables(Token, Vars));
    return arg;
  }
  if (Token.size() < 2 || Token[1] != ':') Refuse(Index, Token, kArgumentForms);
  std::string value;
  try {
    value = SubstituteVariables(Token.substr(2), Vars);
  } catch (const EHostUsage& e) {
    Refuse(Index, Token, e.what());
  }
  switch (Token[0]) {
    case 's':
      arg.Value = THostArg(value);
      return arg;
    case 'i': {
      int64_t number = 0;
      if (!TryStrToInt64(value, number) || number < INT32_MIN || number > INT32_MAX)
        Refuse(Index, Token, "i: takes a whole number from -2147483648 to 2147483647");
      arg.Value = THostArg(static_cast<int>(number));
      return arg;
    }
    case 'd': {
      double number = 0;
      const char* end = value.data() + value.size();
      const auto [ptr, ec] = std::from_chars(value.data(), end, number);
      if (value.empty() || ec != std::errc() || ptr != end || !std::isfinite(number))
        Refuse(Index, Token, "d: takes a number with \".\" before the fraction, such as 12.5");
      arg.Value = THostArg(number);
      return arg;
    }
    case 'b':
      if (SameText(value, "true")) {
        arg.Value = THostArg(true);
      } else if (SameText(value, "false")) {
        arg.Value = THostArg(false);
      } else {
        Refuse(Index, Token, "b: takes true or false");
      }
      return arg;
    default:
      Refuse(Index, Token, kArgumentForms);
  }
}

std::vector<std::string> SplitScriptLine(const std::string& Line) {
  std::vector<std::string> tokens;
  std::string token;
  bool inToken = false, quoted = false;
  for (size_t i = 0; i < Line.size(); ++i) {
    const char c = Line[i];
    if (quoted) {
      if (c == '\\' && i + 1 < Line.size() && (Line[i + 1] == '"' || Line[i + 1] == '\\')) {
        token += Line[++i];
      } else if (c == '"') {
        quoted = false;
      } else {
        token += c;
      }
    } else if (c == '"') {
      quoted = inToken = true;
    } else if (c == ' ' || c == '\t' || c == '\r') {
      if (inToken) tokens.push_back(std::move(token));
      token.clear();
      inToken = false;
    } else {
      token += c;
      inToken = true;
    }
  }
  if (quoted) throw EHostUsage("a double quote is not closed");
  if (inToken) tokens.push_back(std::move(token));
  return tokens;
}

std::string ShowToken(const std::string& Token) {
  const size_t lt = Token.find('<');
  if (Token.size() > 2 && Token[1] == ':' && lt != std::string::npos) {
    // The document element's name stands for the whole document.
    size_t at = lt;
    while (at != std::string::npos && at + 1 < Token.size() &&
           (Token[at + 1] == '?' || Token[at + 1] == '!'))
      at = Token.find('<', at + 1);
    if (at != std::string::npos) {
      const size_t end = Token.find_first_of(" />", at + 1);
      return Token.substr(0, 2) + Token.substr(at, end - at) + "…>";
    }
  }
  if (Token.size() <= 60) return Token;
  size_t cut = 57;
  while (cut > 0 && (static_cast<unsigned char>(Token[cut]) & 0xC0) == 0x80) --cut;
  return Token.substr(0, cut) + "…";
}
