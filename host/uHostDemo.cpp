#include "host/uHostDemo.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include <pugixml.hpp>

#include "common/uCommonUtils.h"
#include "host/uHostArgs.h"
#include "host/uHostCall.h"

std::string BuiltEmulatorPath() {
#ifdef QUARNEL_EMULATOR_PATH
  return QUARNEL_EMULATOR_PATH;
#else
  return "quarnel-emulator";
#endif
}

namespace {

// How long the emulator may take to say where it listens, and to stop.
constexpr auto kEmulatorStartLimit = std::chrono::seconds(15);
constexpr auto kEmulatorStopLimit = std::chrono::seconds(10);

class TEmulatorProcess {
 public:
  ~TEmulatorProcess() { Stop(); }

  // Starts Program on a free port with its tape in Tape; returns the port.
  // Throws std::runtime_error when it does not come up.
  uint16_t Start(const std::string& Program, const std::string& Tape) {
    int pipeFds[2], errorFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe: " + SystemText());
    if (::pipe2(errorFds, O_CLOEXEC) != 0) {
      const std::string why = SystemText();
      ::close(pipeFds[0]);
      ::close(pipeFds[1]);
      throw std::runtime_error("pipe: " + why);
    }
    std::vector<std::string> args = {Program, "--port", "0", "--tape", Tape};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t parent = ::getpid();
    FPid = ::fork();
    if (FPid == 0) {
      // The emulator ends with this host however the host ends: killed, or
      // brought down by the add-in, it would otherwise serve on unseen.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(127);
      ::dup2(pipeFds[1], 1);
      if (devNull >= 0) ::dup2(devNull, 0);
      ::execv(Program.c_str(), argv.data());
      const int error = errno;
      (void)!::write(errorFds[1], &error, sizeof error);
      ::_exit(127);
    }
    const int forkError = errno;
    ::close(pipeFds[1]);
    ::close(errorFds[1]);
    if (devNull >= 0) ::close(devNull);
    FOut = pipeFds[0];
    // The error pipe closes unread when the program runs; it carries errno when it cannot.
    int execError = 0;
    const ssize_t got = FPid < 0 ? 0 : ::read(errorFds[0], &execError, sizeof execError);
    ::close(errorFds[0]);
    if (FPid < 0 || got == static_cast<ssize_t>(sizeof execError)) {
      if (FPid > 0) ::waitpid(FPid, nullptr, 0);
      FPid = -1;
      throw std::runtime_error("cannot start " + Program + ": " +
                               std::strerror(got > 0 ? execError : forkError));
    }
    // Its first line on standard output is "port N".
    std::string buffer;
    const auto deadline = std::chrono::steady_clock::now() + kEmulatorStartLimit;
    for (;;) {
      const size_t nl = buffer.find('\n');
      if (nl != std::string::npos) {
        const std::string line = buffer.substr(0, nl);
        int64_t port = 0;
        if (line.rfind("port ", 0) != 0 || !TryStrToInt64(line.substr(5), port) || port <= 0 ||
            port > 65535)
          throw std::runtime_error("quarnel-emulator said \"" + line + "\" instead of its port");
        return static_cast<uint16_t>(port);
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{FOut, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
        throw std::runtime_error("quarnel-emulator did not say where it listens");
      char chunk[256];
      const ssize_t n = ::read(FOut, chunk, sizeof chunk);
      if (n <= 0) throw std::runtime_error("quarnel-emulator ended before it served");
      buffer.append(chunk, static_cast<size_t>(n));
    }
  }

  // SIGTERM, and SIGKILL when it does not end in time. True when it ended
  // with status 0.
  bool Stop() {
    if (FOut >= 0) ::close(FOut);
    FOut = -1;
    if (FPid <= 0) return true;
    ::kill(FPid, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + kEmulatorStopLimit;
    while (::waitpid(FPid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FPid = -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

 private:
  static std::string SystemText() { return std::strerror(errno); }
  pid_t FPid = -1;
  int FOut = -1;
};

// One call of a step: the method and its arguments as a script writes them;
// After reads what the demo needs from the call's output.
struct TDemoCall {
  std::string Method;
  std::vector<std::string> Tokens;
  std::function<void(const THostCallOutcome&, THostVariables&)> After;
  // What a reader should know about the output, printed after it.
  std::function<std::string(const THostCallOutcome&)> Notes = nullptr;
};

struct TDemoStep {
  std::string Title;
  std::vector<TDemoCall> Calls;
  // Steps (numbered from 1) that must have succeeded for this one to make sense.
  std::vector<size_t> Needs;
};

std::string Attribute(const std::string& Xml, const char* Element, const char* Name) {
  pugi::xml_document doc;
  if (!doc.load_string(Xml.c_str())) return {};
  const pugi::xpath_node node = doc.select_node((std::string("//") + Element).c_str());
  return node ? node.node().attribute(Name).value() : std::string();
}

// The readout is the fiscal storage's record, in the storage's own format: a
// reader comparing it with the sale must not take the differences for faults.
std::string ReadbackNotes(const std::string& Readout, const std::string& SaleTaxation,
                          const std::vector<std::pair<std::string, std::string>>& SaleAmounts) {
  pugi::xml_document doc;
  if (!doc.load_string(Readout.c_str())) return {};
  std::string amounts;
  for (const auto& [path, sale] : SaleAmounts) {
    const size_t at = path.find('@');
    const pugi::xpath_node node = doc.select_node(("//" + path.substr(0, at)).c_str());
    const std::string name = path.substr(at + 1);
    const std::string stored = node ? node.node().attribute(name.c_str()).value() : "";
    if (!stored.empty() && stored != sale)
      amounts += "      " + name + "=\"" + stored + "\" is the sale's " + sale + "\n";
  }
  std::string notes;
  if (!amounts.empty())
    notes +=
        "  - amounts are written with the decimals the storage holds (the same sums, not a\n"
        "    rounding):\n" +
        amounts;
  int64_t code = 0, number = 0;
  const std::string stored = Attribute(Readout, "Parameters", "TaxationSystem");
  if (TryStrToInt64(stored, code) && TryStrToInt64(SaleTaxation, number) && number >= 0 &&
      number < 6)
    notes += "  - TaxationSystem=\"" + stored +
             "\" is the storage's code, one bit for each system: bit " + SaleTaxation + " (1 << " +
             SaleTaxation + " = " + std::to_string(int64_t{1} << number) +
             "),\n    where the sale named the system by its number, TaxationSystem=\"" +
             SaleTaxation + "\"" +
             (code == (int64_t{1} << number) ? "" : "; here they do not agree") + "\n";
  if (notes.empty()) return {};
  return "note: this is the fiscal storage's record of the sale, in the storage's own format:\n" +
         notes +
         "  - VATAmount and DateTime are the register's own: the tax it worked out and the time "
         "on its clock\n";
}

const char kCashier[] =
    "<InputParameters><Parameters CashierName=\"Иванова А. П.\"/></InputParameters>";
const char kCheckGuid[] = "6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8";

std::vector<TDemoStep> DemoSteps(const std::string& Address, uint16_t Port) {
  const std::string connection =
      "<Parameters>"
      "<Parameter Name=\"PortNumber\" Value=\"9999\"/>"
      "<Parameter Name=\"IPAddress\" Value=\"" +
      EscapeMarkup(Address) +
      "\"/>"
      "<Parameter Name=\"IPPort\" Value=\"" +
      std::to_string(Port) +
      "\"/>"
      "<Parameter Name=\"ConnectionPassword\" Value=\"KVNT\"/>"
      "<Parameter Name=\"FontNumber\" Value=\"0\"/>"
      "<Parameter Name=\"CutString\" Value=\"[cut]\"/>"
      "<Parameter Name=\"EnablePrinting\" Value=\"0\"/>"
      "<Parameter Name=\"EnableReportPrinting\" Value=\"0\"/>"
      "<Parameter Name=\"LogEnabled\" Value=\"true\"/>"
      "</Parameters>";
  // A marking code as a scanner reads it: GTIN, serial, group separator, check key.
  const std::string markingCode = Base64Encode(
      "0104601234567893215Qbag!\x1d"
      "93Zjqw");
  const std::string cashier = std::string("s:") + kCashier;
  const std::string sale =
      "s:<CheckPackage>"
      "<Parameters CashierName=\"Иванова А. П.\" OperationType=\"1\" TaxationSystem=\"0\""
      " CustomerEmail=\"buyer@example.com\"/>"
      "<Positions>"
      "<FiscalString Name=\"Молоко 3,2% 1 л\" Quantity=\"2\" PriceWithDiscount=\"89.90\""
      " AmountWithDiscount=\"179.80\" DiscountAmount=\"0\" Department=\"1\" VATRate=\"10\""
      " CalculationSubject=\"1\" PaymentMethod=\"4\" MeasureOfQuantity=\"0\"/>"
      "<FiscalString Name=\"Туфли женские\" Quantity=\"1\" PriceWithDiscount=\"4990\""
      " AmountWithDiscount=\"4990\" DiscountAmount=\"0\" Department=\"1\" VATRate=\"20\""
      " CalculationSubject=\"33\" PaymentMethod=\"4\" MeasureOfQuantity=\"0\""
      " MarkingCode=\"" +
      markingCode +
      "\"/>"
      "</Positions>"
      "<Payments Cash=\"2000\" ElectronicPayment=\"3169.80\"/>"
      "</CheckPackage>";
  const std::string refund =
      "s:<CheckPackage>"
      "<Parameters CashierName=\"Иванова А. П.\" OperationType=\"2\" TaxationSystem=\"0\"/>"
      "<Positions>"
      "<FiscalString Name=\"Молоко 3,2% 1 л\" Quantity=\"1\" PriceWithDiscount=\"89.90\""
      " AmountWithDiscount=\"89.90\" Department=\"1\" VATRate=\"10\" CalculationSubject=\"1\""
      " PaymentMethod=\"4\" MeasureOfQuantity=\"0\"/>"
      "</Positions>"
      "<Payments Cash=\"89.90\"/>"
      "</CheckPackage>";
  const std::string request = std::string("s:<RequestKM GUID=\"") + kCheckGuid +
                              "\" MarkingCode=\"" + markingCode +
                              "\" PlannedStatus=\"1\" Quantity=\"1\" MeasureOfQuantity=\"0\"/>";
  const auto keepSale = [](const THostCallOutcome& o, THostVariables& vars) {
    const std::string number = Attribute(o.OutText(3), "Parameters", "CheckNumber");
    if (!number.empty()) vars["SALE"] = number;
  };
  const auto keepDevice = [](const THostCallOutcome& o, THostVariables& vars) {
    vars["DEVICE"] = o.OutText(0);
  };
  const std::string cashIn = "d:5000", cashOut = "d:-1500";
  return {
      {"connect to the register",
       {{"ConnectEquipment", {"-", "s:", "s:" + connection}, keepDevice}},
       {}},
      {"open a shift", {{"OpenShift", {"$DEVICE", cashier, "-"}, {}}}, {1}},
      {"sell two items, one of them marked",
       {{"OpenSessionRegistrationKM", {"$DEVICE"}, {}},
        {"RequestKM", {"$DEVICE", request, "-"}, {}},
        {"GetProcessingKMResult", {"$DEVICE", "-", "-"}, {}},
        {"ConfirmKM", {"$DEVICE", std::string("s:") + kCheckGuid, "i:0"}, {}},
        {"ProcessCheck", {"$DEVICE", "b:false", sale, "-"}, keepSale},
        {"CloseSessionRegistrationKM", {"$DEVICE"}, {}}},
       {1, 2}},
      {"return one item", {{"ProcessCheck", {"$DEVICE", "b:false", refund, "-"}, {}}}, {1, 2}},
      {"cash in and cash out",
       {{"CashInOutcome", {"$DEVICE", cashier, cashIn}, {}},
        {"CashInOutcome", {"$DEVICE", cashier, cashOut}, {}}},
       {1, 2}},
      {"X report", {{"PrintXReport", {"$DEVICE", cashier}, {}}}, {1, 2}},
      {"status with counters",
       {{"GetCurrentStatus",
         {"$DEVICE", "s:<InputParameters><Parameters GetCounters=\"true\"/></InputParameters>",
          "-"},
         {}}},
       {1, 2}},
      {"close the shift", {{"CloseShift", {"$DEVICE", cashier, "-"}, {}}}, {1, 2}},
      {"read the sale back from the fiscal storage",
       {{"GetDocumentInformation",
         {"$DEVICE", "i:$SALE", "-"},
         {},
         [](const THostCallOutcome& o) {
           return ReadbackNotes(o.OutText(2), "0",
                                {{"FiscalString@PriceWithDiscount", "89.90"},
                                 {"FiscalString@AmountWithDiscount", "179.80"},
                                 {"Payments@ElectronicPayment", "3169.80"}});
         }}},
       {1, 3}},
      {"disconnect", {{"DisconnectEquipment", {"$DEVICE"}, {}}}, {1}},
  };
}

// Why a step cannot run because a step before it did not succeed, or empty.
std::string MissingStep(const TDemoStep& Step, const std::vector<TDemoStep>& Steps,
                        const std::vector<bool>& Succeeded) {
  for (size_t need : Step.Needs)
    if (!Succeeded[need - 1])
      return "step " + std::to_string(need) + " (" + Steps[need - 1].Title + ") did not succeed";
  return {};
}

bool SplitAddress(const std::string& Text, std::string& Address, uint16_t& Port) {
  const size_t colon = Text.rfind(':');
  int64_t port = 0;
  if (colon == std::string::npos || colon == 0 || !TryStrToInt64(Text.substr(colon + 1), port) ||
      port <= 0 || port > 65535)
    return false;
  Address = Text.substr(0, colon);
  Port = static_cast<uint16_t>(port);
  return true;
}

}  // namespace

int RunHostDemo(TAddInHost& Host, const THostDemoOptions& Options, std::ostream& Out,
                std::ostream& Err) {
  std::string address = "127.0.0.1";
  uint16_t port = 0;
  TEmulatorProcess emulator;
  std::string tape = Options.Tape;
  bool temporaryTape = false;
  if (!Options.Connect.empty()) {
    if (!SplitAddress(Options.Connect, address, port)) {
      Err << "quarnel-host: --connect takes ADDRESS:PORT, such as 127.0.0.1:50003, not \""
          << Options.Connect << "\"\n";
      return 2;
    }
  } else {
    if (tape.empty()) {
      std::string pattern =
          (std::filesystem::temp_directory_path() / "quarnel-demo-tape-XXXXXX").string();
      const int fd = ::mkstemp(pattern.data());
      if (fd < 0) {
        Err << "quarnel-host: cannot make a temporary tape file: " << std::strerror(errno) << "\n";
        return 2;
      }
      ::close(fd);
      tape = pattern;
      temporaryTape = true;
    }
    try {
      port =
          emulator.Start(Options.Emulator.empty() ? BuiltEmulatorPath() : Options.Emulator, tape);
    } catch (const std::exception& e) {
      Err << "quarnel-host: " << e.what() << "\n";
      if (temporaryTape) std::filesystem::remove(tape);
      return 2;
    }
    Out << "quarnel-emulator listens on " << address << ":" << port << "\n";
  }

  const std::vector<TDemoStep> steps = DemoSteps(address, port);
  THostCaller caller(Host, Out);
  THostVariables vars;
  std::vector<std::string> outcomes;
  std::vector<bool> done(steps.size(), false);
  size_t succeeded = 0;
  for (size_t n = 0; n < steps.size(); ++n) {
    const TDemoStep& step = steps[n];
    Out << "\n== step " << n + 1 << " of " << steps.size() << ": " << step.Title << " ==\n";
    std::string outcome = "ok";
    const std::string missing = MissingStep(step, steps, done);
    if (!missing.empty()) {
      outcome = "skipped: " + missing;
    } else {
      for (const TDemoCall& call : step.Calls) {
        std::vector<THostCallArg> args;
        Out << "> " << call.Method;
        for (size_t i = 0; i < call.Tokens.size(); ++i) {
          args.push_back(ParseHostArgument(call.Tokens[i], i, ".", vars));
          Out << " " << args.back().Shown;
        }
        Out << "\n";
        const THostCallOutcome result = caller.Call(call.Method, args);
        if (!result.Success) {
          outcome = "FAILED: " + call.Method + ": " + result.Error;
          break;
        }
        if (call.After) call.After(result, vars);
        if (call.Notes) Out << call.Notes(result);
      }
    }
    if (outcome == "ok") {
      ++succeeded;
      done[n] = true;
    }
    Out << "-- step " << n + 1 << ": " << outcome << "\n";
    outcomes.push_back(outcome);
  }

  Out << "\n== summary: " << succeeded << " of " << steps.size() << " steps succeeded ==\n";
  for (size_t n = 0; n < steps.size(); ++n)
    Out << (n + 1 < 10 ? " " : "") << n + 1 << ". " << steps[n].Title << ": " << outcomes[n]
        << "\n";

  std::string logFolder;
  {
    const TCallResult description = Host.Call("GetDescription", {THostArg::Empty()});
    if (description.Params[0].vt == VTYPE_PWSTR)
      logFolder = Attribute(description.ParamText(0), "DriverDescription", "LogPath");
  }
  if (!logFolder.empty()) Out << "\nThe driver's log of this run is in " << logFolder << "\n";

  if (Options.Connect.empty()) {
    const bool stopped = emulator.Stop();
    if (!stopped) Err << "quarnel-host: quarnel-emulator did not stop cleanly\n";
    if (temporaryTape) {
      std::ifstream in(tape);
      std::ostringstream text;
      text << in.rdbuf();
      Out << "\n== paper tape ==\n" << (text.str().empty() ? "(nothing printed)\n" : text.str());
      std::filesystem::remove(tape);
    } else {
      Out << "\nThe paper tape is in " << tape << "\n";
    }
  }
  return succeeded == steps.size() ? 0 : 1;
}
