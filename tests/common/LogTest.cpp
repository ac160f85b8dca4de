#include "common/Common.Log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>
#include <vector>

#include "common/uClock.h"

namespace fs = std::filesystem;

namespace {

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quarnel-log-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    FDir = pattern;
    setenv("QUARNEL_DATA_DIR", FDir.c_str(), 1);
    SetLogMode(lmOff);
    SetLogName("quarnel");
    // Lines an earlier test could not write are noted in the first line
    // written: let that be written here, away from what the test reads.
    SetLogMode(lmAll);
    WriteLog("drain", "");
    SetLogMode(lmOff);
    fs::remove_all(fs::path(FDir) / "Dravex");
  }
  void TearDown() override {
    SetLogMode(lmOff);
    fs::remove_all(FDir);
  }

  fs::path Folder() const { return fs::path(FDir) / "Dravex" / "quarnel"; }
  std::string Read(const std::string& day = "2024.03.05") const {
    std::ifstream in(Folder() / ("quarnel_" + day + ".log"), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2)
      lines.push_back(text.substr(start, pos - start));
    EXPECT_EQ(start, text.size()) << "every line must end with CR LF";
    return lines;
  }

  std::string FDir;
  TManualClock FClock{{2024, 3, 5, 10, 11, 12, 345}};
  TScopedClock FScope{FClock};
};

TEST_F(LogTest, FirstLineOfARunComesAfterTheSixLineHeader) {
  SetLogMode(lmAll);
  WriteLog("TCOMDevice", "-> 05 ", llInfo);
  const auto lines = Lines(Read());
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0], std::string(40, ' '));
  EXPECT_EQ(lines[1], "============Start log=============");
  EXPECT_EQ(lines[2].rfind("OS version:\t", 0), 0u) << lines[2];
  EXPECT_EQ(lines[3].rfind("Application:\t", 0), 0u) << lines[3];
  EXPECT_EQ(lines[4], "App. version:\t" + ApplicationVersionText());
  EXPECT_EQ(lines[5], std::string(40, ' '));
  EXPECT_EQ(lines[6], "2024.03.05 10:11:12.345\tINFO\tTCOMDevice: \t-> 05");
  EXPECT_EQ(Read().substr(0, 3), std::string(40, ' ').substr(0, 3)) << "no byte-order mark";
}

TEST_F(LogTest, LineLayoutTrimsSourceAndTextAndOmitsEmptyText) {
  EXPECT_EQ(FormatLogLine("  > GetVersion\t", "", llDebug),
            "2024.03.05 10:11:12.345\tDEBUG\t> GetVersion");
  EXPECT_EQ(FormatLogLine("Exception", "  Нет связи \r\n", llError),
            "2024.03.05 10:11:12.345\tERROR\tException: \tНет связи");
}

TEST_F(LogTest, StampsAndDayFilesKeepTheirLeadingZeros) {
  FClock.SetLocal({2031, 1, 2, 3, 4, 5, 6});
  SetLogMode(lmAll);
  WriteLog("s", "t");
  EXPECT_EQ(Lines(Read("2031.01.02")).back(), "2031.01.02 03:04:05.006\tINFO\ts: \tt");
}

TEST_F(LogTest, EachModeFiltersItsLevels) {
  struct Case {
    TLogMode Mode;
    bool Info, Debug, Error;
  };
  for (const Case c : {Case{lmOff, false, false, false}, Case{lmErrors, false, false, true},
                       Case{lmInfoErrors, true, false, true}, Case{lmAll, true, true, true},
                       Case{lmSuspended, false, false, false}}) {
    SetLogMode(lmOff);
    fs::remove_all(Folder());
    SetLogMode(c.Mode);
    WriteLog("src", "info", llInfo);
    WriteLog("src", "debug", llDebug);
    WriteLog("src", "error", llError);
    const std::string text = Read();
    EXPECT_EQ(text.find("\tINFO\tsrc") != std::string::npos, c.Info) << int(c.Mode);
    EXPECT_EQ(text.find("\tDEBUG\tsrc") != std::string::npos, c.Debug) << int(c.Mode);
    EXPECT_EQ(text.find("\tERROR\tsrc") != std::string::npos, c.Error) << int(c.Mode);
  }
}

TEST_F(LogTest, SwitchingOffWritesStopLineAndSwitchingOnStartsANewHeader) {
  SetLogMode(lmAll);
  WriteLog("a", "1");
  SetLogMode(lmOff);
  SetLogMode(lmAll);
  WriteLog("b", "2");
  const auto lines = Lines(Read());
  ASSERT_EQ(lines.size(), 16u);
  EXPECT_EQ(lines[7], "============Stop log===============");
  EXPECT_EQ(lines[8], "") << "an empty line follows the stop line";
  EXPECT_EQ(lines[10], "============Start log=============");
}

TEST_F(LogTest, SuspendingKeepsTheRunAndSilentlyEndsItWhenSwitchedOff) {
  SetLogMode(lmAll);
  WriteLog("a", "1");
  SetLogMode(lmSuspended);
  WriteLog("hidden", "x");
  SetLogMode(lmAll);
  WriteLog("b", "2");
  EXPECT_EQ(Lines(Read()).size(), 8u) << "no second header within one run";
  SetLogMode(lmSuspended);
  SetLogMode(lmOff);
  const std::string text = Read();
  EXPECT_EQ(text.find("Stop log"), std::string::npos) << "off from suspended writes no stop line";
  SetLogMode(lmAll);
  WriteLog("c", "3");
  EXPECT_EQ(Lines(Read()).size(), 15u) << "a fresh header after the silent end";
}

TEST_F(LogTest, DeviceIdentifiersSelectTheirFlag) {
  const std::string on = "0123ABCD-0123-4567-89ab-0123456789AB";
  const std::string off = "11111111-2222-3333-4444-555555555555";
  SetDeviceLogFlag(on, true);
  SetDeviceLogFlag(off, false);
  SelectDeviceLog(on);
  EXPECT_EQ(GetLogMode(), lmAll);
  SelectDeviceLog(off);
  EXPECT_EQ(GetLogMode(), lmOff);
  SelectDeviceLog(on);
  SelectDeviceLog(std::string("99999999-2222-3333-4444-555555555555"));
  EXPECT_EQ(GetLogMode(), lmOff) << "an unknown identifier turns logging off";
  SelectDeviceLog(on);
  SelectDeviceLog(std::string("not a device"));
  EXPECT_EQ(GetLogMode(), lmSuspended);
  SelectDeviceLog(std::nullopt);
  EXPECT_EQ(GetLogMode(), lmSuspended);
  EXPECT_FALSE(IsDeviceIdentifier("{0123ABCD-0123-4567-89ab-0123456789AB}"));
  EXPECT_FALSE(IsDeviceIdentifier("0123ABCD-0123-4567-89ab-0123456789ABC"));
  EXPECT_FALSE(IsDeviceIdentifier("0123ABCG-0123-4567-89ab-0123456789AB"));
}

TEST_F(LogTest, FirstLineAfterMidnightGoesToTheNextDaysFile) {
  FClock.SetLocal({2024, 3, 5, 23, 59, 59, 990});
  SetLogMode(lmAll);
  WriteLog("before", "");
  FClock.Advance(std::chrono::milliseconds(20));
  WriteLog("after", "");
  EXPECT_NE(Read("2024.03.05").find("before"), std::string::npos);
  const std::string next = Read("2024.03.06");
  EXPECT_NE(next.find("2024.03.06 00:00:00.010\tINFO\tafter"), std::string::npos);
  EXPECT_EQ(next.find("before"), std::string::npos);
  EXPECT_EQ(GetLogFileName(false), (Folder() / "quarnel_2024.03.06.log").string());
  EXPECT_EQ(GetLogFileName(true), Folder().string() + "/");
}

// Only the log folder itself is made group-writable: the parents the driver
// creates on the way are the user's, under the user's umask.
TEST_F(LogTest, NewLogFolderIsGroupWritableWhileItsParentsFollowTheUmask) {
  const mode_t oldMask = umask(022);
  GetLogFileName(true);
  umask(oldMask);
  struct stat st {};
  ASSERT_EQ(stat(Folder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0775u);
  ASSERT_EQ(stat((fs::path(FDir) / "Dravex").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u) << "a parent the driver creates keeps the user's umask";
  // An existing folder keeps its rights.
  chmod(Folder().c_str(), 0700);
  GetLogFileName(true);
  ASSERT_EQ(stat(Folder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

// A log failure never raises out of WriteLog into the code that logged: a
// register operation that ran must not be reported as failed.
TEST_F(LogTest, AnUnusableFolderFailsNoLineButIsNotedInTheNextLineWritten) {
  // A file where the folder should be: no user, root included, can create it.
  std::ofstream(fs::path(FDir) / "Dravex") << "x";
  SetLogMode(lmAll);
  EXPECT_NO_THROW(WriteLog("a", "lost"));
  EXPECT_NO_THROW(WriteLog("a", "lost too"));
  EXPECT_THAT([] { GetLogFileName(true); },
              ::testing::ThrowsMessage<std::exception>(::testing::HasSubstr(FDir + "/Dravex")))
      << "asked for the folder, the log names what it cannot use";
  fs::remove(fs::path(FDir) / "Dravex");
  WriteLog("b", "kept");
  const auto lines = Lines(Read());
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_THAT(lines[0], ::testing::MatchesRegex(".*\tERROR\tLog: \tlog entries not written: 4; .*"))
      << "two lines and the header before each were lost";
  EXPECT_EQ(lines[2], "============Start log=============");
  EXPECT_THAT(lines[7], ::testing::EndsWith("\tINFO\tb: \tkept"));
}

// The day file stays open between lines, yet every line lands in the file
// that is at the day's name when it is written.
TEST_F(LogTest, EachLineGoesToTheFileAtTheDaysName) {
  SetLogMode(lmAll);
  WriteLog("a", "first");
  const fs::path day = Folder() / "quarnel_2024.03.05.log";
  fs::rename(day, Folder() / "rotated.log");
  WriteLog("a", "after a rotation");
  EXPECT_EQ(Lines(Read()).size(), 1u) << "a new file at the name: " << Read();
  fs::remove(day);
  WriteLog("a", "after a removal");
  EXPECT_THAT(Lines(Read()), ::testing::ElementsAre(::testing::EndsWith("a: \tafter a removal")));
  fs::remove(day);
  const fs::path target = fs::path(FDir) / "victim";
  std::ofstream(target) << "precious";
  fs::create_symlink(target, day);
  WriteLog("a", "through a planted link");
  fs::remove(day);
  FClock.Advance(std::chrono::hours(24));
  WriteLog("a", "the next day");

  std::ifstream rotated(Folder() / "rotated.log");
  EXPECT_THAT(std::string(std::istreambuf_iterator<char>(rotated), {}),
              ::testing::EndsWith("a: \tfirst\r\n"))
      << "a renamed file gets no more lines";
  std::ifstream in(target);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious");
  EXPECT_THAT(Lines(Read("2024.03.06")),
              ::testing::ElementsAre(::testing::HasSubstr("log entries not written: 1"),
                                     ::testing::EndsWith("a: \tthe next day")))
      << "the line refused at the link is counted";
}

TEST_F(LogTest, ControlCharactersAreEscapedAndLongValuesCut) {
  SetLogMode(lmAll);
  WriteLog("Ec\x1Bho",
           "x\r\n2099.01.01 00:00:00.000\tERROR\tFORGED\x1B[2J\xC2\x85"
           "end");
  WriteLog("big", std::string(kLogTextLimit + 1000, 'y'));
  const auto lines = Lines(Read());
  ASSERT_EQ(lines.size(), 8u) << "no value may start a line of its own";
  EXPECT_THAT(lines[6], ::testing::EndsWith("Ec\\x1Bho: \t"
                                            "x\\r\\n2099.01.01 00:00:00.000\\tERROR\\tFORGED"
                                            "\\x1B[2J\\u0085end"));
  EXPECT_THAT(lines[7], ::testing::EndsWith("y [... 1000 bytes cut]"));
  EXPECT_LT(lines[7].size(), kLogTextLimit + 100);
  EXPECT_EQ(CapLogText("абв", 3), "а [... 4 bytes cut]") << "a cut never splits a character";
  // A lead byte whose character never comes must not carry the bytes after it through.
  EXPECT_THAT(FormatLogLine("src", "a\xE0\r\nforged\xF0\x1B!", llInfo),
              ::testing::EndsWith("src: \ta\xE0\\r\\nforged\xF0\\x1B!"));
}

// A faulty register can make one host call exchange bytes without end: the
// call's dumps stop at the cap, a failed step's dump still gets through, the
// count of what was left out ends the call, and the next call starts afresh.
TEST_F(LogTest, ByteDumpsOfAHostCallStopAtTheCapButAFailedStepsDumpIsWritten) {
  const std::string block(kLogDumpLimit / 16, '\x02');
  for (int call = 0; call < 2; ++call) {
    TLogCallScope scope;
    SetLogMode(lmAll);
    for (int i = 0; i < 18; ++i) WriteLogDump("TSocketDevice", "<- ", block, llInfo);
    WriteLogDump("TSocketDevice", "<- ", "\x15", llError);
  }
  size_t dumps = 0, failed = 0, counts = 0;
  for (const std::string& line : Lines(Read())) {
    dumps += line.find("\tINFO\tTSocketDevice: \t<- 02 02 ") != std::string::npos;
    failed += line.find("\tERROR\tTSocketDevice: \t<- 15") != std::string::npos;
    counts += line.find("\tLog: \tbyte dumps of this call not written: 2 lines, 131072 bytes") !=
              std::string::npos;
  }
  EXPECT_EQ(dumps, 2u * 16);
  EXPECT_EQ(failed, 2u);
  EXPECT_EQ(counts, 2u);
}

TEST_F(LogTest, DayFileIsNeverReachedThroughALinkNorIsAnotherUsersFile) {
  SetLogMode(lmAll);
  GetLogFileName(true);
  const fs::path target = fs::path(FDir) / "victim";
  std::ofstream(target) << "precious";
  fs::create_symlink(target, Folder() / "quarnel_2024.03.05.log");
  WriteLog("a", "through the link");
  std::ifstream in(target);
  std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(kept, "precious") << "the log must not follow a link planted at its name";
  if (geteuid() != 0) GTEST_SKIP() << "handing files to another user needs root";
  fs::remove(Folder() / "quarnel_2024.03.05.log");
  std::ofstream(Folder() / "quarnel_2024.03.05.log") << "theirs";
  ASSERT_EQ(chown((Folder() / "quarnel_2024.03.05.log").c_str(), 65534, 65534), 0);
  WriteLog("a", "into their file");
  EXPECT_EQ(Read(), "theirs");
  ASSERT_EQ(chown(Folder().c_str(), 65534, 65534), 0);
  EXPECT_THAT([] { GetLogFileName(true); },
              ::testing::ThrowsMessage<std::exception>(
                  ::testing::HasSubstr("принадлежит другому пользователю")));
}

TEST_F(LogTest, WithoutAbsoluteHomeOrStateFolderThereIsNoFallbackFolder) {
  // An ordinary user cannot create the system folder; root is made one.
  char pattern[] = "/tmp/quarnel-cwd-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string cwd = pattern;
  chmod(cwd.c_str(), 0777);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    if (chdir(cwd.c_str()) != 0) _exit(3);
    unsetenv("QUARNEL_DATA_DIR");
    unsetenv("HOME");
    setenv("XDG_STATE_HOME", "state", 1);  // relative: not a folder to trust
    try {
      GetLogFileName(true);
    } catch (const std::exception& e) {
      const bool named =
          std::string(e.what()).find("/var/log/Dravex/quarnel/") != std::string::npos;
      _exit(named && !fs::exists(fs::path(cwd) / "state") && !fs::exists(fs::path(cwd) / ".local")
                ? 0
                : 2);
    }
    _exit(1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  fs::remove_all(cwd);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << "1: a folder was used anyway, 2: the error does not name the folder or one was "
         "created under the working folder, 3: the child could not be set up";
}

TEST_F(LogTest, ALockSomeoneElseHoldsOnTheDayFileStallsNoLine) {
  SetLogMode(lmAll);
  WriteLog("a", "first");
  // The day file is readable by others, and a reader may lock what it reads.
  const int reader = open((Folder() / "quarnel_2024.03.05.log").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  ASSERT_EQ(flock(reader, LOCK_EX), 0);
  auto line = std::async(std::launch::async, [] { WriteLog("b", "second"); });
  const bool written = line.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  flock(reader, LOCK_UN);
  close(reader);
  line.wait();
  EXPECT_TRUE(written) << "every call that logs waited for the reader's lock";
  EXPECT_THAT(Read(), ::testing::EndsWith("\tINFO\tb: \tsecond\r\n"));
}

// Threads of the host log at once while the days pass under them, so the
// day file each line goes to keeps changing: no line may be torn, lost or
// written through a file another thread has just closed.
TEST_F(LogTest, ConcurrentWritersAcrossDaysNeverTearNorLoseALine) {
  SetLogMode(lmAll);
  constexpr int kThreads = 4, kLines = 200;
  const std::string payload(300, 'x');
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) {
        if (t == 0 && i % 4 == 0) FClock.Advance(std::chrono::hours(24));
        WriteLog("T" + std::to_string(t), payload);
      }
    });
  }
  for (auto& th : threads) th.join();
  std::vector<std::string> lines;
  for (const auto& entry : fs::directory_iterator(Folder())) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    for (std::string& line : Lines(ss.str())) lines.push_back(std::move(line));
  }
  ASSERT_EQ(lines.size(), 6u + kThreads * kLines) << "one header, every line once";
  const size_t whole = std::string("2024.03.05 10:11:12.345\tINFO\tT0: \t").size() + payload.size();
  size_t stamped = 0;
  for (const std::string& line : lines) {
    if (line.find("\tINFO\tT") == std::string::npos) continue;
    ++stamped;
    ASSERT_EQ(line.size(), whole) << "torn line: " << line.substr(0, 60);
  }
  EXPECT_EQ(stamped, size_t(kThreads * kLines));
}

TEST_F(LogTest, ProcessExitWithLoggingOnWritesTheStopLine) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SetClock(nullptr);  // the child exits with the system clock, as a host does
    SetLogMode(lmAll);
    WriteLog("child", "last words");
    std::exit(0);  // static finalisers run: the stop line, then the texts are released
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child crashed at exit";
  bool found = false;
  for (const auto& entry : fs::directory_iterator(Folder())) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string text = ss.str();
    if (text.find("last words") == std::string::npos) continue;
    found = true;
    EXPECT_NE(text.find("============Stop log===============\r\n\r\n"), std::string::npos);
  }
  EXPECT_TRUE(found) << "the child's line is missing";
}

}  // namespace
