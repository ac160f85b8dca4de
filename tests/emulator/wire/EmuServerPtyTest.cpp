// The same link over a pseudo-terminal, as a serial-port client sees it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "emulator/wire/EmuTestPeer.h"
#include "wire/uEmuServer.h"

using namespace emu_test;

namespace {
std::string TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quarnel-emu-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
  return pattern;
}
}  // namespace

class EmuPty : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = TempDir();
    TEmuServerOptions options;
    options.Tcp = false;
    options.Pty = true;
    options.PtyLink = FDir + "/ttyQUARNEL";
    options.Log = [](std::string_view) {};
    FServer = std::make_unique<TEmuServer>(FHandler, options);
    FServer->Start();
  }
  void TearDown() override {
    FServer.reset();
    std::filesystem::remove_all(FDir);
  }

  std::string FDir;
  TScriptedHandler FHandler;
  std::unique_ptr<TEmuServer> FServer;
};

TEST_F(EmuPty, LinkPointsAtTheSlaveAndCarriesTheProtocol) {
  ASSERT_FALSE(FServer->PtyPath().empty());
  EXPECT_EQ(FServer->Port(), 0) << "a pty alone opens no TCP port";
  std::error_code ec;
  EXPECT_EQ(std::filesystem::read_symlink(FServer->PtyLinkPath(), ec).string(), FServer->PtyPath());

  TPeer peer = TPeer::Pty(FServer->PtyLinkPath());
  ASSERT_TRUE(peer.Probe()) << "ENQ over the pty must be acknowledged";
  TAnswer a = peer.Exchange(Request(0x21, "02", {"1", "2"}));
  ASSERT_TRUE(a.Complete && a.ChecksumOk) << a.Raw;
  EXPECT_EQ(a.Fields, (std::vector<std::string>{"02", "1,2"}));

  // Bytes that a cooked terminal would change (CR, NL, DEL) pass unchanged.
  TAnswer raw = peer.Exchange(Request(0x22, "02", {"a\rb\nc\x7F"}));
  ASSERT_EQ(raw.Fields.size(), 2u) << raw.Raw;
  EXPECT_EQ(raw.Fields[1], "a\rb\nc\x7F");
}

TEST_F(EmuPty, ClientsComeAndGoOnTheSameDevice) {
  for (uint8_t id = 0x21; id < 0x24; ++id) {
    TPeer peer = TPeer::Pty(FServer->PtyPath());
    ASSERT_TRUE(peer.Probe());
    EXPECT_EQ(peer.Exchange(Request(id, "00")).Id, id);
  }
  EXPECT_EQ(FHandler.CallCount(), 3u);
}

TEST_F(EmuPty, ANewClientsFirstFrameRunsEvenWhenItRepeatsTheLastOne) {
  for (int client = 0; client < 2; ++client) {
    TPeer peer = TPeer::Pty(FServer->PtyPath());
    ASSERT_TRUE(peer.Probe()) << "a client opens the link with a probe";
    EXPECT_EQ(peer.Exchange(Request(0x21, "31", {"5"})).Error, "00");
  }
  EXPECT_EQ(FHandler.CallCount(), 2u) << "the second client's deposit is not the first's resend";
  EXPECT_EQ(FServer->Stats().Replayed, 0u);
}

TEST_F(EmuPty, CloseMidAnswerFallsSilentAndTheLinkRecovers) {
  TPeer peer = TPeer::Pty(FServer->PtyPath());
  FServer->Faults().ArmAnswerFault({TEmuAnswerFaultKind::CloseMidAnswer, 1, {}});
  ASSERT_TRUE(peer.Send(Request(0x21, "02", {"123456"})));
  // Fields "02" and "123456": STX, id, command, error, 2+1, 6+1, ETX, checksum.
  const size_t whole = 1 + 1 + 2 + 2 + 3 + 7 + 1 + 2;
  std::string part;
  for (size_t i = 0; i < whole / 2; ++i) {
    auto c = peer.ReadByte();
    ASSERT_TRUE(c) << "the first half must arrive";
    part += *c;
  }
  EXPECT_EQ(part[0], kSTX);
  ASSERT_TRUE(peer.Send(std::string(1, kENQ)));
  EXPECT_EQ(peer.ReadByte(), kACK) << "the rest of the answer must never come";
  EXPECT_EQ(peer.Exchange(Request(0x22, "00")).Error, "00");
}

TEST_F(EmuPty, StopRemovesTheLinkButNotAForeignFile) {
  std::string link = FServer->PtyLinkPath();
  FServer->Stop();
  struct stat st {};
  EXPECT_NE(::lstat(link.c_str(), &st), 0) << "the symlink must be removed at stop";

  std::string plain = FDir + "/plain";
  { std::ofstream(plain) << "keep"; }
  TEmuServerOptions options;
  options.Tcp = false;
  options.Pty = true;
  options.PtyLink = plain;
  TEmuServer other(FHandler, options);
  EXPECT_THROW(other.Start(), std::runtime_error) << "a regular file is never replaced";
  EXPECT_TRUE(std::filesystem::is_regular_file(plain));
}

TEST_F(EmuPty, LinkReplacesOnlyAStaleLinkToAPseudoTerminal) {
  FServer->Stop();
  namespace fs = std::filesystem;
  const std::string link = FDir + "/ttyOTHER";
  { std::ofstream(FDir + "/victim") << "keep"; }
  fs::create_symlink(FDir + "/victim", link);
  TEmuServerOptions options;
  options.Tcp = false;
  options.Pty = true;
  options.PtyLink = link;
  try {
    TEmuServer(FHandler, options).Start();
    ADD_FAILURE() << "a link to a plain file was replaced";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("not to a pseudo-terminal"), std::string::npos)
        << e.what();
  }
  EXPECT_EQ(fs::read_symlink(link).string(), FDir + "/victim") << "the foreign link must stay";

  fs::remove(link);
  fs::create_symlink("/dev/pts/999999", link);  // left by an earlier run
  TEmuServer server(FHandler, options);
  server.Start();
  EXPECT_EQ(fs::read_symlink(link).string(), server.PtyPath());
}

TEST(EmuLinks, TcpAndPtyServeTheSameRegister) {
  TScriptedHandler handler;
  TEmuServerOptions options;
  options.Port = 0;
  options.Pty = true;
  TEmuServer server(handler, options);
  server.Start();
  TPeer tcp = TPeer::Tcp(server.Port());
  TPeer pty = TPeer::Pty(server.PtyPath());
  EXPECT_EQ(tcp.Exchange(Request(0x21, "00")).Error, "00");
  EXPECT_EQ(pty.Exchange(Request(0x21, "00")).Error, "00")
      << "each link keeps its own resend memory";
  EXPECT_EQ(handler.CallCount(), 2u);
}
