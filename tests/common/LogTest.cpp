#include "common/Common.Log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
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

TEST_F(LogTest, NewFoldersAreCreatedWithParentsAndGroupWritable) {
  GetLogFileName(true);
  struct stat st {};
  ASSERT_EQ(stat(Folder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0775u);
  ASSERT_EQ(stat((fs::path(FDir) / "Dravex").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0775u);
  // An existing folder keeps its rights.
  chmod(Folder().c_str(), 0700);
  GetLogFileName(true);
  ASSERT_EQ(stat(Folder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(LogTest, AnUnusableFolderRaisesIntoTheCaller) {
  // A file where the folder should be: no user, root included, can create it.
  std::ofstream(fs::path(FDir) / "Dravex") << "x";
  SetLogMode(lmAll);
  EXPECT_ANY_THROW(WriteLog("a", "b"));
}

TEST_F(LogTest, ConcurrentWritersNeverTearALine) {
  SetLogMode(lmAll);
  constexpr int kThreads = 4, kLines = 200;
  const std::string payload(300, 'x');
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) WriteLog("T" + std::to_string(t), payload);
    });
  }
  for (auto& th : threads) th.join();
  const auto lines = Lines(Read());
  ASSERT_EQ(lines.size(), 6u + kThreads * kLines) << "one header, every line once";
  for (size_t i = 6; i < lines.size(); ++i) {
    ASSERT_EQ(lines[i].size(),
              std::string("2024.03.05 10:11:12.345\tINFO\tT0: \t").size() + payload.size())
        << "torn line " << i;
  }
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
