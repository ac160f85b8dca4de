#include "host/uHostScript.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "host/uHostArgs.h"
#include "host/uHostCall.h"

namespace {

constexpr char kDevice[] = "DEVICE";

struct TScriptLine {
  size_t Number = 0;
  std::string Method;
  long MethodNumber = -1;
  std::vector<std::string> Tokens;
};

std::string BaseDirOf(const std::string& Path) {
  const std::filesystem::path dir = std::filesystem::path(Path).parent_path();
  return dir.empty() ? std::string(".") : dir.string();
}

std::vector<THostCallArg> ParseArguments(const TScriptLine& Line, const std::string& BaseDir,
                                         const THostVariables& Vars) {
  std::vector<THostCallArg> args;
  for (size_t i = 0; i < Line.Tokens.size(); ++i)
    args.push_back(ParseHostArgument(Line.Tokens[i], i, BaseDir, Vars));
  return args;
}

}  // namespace

int RunHostScript(TAddInHost& Host, const std::string& Path, std::ostream& Out, std::ostream& Err) {
  // A folder opens as a stream that reads as no lines: it would pass as a
  // script in which every call succeeded.
  std::error_code error;
  if (std::filesystem::is_directory(Path, error)) {
    Err << "quarnel-host: cannot read the script " << Path << ": it is a folder\n";
    return 2;
  }
  std::ifstream in(Path);
  if (!in) {
    Err << "quarnel-host: cannot read the script " << Path << ": " << std::strerror(errno) << "\n";
    return 2;
  }
  const std::string baseDir = BaseDirOf(Path);
  THostCaller caller(Host, Out);
  const long connect = Host.FindMethod("ConnectEquipment");

  // Check every line before the first runs, so that a typo on the last line
  // does not leave a half-made shift behind.
  std::vector<TScriptLine> lines;
  std::string text;
  bool connected = false;
  for (size_t number = 1; std::getline(in, text); ++number) {
    // Editors on Windows start a UTF-8 file with a byte-order mark, which
    // would otherwise stick, unseen, to the first method's name.
    if (number == 1 && text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    try {
      std::vector<std::string> tokens = SplitScriptLine(text);
      if (tokens.empty() || tokens[0][0] == '#') continue;
      TScriptLine line;
      line.Number = number;
      line.Method = tokens[0];
      line.Tokens.assign(tokens.begin() + 1, tokens.end());
      line.MethodNumber = caller.Resolve(line.Method);
      caller.CheckCount(line.MethodNumber, line.Tokens.size());
      THostVariables vars;
      if (connected) vars[kDevice] = "00000000-0000-0000-0000-000000000000";
      for (const std::string& token : line.Tokens)
        if (!connected && UsesVariable(token, kDevice))
          throw EHostUsage("$DEVICE is used before any ConnectEquipment line binds it");
      caller.CheckArguments(line.MethodNumber, ParseArguments(line, baseDir, vars));
      if (line.MethodNumber == connect) connected = true;
      lines.push_back(std::move(line));
    } catch (const EHostUsage& e) {
      Err << "quarnel-host: " << Path << ":" << number << ": " << e.what() << "\n";
      return 2;
    }
  }

  THostVariables vars;
  for (const TScriptLine& line : lines) {
    std::vector<THostCallArg> args;
    try {
      args = ParseArguments(line, baseDir, vars);
    } catch (const EHostUsage& e) {
      // A file changed or vanished while the script ran.
      Err << "quarnel-host: " << Path << ":" << line.Number << ": " << e.what() << "\n";
      return 2;
    }
    Out << "-- line " << line.Number << ": " << line.Method;
    for (const THostCallArg& a : args) Out << " " << a.Shown;
    Out << "\n";
    const THostCallOutcome outcome = caller.Call(line.Method, args);
    if (!outcome.Success) {
      Out.flush();
      Err << "quarnel-host: " << Path << ":" << line.Number << ": " << line.Method
          << " failed: " << outcome.Error << "\n";
      return 1;
    }
    if (line.MethodNumber == connect) vars[kDevice] = outcome.OutText(0);
  }
  return 0;
}
