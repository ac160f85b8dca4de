// quarnel-host as a user runs it: the messages for everything that cannot be
// used, one call with its out-arguments, a script that stops at a failing
// line, and the demo end to end against the emulator it starts.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
extern char** environ;

namespace {

struct TRun {
  int Status = -1;
  std::string Out, Err;
};

fs::path HostPath() {
  const char* dir = std::getenv("QUARNEL_TEST_BINARY_DIR");
  return fs::path(dir ? dir : ".") / "host" / "quarnel-host";
}

// Runs quarnel-host with Args and collects both streams to the end.
TRun Host(const std::vector<std::string>& Args) {
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  std::string program = HostPath().string();
  std::vector<std::string> copy = Args;
  std::vector<char*> argv{program.data()};
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  TRun run;
  if (rc != 0) throw std::runtime_error("cannot start " + program);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* into[2] = {&run.Out, &run.Err};
  for (int open = 2; open > 0;) {
    if (::poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !fds[i].revents) continue;
      char buf[4096];
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        into[i]->append(buf, static_cast<size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

bool Has(const std::string& Text, const std::string& Part) {
  return Text.find(Part) != std::string::npos;
}

// Starts Argv (the program first) with its standard output on a pipe; the
// read end goes to AOut. -1 when it cannot be started.
pid_t StartReading(std::vector<std::string> Argv, int& AOut) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  std::vector<char*> argv;
  for (std::string& a : Argv) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  AOut = out[0];
  return pid;
}

class HostProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quarnel-host-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    FDir = pattern;
    ::setenv("QUARNEL_DATA_DIR", (FDir / "data").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("QUARNEL_DATA_DIR");
    fs::remove_all(FDir);
  }
  std::string Write(const std::string& Name, const std::string& Text) {
    std::ofstream((FDir / Name).string()) << Text;
    return (FDir / Name).string();
  }
  fs::path FDir;
};

}  // namespace

TEST_F(HostProgram, WhatCannotBeUsedIsNamedWithExitStatus2) {
  struct TCase {
    std::vector<std::string> Args;
    std::string Message;
  };
  const std::string missingFile = (FDir / "missing.xml").string();
  const std::vector<TCase> cases = {
      {{}, "a command is needed"},
      {{"frobnicate"}, "unknown command \"frobnicate\""},
      {{"--library", "/no/such/libquarnel.so", "methods"}, "no add-in library at /no/such"},
      {{"--library=", "methods"}, "--library needs the path of the add-in library"},
      {{"--library", "", "methods"}, "--library needs the path of the add-in library"},
      {{"--library", QUARNEL_NOT_AN_ADDIN, "methods"},
       "is not a Native API add-in: it does not export GetClassObject, DestroyObject, "
       "GetAttachType"},
      {{"call", "processcheck"}, "no method \"processcheck\"; did you mean ProcessCheck?"},
      {{"call", "NoSuchMethod"}, "no method \"NoSuchMethod\" (quarnel-host methods lists them)"},
      {{"call", "GetLineLength", "i:x"}, "argument 0 (\"i:x\") does not parse: i: takes a whole"},
      {{"call", "GetLineLength", "s:id", "i:99999999999"}, "argument 1"},
      {{"call", "ProcessCheck", "s:id", "b:yes"}, "argument 1 (\"b:yes\") does not parse"},
      {{"call", "CashInOutcome", "s:id", "s:", "d:1,5"}, "d: takes a number with \".\""},
      {{"call", "GetDescription", "plain"}, "write s:TEXT, i:INTEGER, d:NUMBER"},
      {{"call", "SetParameter", "s:LogEnabled", "@" + missingFile}, "cannot read " + missingFile},
      {{"call", "SetParameter", "s:LogEnabled", "@" + FDir.string()},
       FDir.string() + " is a folder"},
      {{"call", "GetDescription", "-", "-"}, "GetDescription takes 1 argument, 2 given"},
      // Half a command is refused, naming what is missing: nothing is padded.
      {{"call", "GetDescription"},
       "GetDescription takes 1 argument, 0 given; missing: 0 DriverDescription (out, XML text)"},
      {{"call", "ProcessCheck", "s:id", "b:true"},
       "ProcessCheck takes 4 arguments, 2 given; missing: 2 CheckPackage (in, XML text), 3 "
       "DocumentOutputParameters (out, XML text)"},
      {{"call", "DisconnectEquipment", "-"},
       "argument 0 DeviceID (in, text) of DisconnectEquipment is read by the method"},
      {{"run"}, "run takes one script file"},
      {{"run", missingFile}, "cannot read the script"},
      {{"run", FDir.string()}, "cannot read the script " + FDir.string() + ": it is a folder"},
      {{"demo", "--connect", "localhost"}, "--connect takes ADDRESS:PORT"},
      {{"demo", "--emulator", missingFile},
       "cannot start " + missingFile + ": No such file or directory"},
      {{"demo", "--connect", "127.0.0.1:1", "--tape", missingFile},
       "--tape and --emulator go with the emulator"},
  };
  for (const TCase& c : cases) {
    const TRun run = Host(c.Args);
    std::string line;
    for (const std::string& a : c.Args) line += " " + a;
    EXPECT_EQ(run.Status, 2) << "quarnel-host" << line << "\n" << run.Err;
    EXPECT_TRUE(Has(run.Err, c.Message)) << "quarnel-host" << line << " said:\n" << run.Err;
  }
}

TEST_F(HostProgram, MethodsAndOneCallShowNamesResultsAndPrettyXml) {
  const TRun methods = Host({"methods"});
  EXPECT_EQ(methods.Status, 0);
  EXPECT_TRUE(Has(methods.Out, "methods (37)")) << methods.Out;
  const size_t at = methods.Out.find(" 5  ProcessCheck ");
  ASSERT_NE(at, std::string::npos) << methods.Out;
  const std::string line = methods.Out.substr(at, methods.Out.find('\n', at) - at);
  EXPECT_TRUE(Has(line, " СформироватьЧек ") && line.back() == '4') << line;
  // Its four arguments follow it, one a line: number, name, direction, type.
  const std::string arguments = methods.Out.substr(at, methods.Out.find(" 6  ", at) - at);
  for (const char* argument :
       {"0  DeviceID", "1  Electronically            in       Boolean",
        "2  CheckPackage              in       XML text", "3  DocumentOutputParameters  out"})
    EXPECT_TRUE(Has(arguments, argument)) << argument << " in\n" << arguments;

  const TRun help = Host({"call", "ConnectEquipment", "--help"});
  EXPECT_EQ(help.Status, 0) << help.Err;
  EXPECT_TRUE(Has(help.Out,
                  "ConnectEquipment (ПодключитьОборудование), method 26, takes 3 "
                  "arguments:"))
      << help.Out;
  EXPECT_TRUE(Has(help.Out, "1  EquipmentType             not read")) << help.Out;
  EXPECT_TRUE(Has(help.Out, "quarnel-host call ConnectEquipment - s: @FILE.xml")) << help.Out;

  const TRun ports = Host({"ports", "--help"});
  EXPECT_EQ(ports.Status, 0) << ports.Err;
  EXPECT_TRUE(Has(ports.Out, "Usage: quarnel-host ports") && Has(ports.Out, "--assign N DEVICE"))
      << ports.Out;
  EXPECT_TRUE(Has(methods.Out, "LogEnabled")) << methods.Out;
  EXPECT_TRUE(Has(methods.Out, "ЛогВключен")) << methods.Out;

  const TRun revision = Host({"call", "ПолучитьРевизиюИнтерфейса"});
  EXPECT_EQ(revision.Status, 0) << "a result that is no Boolean counts as true";
  EXPECT_EQ(revision.Out, "result: 4004\n");

  // --log turns the add-in's log on before the call: a first-hour need.
  const TRun description = Host({"--log", "call", "GetDescription", "-"});
  EXPECT_EQ(description.Status, 0) << description.Err;
  EXPECT_TRUE(Has(description.Out, "result: true\nout 0:\n<?xml")) << description.Out;
  EXPECT_TRUE(Has(description.Out, "\n<DriverDescription\n  Name=\"")) << "one attribute a line";
  EXPECT_TRUE(Has(description.Out, "  LogIsEnabled=\"true\"")) << description.Out;

  const std::string value = Write("value.txt", "1");
  const TRun failed = Host({"call", "SetParameter", "s:PortNumber", "@" + value});
  EXPECT_EQ(failed.Status, 1) << "a false result fails the call";
  EXPECT_EQ(failed.Out, "result: false\n");
  EXPECT_TRUE(Has(failed.Err, "SetParameter failed: [1001] Property not found: PortNumber"))
      << failed.Err;
}

// Every method's help ends in a call line to start from: with its words
// filled in, the host takes it as it stands (the add-in's own answer, such as
// an unknown device, is the method's business).
TEST_F(HostProgram, EveryMethodsHelpGivesACallLineTheHostTakes) {
  const TRun methods = Host({"methods"});
  ASSERT_EQ(methods.Status, 0);
  const std::string xml = Write("empty.xml", "<Parameters/>");
  const std::vector<std::pair<std::string, std::string>> fills = {
      {"s:DEVICE", "s:0F8A3C2E-1B4D-4E5F-9A6B-7C8D9E0F1A2B"},
      {"s:|i:|d:|b:VALUE", "s:x"},
      {"s:TEXT", "s:x"},
      {"@FILE.xml", "@" + xml},
      {"b:true|false", "b:true"},
      {"i:NUMBER", "i:1"},
      {"d:NUMBER", "d:1.5"}};
  std::istringstream lines(methods.Out);
  size_t seen = 0;
  for (std::string line; std::getline(lines, line) && line.rfind("properties", 0) != 0;) {
    // A method's line: "  26  ConnectEquipment  ПодключитьОборудование  3".
    std::istringstream words(line);
    std::string number, name;
    if (line.rfind("        ", 0) == 0 || !(words >> number >> name) ||
        number.find_first_not_of("0123456789") != std::string::npos)
      continue;
    ++seen;
    const TRun help = Host({"call", name, "--help"});
    EXPECT_EQ(help.Status, 0) << name << ": " << help.Err;
    const std::string start = "Call it as:\n  quarnel-host call " + name;
    const size_t at = help.Out.find(start);
    ASSERT_NE(at, std::string::npos) << help.Out;
    std::istringstream call(help.Out.substr(at + 14, help.Out.find('\n', at + 14) - (at + 14)));
    std::vector<std::string> args;
    for (std::string word; call >> word;) {
      for (const auto& [placeholder, value] : fills)
        if (word == placeholder) word = value;
      if (word != "quarnel-host") args.push_back(word);
    }
    const TRun run = Host(args);
    EXPECT_NE(run.Status, 2) << "the host refused its own call line for " << name << ":\n"
                             << run.Err;
  }
  EXPECT_EQ(seen, 37u) << methods.Out;
}

// An out-argument is shown however it was written: s: in its place is what
// the platform's own call looks like, and the identifier must not vanish.
TEST_F(HostProgram, ConnectShowsTheDeviceIdentifierWhateverStandsForIt) {
  const fs::path dir = HostPath().parent_path().parent_path() / "emulator";
  int out = -1;
  const pid_t emulator = StartReading(
      {(dir / "quarnel-emulator").string(), "--port", "0", "--tape", (FDir / "tape.txt").string()},
      out);
  ASSERT_GT(emulator, 0);
  std::string first;
  for (char c; first.find('\n') == std::string::npos && ::read(out, &c, 1) == 1;) first += c;
  ::close(out);
  ASSERT_EQ(first.rfind("port ", 0), 0u) << first;
  const std::string port = first.substr(5, first.size() - 6);
  const std::string settings =
      Write("tcp.xml",
            "<Parameters><Parameter Name=\"PortNumber\" Value=\"9999\"/>"
            "<Parameter Name=\"IPPort\" Value=\"" +
                port +
                "\"/><Parameter Name=\"IPAddress\" Value=\"127.0.0.1\"/>"
                "<Parameter Name=\"ConnectionPassword\" Value=\"KVNT\"/></Parameters>");
  const TRun connect = Host({"call", "ConnectEquipment", "s:", "s:", "@" + settings});
  ::kill(emulator, SIGTERM);
  ::waitpid(emulator, nullptr, 0);
  EXPECT_EQ(connect.Status, 0) << connect.Err;
  const size_t at = connect.Out.find("result: true\nout 0: ");
  ASSERT_NE(at, std::string::npos) << connect.Out;
  EXPECT_EQ(connect.Out.find('\n', at + 20) - (at + 20), 36u) << connect.Out;
}

TEST_F(HostProgram, RunChecksTheWholeScriptThenStopsAtTheFailingLine) {
  // Saved with a byte-order mark, as editors on Windows do.
  const std::string good = Write("good.txt",
                                 "\xEF\xBB\xBF# the log first\n"
                                 "SetParameter s:LogEnabled b:true\n"
                                 "\n"
                                 "УстановитьПараметр \"s:No Such\" i:1\n"
                                 "GetInterfaceRevision\n");
  const TRun run = Host({"run", good});
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(Has(run.Out, "-- line 2: SetParameter s:LogEnabled b:true\nresult: true\n"))
      << run.Out;
  EXPECT_TRUE(Has(run.Out, "-- line 4: УстановитьПараметр s:No Such i:1")) << run.Out;
  EXPECT_FALSE(Has(run.Out, "line 5")) << "nothing runs after the failing line";
  EXPECT_TRUE(Has(run.Err,
                  "good.txt:4: УстановитьПараметр failed: [1001] Property not found: "
                  "No Such"))
      << run.Err;

  struct TCase {
    std::string Script, Message;
  };
  const std::vector<TCase> wrong = {
      {"GetInterfaceRevision\nOpenShift $DEVICE s: -\n",
       ":2: $DEVICE is used before any ConnectEquipment line binds it"},
      {"GetInterfaceRevision\nGetDescription -\nGetDescriptoin -\n",
       ":3: the add-in has no method \"GetDescriptoin\""},
      {"GetInterfaceRevision\nSetParameter \"s:open quote\n", ":2: a double quote is not closed"},
      {"SetParameter s:LogEnabled @nothere.xml\n", ":1: argument 1 (\"@nothere.xml\")"},
      {"GetInterfaceRevision\nGetDescription\n", ":2: GetDescription takes 1 argument, 0 given"},
  };
  for (const TCase& c : wrong) {
    const TRun bad = Host({"run", Write("bad.txt", c.Script)});
    EXPECT_EQ(bad.Status, 2) << c.Script;
    EXPECT_TRUE(Has(bad.Err, "bad.txt" + c.Message)) << c.Script << bad.Err;
    EXPECT_EQ(bad.Out, "") << "a wrong script runs no line at all";
  }
}

// The ten steps against the emulator: each succeeds and shows its output, and
// the tape shows what the register printed.
TEST_F(HostProgram, DemoRunsTheShiftOnTheEmulatorAndShowsTheTape) {
  const TRun demo = Host({"demo"});
  const std::string& out = demo.Out;
  EXPECT_EQ(demo.Status, 0) << out << demo.Err;
  ASSERT_TRUE(Has(out, "quarnel-emulator listens on 127.0.0.1:")) << out << demo.Err;
  // What each step must show.
  const std::vector<std::vector<std::string>> shows = {
      {"ConnectEquipment", "out 0: "},
      {"<OutputParameters", "ShiftState=\"2\"", "ShiftNumber=\"1\""},
      {"<RequestKMResult", "CheckingResult=\"true\"", "<ProcessingKMResult", "ConfirmKM",
       "<DocumentOutputParameters", "FiscalSign=\""},
      {"<DocumentOutputParameters", "ShiftClosingCheckNumber=\"2\""},
      {"d:5000\nresult: true", "d:-1500\nresult: true"},
      {"PrintXReport $DEVICE s:<InputParameters…>\nresult: true"},
      {"<CountersOperationType1\n      CheckCount=\"1\"\n      TotalChecksAmount=\"5169.80\"",
       "<CashIn\n      Count=\"1\"\n      TotalAmount=\"5000.00\"", "<Payments"},
      {"ShiftState=\"1\""},
      // The readout's own format is explained where it differs from the sale's.
      {"Name=\"Туфли женские\"", "MarkingCode=\"", "note: this is the fiscal storage's record",
       "PriceWithDiscount=\"89.9\" is the sale's 89.90",
       "TaxationSystem=\"1\" is the storage's code, one bit for each system: bit 0"},
      {"DisconnectEquipment $DEVICE\nresult: true"},
  };
  for (size_t n = 1; n <= shows.size(); ++n) {
    const std::string head = "== step " + std::to_string(n) + " of 10: ";
    const std::string tail = "-- step " + std::to_string(n) + ": ";
    const size_t from = out.find(head), to = out.find(tail);
    ASSERT_NE(from, std::string::npos) << head << "\n" << out;
    ASSERT_NE(to, std::string::npos) << tail << "\n" << out;
    const std::string step = out.substr(from, out.find('\n', to) - from);
    EXPECT_TRUE(Has(step, tail + "ok")) << "step " << n << " failed:\n" << step;
    for (const std::string& part : shows[n - 1])
      EXPECT_TRUE(Has(step, part)) << "step " << n << " must show " << part << ":\n" << step;
  }
  EXPECT_TRUE(Has(out, "== summary: 10 of 10 steps succeeded"));
  ASSERT_TRUE(Has(out, "\n== paper tape ==\n")) << out;
  const std::string tape = out.substr(out.find("\n== paper tape ==\n"));
  for (const char* printed : {"ОТЧЁТ ОБ ОТКРЫТИИ СМЕНЫ", "КАССОВЫЙ ЧЕК", "[М+]", "ВОЗВРАТ ПРИХОДА",
                              "ВНЕСЕНИЕ", "ИЗЪЯТИЕ", "X-ОТЧЁТ", "ОТЧЁТ О ЗАКРЫТИИ СМЕНЫ"})
    EXPECT_TRUE(Has(tape, printed)) << "the tape lacks " << printed << tape;
}

// A step that needs an earlier one is skipped, saying why, and the demo fails.
TEST_F(HostProgram, DemoOnARegisterThatDoesNotAnswerFailsStepByStep) {
  const TRun demo = Host({"demo", "--connect", "127.0.0.1:1"});
  EXPECT_EQ(demo.Status, 1);
  EXPECT_TRUE(Has(demo.Out, "-- step 1: FAILED: ConnectEquipment: [")) << demo.Out;
  EXPECT_TRUE(
      Has(demo.Out, "-- step 2: skipped: step 1 (connect to the register) did not succeed"));
  EXPECT_TRUE(Has(demo.Out, "== summary: 0 of 10 steps succeeded")) << demo.Out;
  EXPECT_FALSE(Has(demo.Out, "paper tape")) << "a register of its own keeps its own tape";
}

// However the host ends (killed, or brought down by the add-in), the emulator
// its demo started must not be left behind serving.
TEST_F(HostProgram, TheDemosEmulatorEndsWithTheHost) {
  // The emulator, orphaned by the host's end, becomes this process's child:
  // its end is awaited, however long it takes, instead of polled for.
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  // The tape in the test's folder: a killed host cannot remove a temporary one.
  int out = -1;
  const pid_t host =
      StartReading({HostPath().string(), "demo", "--tape", (FDir / "tape.txt").string()}, out);
  ASSERT_GT(host, 0);
  const std::string listens = "quarnel-emulator listens on 127.0.0.1:";
  std::string text;
  char c;
  while (text.find('\n', text.find(listens)) == std::string::npos && ::read(out, &c, 1) == 1)
    text += c;
  ::kill(host, SIGKILL);
  ::waitpid(host, nullptr, 0);
  ::close(out);
  ASSERT_NE(text.find(listens), std::string::npos) << text;
  const int port = std::stoi(text.substr(text.find(listens) + listens.size()));

  // The host's one other process; a test run that never ends here has an
  // emulator that outlived the host.
  int status = 0;
  const pid_t emulator = ::waitpid(-1, &status, 0);
  EXPECT_GT(emulator, 0) << "the host started no emulator";
  EXPECT_TRUE(WIFEXITED(status) || WIFSIGNALED(status));
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_NE(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
      << "port " << port << " still served after the emulator ended";
  ::close(fd);
}
