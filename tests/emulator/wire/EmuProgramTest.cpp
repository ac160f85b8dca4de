// quarnel-emulator as a child process, the way scripts and the driver's
// tests start it: the lines it prints, both links, the fault flags, and a
// clean stop on SIGTERM.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "emulator/wire/EmuTestPeer.h"

using namespace emu_test;
namespace fs = std::filesystem;

extern char** environ;

namespace {
fs::path ProgramPath() {
  if (const char* dir = std::getenv("QUARNEL_TEST_BINARY_DIR"))
    return fs::path(dir) / "emulator" / "quarnel-emulator";
  return fs::read_symlink("/proc/self/exe").parent_path() / ".." / ".." / "emulator" /
         "quarnel-emulator";
}

class TChild {
 public:
  // WithErrors: standard error goes to the same pipe as standard output.
  explicit TChild(const std::vector<std::string>& args, bool WithErrors = false) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    if (WithErrors)
      posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    else
      posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string program = ProgramPath().string();
    std::vector<char*> argv{program.data()};
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    int rc = posix_spawn(&FPid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    FOut = pipeFds[0];
    if (rc != 0) throw std::runtime_error("cannot start " + program);
    FPidFd = static_cast<int>(::syscall(SYS_pidfd_open, FPid, 0));  // a waitable exit
  }
  ~TChild() {
    if (FPid > 0) {
      ::kill(FPid, SIGKILL);
      ::waitpid(FPid, nullptr, 0);
    }
    if (FOut >= 0) ::close(FOut);
    if (FPidFd >= 0) ::close(FPidFd);
  }

  // The next line of its standard output; empty at the end or the limit.
  std::string ReadLine() {
    for (;;) {
      size_t nl = FBuffer.find('\n');
      if (nl != std::string::npos) {
        std::string line = FBuffer.substr(0, nl);
        FBuffer.erase(0, nl + 1);
        return line;
      }
      pollfd p{FOut, POLLIN, 0};
      if (::poll(&p, 1, kLimitMs) <= 0) return {};
      char buf[512];
      ssize_t n = ::read(FOut, buf, sizeof buf);
      if (n <= 0) return {};
      FBuffer.append(buf, static_cast<size_t>(n));
    }
  }
  // The value of the line "key value".
  std::string Expect(const std::string& key) {
    std::string line = ReadLine();
    return line.rfind(key + " ", 0) == 0 ? line.substr(key.size() + 1) : "<" + line + ">";
  }

  // Exit status after a signal, or -1 when it does not end within the limit.
  int Stop(int signalNumber) {
    ::kill(FPid, signalNumber);
    return Wait();
  }
  int Wait() {
    pollfd p{FPidFd, POLLIN, 0};
    if (FPidFd < 0 || ::poll(&p, 1, kLimitMs) <= 0) return -1;
    int status = 0;
    ::waitpid(FPid, &status, 0);
    FPid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t FPid = -1;
  int FOut = -1;
  int FPidFd = -1;
  std::string FBuffer;
};

class EmuProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quarnel-emu-prog-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    FDir = pattern;
    ASSERT_TRUE(fs::exists(ProgramPath())) << ProgramPath();
  }
  void TearDown() override { fs::remove_all(FDir); }
  fs::path FDir;
};
}  // namespace

TEST_F(EmuProgram, PrintsWhereItServesAndStopsCleanlyOnSigterm) {
  std::string link = (FDir / "ttyQ").string();
  TChild child({"--port", "0", "--pty", "--link", link, "--tape", (FDir / "tape.txt").string(),
                "--state", (FDir / "state.json").string()});
  std::string port = child.Expect("port");
  std::string pty = child.Expect("pty");
  ASSERT_EQ(port.find_first_not_of("0123456789"), std::string::npos) << port;
  EXPECT_EQ(fs::read_symlink(link).string(), pty);

  TPeer tcp = TPeer::Tcp(static_cast<uint16_t>(std::stoi(port)));
  ASSERT_TRUE(tcp.Probe());
  TAnswer status = tcp.Exchange(Request(0x21, "00"));
  EXPECT_TRUE(status.Complete && status.ChecksumOk) << status.Raw;
  EXPECT_EQ(status.Error, "00") << "a fresh register answers its status";
  TPeer serial = TPeer::Pty(link);
  EXPECT_TRUE(serial.Probe()) << "the pty is served beside TCP";

  EXPECT_EQ(child.Stop(SIGTERM), 0) << "SIGTERM must end the program with status 0";
  EXPECT_FALSE(fs::is_symlink(link)) << "the pty link is removed at the end";
  EXPECT_TRUE(fs::exists(FDir / "state.json")) << "the state is kept";
}

TEST_F(EmuProgram, FaultFlagsTakeEffect) {
  TChild child({"--port", "0", "--tape", (FDir / "tape.txt").string(), "--fail-command", "00:01:20",
                "--nak-probe", "1"});
  std::string port = child.Expect("port");
  TPeer tcp = TPeer::Tcp(static_cast<uint16_t>(std::atoi(port.c_str())));
  ASSERT_TRUE(tcp.Send(std::string(1, kENQ)));
  EXPECT_EQ(tcp.ReadByte(), kNAK) << "--nak-probe 1";
  EXPECT_TRUE(tcp.Probe());
  EXPECT_EQ(tcp.Exchange(Request(0x21, "00")).Error, "01");
  TAnswer ext = tcp.Exchange(Request(0x22, "06", {"1"}));
  ASSERT_EQ(ext.Fields.size(), 2u) << ext.Raw;
  EXPECT_EQ(ext.Fields[1], "20");
  EXPECT_EQ(child.Stop(SIGINT), 0);
}

TEST_F(EmuProgram, AnIdleClientMakesWayForTheNextAfterTheIdleLimit) {
  TChild child({"--port", "0", "--tape", (FDir / "tape.txt").string(), "--idle-limit", "1"}, true);
  const uint16_t port = static_cast<uint16_t>(std::atoi(child.Expect("port").c_str()));
  TPeer idle = TPeer::Tcp(port);
  ASSERT_TRUE(idle.Probe());
  TPeer next = TPeer::Tcp(port);
  ASSERT_TRUE(next.Send(std::string(1, kENQ)));
  EXPECT_EQ(next.ReadByte(), kACK) << "served once the idle client is closed";
  std::string rest;
  EXPECT_TRUE(idle.ReadUntilEof(rest));
  bool noted = false;
  for (std::string line = child.ReadLine(); !noted && !line.empty(); line = child.ReadLine())
    noted =
        line.find(" closed: it sent nothing for 1 s while client 127.0.0.1:") != std::string::npos;
  EXPECT_TRUE(noted) << "the closing is noted on standard error";
  EXPECT_EQ(child.Stop(SIGTERM), 0);
}

TEST_F(EmuProgram, HelpAndBadFlagsExitWithoutServing) {
  TChild help({"--help"});
  EXPECT_NE(help.ReadLine().find("Usage: quarnel-emulator"), std::string::npos);
  EXPECT_EQ(help.Wait(), 0);
  TChild bad({"--port", "99999"});
  EXPECT_EQ(bad.Wait(), 2) << "a bad flag is a usage error";
  TChild taken({"--pty", "--link", (FDir).string()});
  EXPECT_EQ(taken.Wait(), 1) << "a link path that is a directory cannot be replaced";
}

TEST_F(EmuProgram, StateThatCannotBeKeptIsRefusedAtStartLikeTheTape) {
  TChild missing({"--port", "0", "--state", (FDir / "no-such-folder" / "s.json").string()}, true);
  EXPECT_NE(missing.ReadLine().find("does not exist"), std::string::npos);
  EXPECT_EQ(missing.Wait(), 1) << "a register that could save nothing must not serve";
  TChild folder({"--port", "0", "--state", FDir.string()}, true);
  EXPECT_NE(folder.ReadLine().find("is a folder"), std::string::npos);
  EXPECT_EQ(folder.Wait(), 1);
}

TEST_F(EmuProgram, ReadyLineComesFirstAndTheTapeFollowsOnStandardOutput) {
  TChild child({"--port", "0"});
  const std::string port = child.Expect("port");
  TPeer tcp = TPeer::Tcp(static_cast<uint16_t>(std::atoi(port.c_str())));
  ASSERT_TRUE(tcp.Probe());
  ASSERT_EQ(tcp.Exchange(Request(0x21, "20")).Error, "00") << "X report";
  std::string tape;
  for (std::string line = child.ReadLine(); !line.empty(); line = child.ReadLine()) {
    tape += line + "\n";
    if (line.find("✂") != std::string::npos) break;
  }
  EXPECT_NE(tape.find("X-ОТЧЁТ"), std::string::npos) << tape;
  EXPECT_EQ(child.Stop(SIGTERM), 0);
}
