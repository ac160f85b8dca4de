// quarnel-host: loads libquarnel.so the way the platform does and calls it
// from the command line (see Usage below).
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "common/uCommonUtils.h"
#include "host/uAddInHost.h"
#include "host/uHostArgs.h"
#include "host/uHostCall.h"
#include "host/uHostDemo.h"
#include "host/uHostMethods.h"
#include "host/uHostScript.h"
#include "host/uPortsCommand.h"

namespace {

std::string UsageText() {
  return R"(Usage: quarnel-host [--library PATH] [--log] COMMAND ...
Loads the add-in the way 1C:Enterprise does (dlopen, the four exported
functions, the component's interface tables) and calls its methods.

Commands:
  methods                  the methods and the property: English and Russian
                           names, parameter counts, and each method's arguments
                           (name, in or out, type)
  call METHOD ARG...       one call, by English or Russian name, with every
                           argument the method takes
  call METHOD --help       what the method's arguments are and how to write them
  run SCRIPT               the calls of a script file, one per line
  demo [--connect ADDRESS:PORT] [--emulator PATH] [--tape FILE]
                           a shift on quarnel-emulator, started on a free port
                           (or on the register at ADDRESS:PORT): connect, open
                           a shift, a sale with a marked item, a return, cash
                           in and out, X report, status, close the shift, read
                           the sale back, disconnect; then the paper tape
                           (with --tape the emulator keeps it in FILE)
)" + PortsUsageText() +
         R"(
Arguments of call and run:
  s:TEXT   a text               i:42     an integer       d:12.5   a number
  b:true   a Boolean (or false) @FILE    the text of FILE (an XML document)
  -        an out-argument: printed after the call
Every argument the method writes is printed after the call, however it was
given; "-" where the method reads a value is refused.
In a script, $DEVICE stands for the identifier the last ConnectEquipment
returned ($$ for a plain $), blank lines and lines starting with # are skipped, "double quotes"
keep blanks inside an argument, and @FILE is read from the script's folder.
The whole script is checked before its first line runs; it stops at the first
call that fails.

Options:
  --library PATH   the add-in to load (default: the library of this build,
                   )" +
         BuiltAddInPath() + R"()
  --log            switch the add-in's log on (property LogEnabled) first
  --help           this text

Exit status: 0 when the result value is true (a result that is no Boolean,
such as GetInterfaceRevision's 4004, counts as true); 1 when it is false or
the call failed, after printing the add-in's GetLastError; 2 when the command
line, the script, the library or an argument cannot be used.
)";
}

int Usage(const std::string& Why) {
  std::cerr << "quarnel-host: " << Why << "\n(quarnel-host --help shows the usage)\n";
  return 2;
}

int CallOne(TAddInHost& Host, const std::vector<std::string>& Words) {
  if (Words.empty()) return Usage("call needs a method name");
  THostCaller caller(Host, std::cout);
  std::vector<THostCallArg> args;
  try {
    const long number = caller.Resolve(Words[0]);
    if (Words.size() == 2 && (Words[1] == "--help" || Words[1] == "-h")) {
      DescribeHostMethod(Host, number, std::cout);
      return 0;
    }
    caller.CheckCount(number, Words.size() - 1);
    for (size_t i = 1; i < Words.size(); ++i)
      args.push_back(ParseHostArgument(Words[i], i - 1, "", {}));
    caller.CheckArguments(number, args);
  } catch (const EHostUsage& e) {
    std::cerr << "quarnel-host: " << e.what() << "\n";
    return 2;
  }
  const THostCallOutcome outcome = caller.Call(Words[0], args);
  if (outcome.Success) return 0;
  std::cout.flush();
  std::cerr << "quarnel-host: " << Words[0] << " failed: " << outcome.Error << "\n";
  return 1;
}

int Demo(TAddInHost& Host, const std::vector<std::string>& Words) {
  THostDemoOptions options;
  for (size_t i = 0; i < Words.size(); ++i) {
    std::string flag = Words[i], value;
    const size_t eq = flag.find('=');
    if (eq != std::string::npos) {
      value = flag.substr(eq + 1);
      flag.resize(eq);
    } else if (i + 1 < Words.size()) {
      value = Words[++i];
    } else {
      return Usage("demo " + flag + (flag.rfind("--", 0) == 0 ? " needs a value" : ": unknown"));
    }
    if (flag == "--connect")
      options.Connect = value;
    else if (flag == "--emulator")
      options.Emulator = value;
    else if (flag == "--tape")
      options.Tape = value;
    else
      return Usage("demo has no option " + flag);
  }
  // A register of one's own keeps its own paper: the options would be dropped unseen.
  if (!options.Connect.empty() && (!options.Tape.empty() || !options.Emulator.empty()))
    return Usage(
        "demo --connect runs on the register given; --tape and --emulator go with the "
        "emulator the demo starts without it");
  return RunHostDemo(Host, options, std::cout, std::cerr);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  std::string library = BuiltAddInPath();
  bool log = false;
  size_t at = 0;
  for (; at < words.size() && words[at].rfind("-", 0) == 0; ++at) {
    const std::string& flag = words[at];
    if (flag == "--help" || flag == "-h") {
      std::cout << UsageText();
      return 0;
    } else if (flag == "--log") {
      log = true;
    } else if (flag == "--library" || flag == "-l" || flag.rfind("--library=", 0) == 0) {
      const bool joined = flag.rfind("--library=", 0) == 0;
      if (!joined && ++at == words.size())
        return Usage(flag + " needs the path of the add-in library");
      library = joined ? flag.substr(10) : words[at];
      // An empty name would load this program itself as the add-in.
      if (library.empty()) return Usage("--library needs the path of the add-in library");
    } else {
      return Usage("unknown option " + flag);
    }
  }
  if (at == words.size()) return Usage("a command is needed: methods, call, run, demo or ports");
  const std::string command = words[at];
  const std::vector<std::string> rest(words.begin() + static_cast<long>(at) + 1, words.end());
  // The serial ports are looked at with the driver's own lookup; no add-in is loaded.
  if (command == "ports") return RunPortsCommand(rest, std::cout, std::cerr);
  if (command != "methods" && command != "call" && command != "run" && command != "demo")
    return Usage("unknown command \"" + command + "\": methods, call, run, demo or ports");
  if (command == "methods" && !rest.empty()) return Usage("methods takes no arguments");
  if (command == "run" && rest.size() != 1) return Usage("run takes one script file");

  // Line by line, so that a demo's progress shows as it happens.
  std::cout << std::unitbuf;
  std::unique_ptr<TAddInHost> host;
  try {
    host = std::make_unique<TAddInHost>(library);
    if (log && !host->SetProp("LogEnabled", true)) {
      std::cerr << "quarnel-host: the add-in refused to switch its log on\n";
      return 1;
    }
    if (command == "methods") {
      ListHostMethods(*host, std::cout);
      return 0;
    }
    if (command == "call") return CallOne(*host, rest);
    if (command == "run") return RunHostScript(*host, rest[0], std::cout, std::cerr);
    return Demo(*host, rest);
  } catch (const EAddInLoadError& e) {
    std::cerr << "quarnel-host: " << e.what() << "\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "quarnel-host: " << e.what() << "\n";
    return 2;
  }
}
