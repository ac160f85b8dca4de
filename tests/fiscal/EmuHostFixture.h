// Scenarios through the real libquarnel.so against the virtual register.
//
// TEmuBench runs one TEmuRegister behind a TEmuServer (loopback TCP on a free
// port and a pty that the library reaches as serial port ComPort through
// QUARNEL_COM<n>) in this process, and records every command the register
// executed, in order, with its arguments converted to UTF-8: a recording peer
// for checks of command order. EmuHostTest runs each test over both links
// (TEST_P, instantiate with EMU_HOST_LINKS) with a TTestHost that loaded the
// library.
//
//   TEST_P(MyTest, Sells) {
//     StartRegister("1.05");                   // optional: another register (1.2 by default)
//     Bench().OpenShift();                     // straight on the register
//     const std::string id = Connect();        // over GetParam()'s link
//     TCallResult r = Host.Call("ProcessCheck", {id, false, xml, THostArg::Empty()});
//     EXPECT_TRUE(r.Bool()) << LastError().Text;
//     Bench().Commands();  Bench().Tape();  Bench().Reg().Document(n);
//   }
//
// The library's fixed pauses are skipped (QUARNEL_TEST_SKIP_WAITS=1, set
// before the library is first used); link timing stays real.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/uCommonUtils.h"
#include "emulator/register/uEmuRegister.h"
#include "emulator/wire/uEmuServer.h"
#include "support/TestHost.h"

enum class THostLink { Tcp, Serial };

// One command as the register received it.
struct TEmuCall {
  std::string Command;
  std::vector<std::string> Args;  // UTF-8
  uint8_t Error = 0;              // the register's answer
};

class TEmuBench : private TEmuCommandHandler {
 public:
  explicit TEmuBench(const std::string& AFfd = "1.2", int AComPort = 42) : FComPort(AComPort) {
    TEmuRegisterOptions options;
    options.FfdVersion = AFfd;
    options.Tape = &FTape;
    options.Diagnostics = &FDiagnostics;
    FRegister = std::make_unique<TEmuRegister>(options);
    FServer = MakeServer(0);
  }
  ~TEmuBench() override {
    FServer->Stop();
    FServer.reset();
    unsetenv(ComVariable().c_str());
  }

  // The "Parameters" document of a connection over ALink; AExtra adds or
  // replaces parameters by name.
  std::string Parameters(THostLink ALink,
                         const std::map<std::string, std::string>& AExtra = {}) const {
    std::map<std::string, std::string> p = {{"ConnectionPassword", "KVNT"},
                                            {"FontNumber", "0"},
                                            {"CutString", "[cut]"},
                                            {"EnablePrinting", "0"},
                                            {"EnableReportPrinting", "0"}};
    if (ALink == THostLink::Tcp) {
      p["PortNumber"] = "9999";
      p["IPAddress"] = "127.0.0.1";
      p["IPPort"] = std::to_string(FServer->Port());
    } else {
      p["PortNumber"] = std::to_string(FComPort);
      p["BaudRate"] = "57600";
    }
    for (const auto& [name, value] : AExtra) p[name] = value;
    std::string xml = "<Parameters>";
    for (const auto& [name, value] : p)
      xml += "<Parameter Name=\"" + name + "\" Value=\"" + value + "\"/>";
    return xml + "</Parameters>";
  }

  // Runs a command straight on the register between two frames (texts in
  // UTF-8); it is not recorded. Raises when the register refuses it.
  TEmuAnswer Run(const std::string& ACommand, const std::vector<std::string>& AArgs = {}) {
    std::vector<std::string> oem;
    for (const auto& a : AArgs) oem.push_back(Utf8ToOem(a));
    auto lock = FServer->LockHandler();
    TEmuAnswer answer = FRegister->Execute(ACommand, oem);
    if (answer.Error != 0)
      throw std::runtime_error("the register refused " + ACommand + ", extended code " +
                               std::to_string(FRegister->LastExtendedError()));
    return answer;
  }
  void OpenShift() { Run("23", {"Кассир"}); }

  TEmuRegister& Reg() { return *FRegister; }
  TEmuServer& Server() { return *FServer; }
  std::string Tape() {
    auto lock = FServer->LockHandler();
    return FTape.str();
  }
  std::vector<TEmuCall> Commands() {
    std::lock_guard lock(FCallsLock);
    return FCalls;
  }
  // Only the command codes, in order.
  std::vector<std::string> CommandCodes() {
    std::vector<std::string> codes;
    for (const TEmuCall& c : Commands()) codes.push_back(c.Command);
    return codes;
  }
  // The recorded commands with the code ACommand.
  std::vector<TEmuCall> Calls(const std::string& ACommand) {
    std::vector<TEmuCall> found;
    for (const TEmuCall& c : Commands())
      if (c.Command == ACommand) found.push_back(c);
    return found;
  }
  // The arguments of the first ACommand the register received (none: empty).
  std::vector<std::string> ArgsOf(const std::string& ACommand) {
    const std::vector<TEmuCall> found = Calls(ACommand);
    return found.empty() ? std::vector<std::string>{} : found.front().Args;
  }
  void ClearCommands() {
    std::lock_guard lock(FCallsLock);
    FCalls.clear();
  }

  // The answer to the next ACommand the register carries out meets AKind
  // (the command itself runs).
  void FaultAnswerTo(const std::string& ACommand, TEmuAnswerFaultKind AKind) {
    std::lock_guard lock(FCallsLock);
    FAnswerFaults[ACommand] = AKind;
  }
  // Answers the commands AAnswer gives an answer for in place of the
  // register: a register that misbehaves beyond the fault switches.
  using TInterceptor = std::function<std::optional<TEmuAnswer>(
      const std::string& ACommand, const std::vector<std::string>& AArgs)>;
  void Intercept(TInterceptor AAnswer) {
    std::lock_guard lock(FCallsLock);
    FInterceptor = std::move(AAnswer);
  }
  // The register's program stops (every link closes, as when it is killed)
  // and starts again on the same TCP port; the register keeps its state. The
  // pty is a new one, reached under the same serial port number, as a
  // re-plugged adapter is under its stable name.
  void Restart() {
    const uint16_t port = FServer->Port();
    FServer->Stop();  // before the pointer goes: the handler may reach the server
    FServer.reset();
    FServer = MakeServer(port);
  }

 private:
  TEmuAnswer Execute(const std::string& ACommand, const std::vector<std::string>& AArgs) override {
    TInterceptor interceptor;
    {
      std::lock_guard lock(FCallsLock);
      interceptor = FInterceptor;
    }
    std::optional<TEmuAnswer> instead;
    if (interceptor) instead = interceptor(ACommand, AArgs);
    TEmuAnswer answer = instead ? *instead : FRegister->Execute(ACommand, AArgs);
    TEmuCall call{ACommand, {}, answer.Error};
    for (const auto& a : AArgs) call.Args.push_back(OemToUtf8(a));
    std::lock_guard lock(FCallsLock);
    // The answer about to go out is the next one the plan counts.
    if (const auto it = FAnswerFaults.find(ACommand); it != FAnswerFaults.end()) {
      FServer->Faults().ArmAnswerFault({it->second, 1});
      FAnswerFaults.erase(it);
    }
    FCalls.push_back(std::move(call));
    return answer;
  }
  std::string ComVariable() const { return "QUARNEL_COM" + std::to_string(FComPort); }
  std::unique_ptr<TEmuServer> MakeServer(uint16_t APort) {
    TEmuServerOptions options;
    options.Port = APort;
    options.Pty = true;
    options.Log = [](std::string_view) {};
    auto server =
        std::make_unique<TEmuServer>(static_cast<TEmuCommandHandler&>(*this), std::move(options));
    server->Start();
    setenv(ComVariable().c_str(), server->PtyPath().c_str(), 1);
    return server;
  }

  int FComPort;
  std::ostringstream FTape, FDiagnostics;
  std::unique_ptr<TEmuRegister> FRegister;
  std::unique_ptr<TEmuServer> FServer;
  std::mutex FCallsLock;
  std::vector<TEmuCall> FCalls;
  std::map<std::string, TEmuAnswerFaultKind> FAnswerFaults;
  TInterceptor FInterceptor;
};

struct THostError {
  int32_t Code;
  std::string Text;
};

// The library, a register and their helpers; EmuHostTest runs over the link
// its parameter names, other suites choose the link themselves.
class EmuHostBase : public ::testing::Test {
 protected:
  EmuHostBase() { setenv("QUARNEL_TEST_SKIP_WAITS", "1", 1); }
  void TearDown() override {
    EXPECT_EQ(Host.Memory.BadFrees(), 0) << "a host block was freed twice or was never the host's";
    EXPECT_EQ(Host.Memory.Live(), 0) << "a text handed to the host outlived its call";
    EXPECT_TRUE(Host.Connection.Errors.empty()) << "a driver method ended in a host error";
  }

  // A fresh register in format AFfd ("1.05", "1.1", "1.2") in place of the
  // current one; connections made before it are left talking to nothing.
  void StartRegister(const std::string& AFfd) {
    FBench.reset();
    FBench = std::make_unique<TEmuBench>(AFfd);
  }
  TEmuBench& Bench() {
    if (!FBench) FBench = std::make_unique<TEmuBench>();
    return *FBench;
  }

  // Connects over ALink; fails the test when the connect fails.
  std::string ConnectTo(TEmuBench& ABench, THostLink ALink,
                        const std::map<std::string, std::string>& AExtra = {}) {
    TCallResult r = Host.Call("ConnectEquipment", {THostArg::Empty(), THostArg::Empty(),
                                                   ABench.Parameters(ALink, AExtra)});
    EXPECT_TRUE(r.Bool()) << "connect failed: " << LastError().Text;
    return r.Bool() ? r.ParamText(0) : std::string();
  }

  THostError LastError() {
    TCallResult r = Host.Call("GetLastError", {THostArg::Empty()});
    return {r.Int(), r.ParamText(0)};
  }
  // Calls a method that must fail and answers its error.
  THostError Failure(std::string_view AMethod, std::initializer_list<THostArg> AArgs) {
    {
      TCallResult r = Host.Call(AMethod, AArgs);
      EXPECT_FALSE(r.Bool()) << AMethod << " reported success";
    }
    return LastError();
  }

  TTempDataDir DataDir;
  std::unique_ptr<TEmuBench> FBench;
  TTestHost Host;  // destroyed first: its connections close before the register goes
};

class EmuHostTest : public EmuHostBase, public ::testing::WithParamInterface<THostLink> {
 protected:
  // Connects over the test's link; fails the test when the connect fails.
  std::string Connect(const std::map<std::string, std::string>& AExtra = {}) {
    return ConnectTo(Bench(), GetParam(), AExtra);
  }
};

inline std::string HostLinkName(const ::testing::TestParamInfo<THostLink>& AInfo) {
  return AInfo.param == THostLink::Tcp ? "Tcp" : "Serial";
}

#define EMU_HOST_LINKS(suite)                                                                  \
  INSTANTIATE_TEST_SUITE_P(Links, suite, ::testing::Values(THostLink::Tcp, THostLink::Serial), \
                           HostLinkName)
