// The program's options: links, register settings and fault flags.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/uCommonUtils.h"
#include "wire/uEmuCodePage.h"
#include "wire/uEmuCommandLine.h"

namespace {
TEmuCommandLine Parse(std::vector<std::string> args) {
  return ParseEmuCommandLine(args);
}
}  // namespace

TEST(EmuCommandLine, DefaultsAreTheLoopbackPortWithTheDefaultPassword) {
  TEmuCommandLine cl = Parse({});
  EXPECT_TRUE(cl.Server.Tcp);
  EXPECT_FALSE(cl.Server.Pty);
  EXPECT_EQ(cl.Server.Port, 50003);
  EXPECT_EQ(cl.Server.BindAddress, "127.0.0.1");
  EXPECT_EQ(cl.Server.Wire.Password, "KVNT");
  EXPECT_FALSE(cl.Server.Wire.Verbose);
  EXPECT_TRUE(cl.Ffd.empty());
  EXPECT_FALSE(cl.Help);
}

TEST(EmuCommandLine, PtyAloneTurnsTcpOffUnlessAPortIsAsked) {
  EXPECT_FALSE(Parse({"--pty"}).Server.Tcp);
  TEmuCommandLine both = Parse({"--pty", "--port", "0"});
  EXPECT_TRUE(both.Server.Tcp && both.Server.Pty);
  EXPECT_EQ(both.Server.Port, 0);
  TEmuCommandLine linked = Parse({"--link=/tmp/ttyQ"});
  EXPECT_TRUE(linked.Server.Pty) << "--link implies --pty";
  EXPECT_FALSE(linked.Server.Tcp);
  EXPECT_EQ(linked.Server.PtyLink, "/tmp/ttyQ");
}

TEST(EmuCommandLine, RegisterSettingsPassThrough) {
  TEmuCommandLine cl = Parse({"--ffd", "1.05", "--state", "s.json", "--tape=t.txt", "--bind",
                              "0.0.0.0", "-v", "--password", "ПАРЛ"});
  EXPECT_EQ(cl.Ffd, "1.05");
  EXPECT_EQ(cl.StateFile, "s.json");
  EXPECT_EQ(cl.TapeFile, "t.txt");
  EXPECT_EQ(cl.Server.BindAddress, "0.0.0.0");
  EXPECT_TRUE(cl.Server.Wire.Verbose);
  EXPECT_EQ(cl.Server.Wire.Password, "\xCF\xC0\xD0\xCB") << "the password is held in CP1251";
  EXPECT_EQ(cl.Server.IdleLimit, std::chrono::seconds(30)) << "the default idle limit";
  EXPECT_EQ(Parse({"--idle-limit", "2"}).Server.IdleLimit, std::chrono::seconds(2));
  EXPECT_NE(EmuUsageText().find("--idle-limit SECONDS"), std::string::npos);
}

TEST(EmuCommandLine, FaultFlagsBuildTheFaultSettings) {
  TEmuCommandLine cl =
      Parse({"--nak-probe", "all", "--drop-answer", "3", "--delay-answer=2:150",
             "--corrupt-checksum", "4", "--wrong-packet-id", "5", "--close-mid-answer", "6",
             "--nak-answer", "7", "--fail-command", "30:01:20", "--fail-command", "0e:0E"});
  EXPECT_EQ(cl.Faults.NakProbes, -1);
  ASSERT_EQ(cl.Faults.AnswerFaults.size(), 6u);
  EXPECT_EQ(cl.Faults.AnswerFaults[0].Kind, TEmuAnswerFaultKind::Drop);
  EXPECT_EQ(cl.Faults.AnswerFaults[0].Nth, 3);
  EXPECT_EQ(cl.Faults.AnswerFaults[1].Kind, TEmuAnswerFaultKind::Delay);
  EXPECT_EQ(cl.Faults.AnswerFaults[1].Nth, 2);
  EXPECT_EQ(cl.Faults.AnswerFaults[1].Delay.count(), 150);
  EXPECT_EQ(cl.Faults.AnswerFaults[5].Kind, TEmuAnswerFaultKind::NakAfterExecute);
  ASSERT_EQ(cl.Faults.CommandFaults.size(), 2u);
  EXPECT_EQ(cl.Faults.CommandFaults[0].Command, "30");
  EXPECT_EQ(cl.Faults.CommandFaults[0].Error, 0x01);
  EXPECT_EQ(cl.Faults.CommandFaults[0].ExtendedCode, 20);
  EXPECT_EQ(cl.Faults.CommandFaults[0].Times, 0) << "from the command line: every time";
  EXPECT_EQ(cl.Faults.CommandFaults[1].Command, "0E");
  EXPECT_FALSE(cl.Faults.CommandFaults[1].ExtendedCode);
  EXPECT_EQ(Parse({"--nak-probe", "2"}).Faults.NakProbes, 2);
}

TEST(EmuCommandLine, BadFlagsAreRefusedNamingTheFlag) {
  const std::vector<std::vector<std::string>> bad = {{"--port", "70000"},
                                                     {"--port", "x"},
                                                     {"--port"},
                                                     {"--ffd", "1.0"},
                                                     {"--password", "ABC"},
                                                     {"--password", "ABCDE"},
                                                     {"--fail-command", "30:1G"},
                                                     {"--fail-command", "30"},
                                                     {"--fail-command", "300:01"},
                                                     {"--delay-answer", "2"},
                                                     {"--drop-answer", "0"},
                                                     {"--nak-probe", "some"},
                                                     {"--idle-limit", "-1"},
                                                     {"--pty=yes"},
                                                     {"--bogus"},
                                                     {"--link", ""}};
  for (const auto& args : bad) {
    try {
      Parse(args);
      ADD_FAILURE() << "accepted: " << args[0];
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(args[0].substr(0, args[0].find('='))), std::string::npos)
          << "the message must name the flag: " << e.what();
    }
  }
  EXPECT_TRUE(Parse({"--help"}).Help);
  EXPECT_NE(EmuUsageText().find("--fail-command"), std::string::npos);
}

TEST(EmuCommandLine, StateFileMustBeAFileInAFolderThatExists) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / ("quarnel-emu-state-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  EXPECT_EQ(StateFileProblem((dir / "register.json").string()), "") << "a new file is fine";
  std::ofstream((dir / "old.json").string()) << "{}";
  EXPECT_EQ(StateFileProblem((dir / "old.json").string()), "") << "so is an existing one";
  EXPECT_NE(StateFileProblem(dir.string()).find("is a folder"), std::string::npos)
      << "a folder is reported as a folder, not as a corrupt state";
  EXPECT_NE(StateFileProblem((dir / "missing" / "s.json").string()).find("does not exist"),
            std::string::npos);
  EXPECT_EQ(StateFileProblem("relative.json"), "") << "the current folder holds a bare name";
  fs::remove_all(dir);
}

// The emulator converts with glibc's iconv, the driver with its own tables:
// every byte of both code pages must read the same on both sides.
TEST(EmuCodePage, EveryByteAgreesWithTheDriversTables) {
  for (int b = 0; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    EXPECT_EQ(EmuOemToUtf8(byte), OemToUtf8(byte)) << "CP866 byte " << b;
    EXPECT_EQ(EmuUtf8ToOem(OemToUtf8(byte)), byte) << "CP866 byte " << b << " back";
    if (b == 0x98) continue;  // no character in CP1251
    EXPECT_EQ(EmuUtf8ToAnsi(AnsiToUtf8(byte)), byte) << "CP1251 byte " << b;
  }
  EXPECT_EQ(EmuUtf8ToOem("Ёж €\xff!"), std::string("\xF0\xA6 ?"
                                                   "?!"))
      << "a character CP866 lacks and a malformed byte each become one \"?\"";
}
