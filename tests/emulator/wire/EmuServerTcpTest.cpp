// The register's side of the link over a real TCP socket: probe, frames,
// validation, resend safety, bad input and every fault switch.
#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <random>

#include "common/uClock.h"
#include "emulator/wire/EmuTestPeer.h"
#include "wire/uEmuServer.h"

using namespace emu_test;

namespace {

// TScriptedHandler whose command "BB" keeps the register busy until the test
// releases it, as a long report would.
class TGatedHandler : public TScriptedHandler {
 public:
  TEmuAnswer Execute(const std::string& command, const std::vector<std::string>& args) override {
    if (command == "BB") {
      std::unique_lock lock(FGate);
      FHeld = true;
      FChanged.notify_all();
      FChanged.wait(lock, [this] { return FReleased; });
    }
    return TScriptedHandler::Execute(command, args);
  }
  // Waits (bounded, so that a fault fails the test instead of hanging it)
  // until the register runs "BB".
  bool WaitHeld() {
    std::unique_lock lock(FGate);
    return FChanged.wait_for(lock, std::chrono::milliseconds(kLimitMs), [this] { return FHeld; });
  }
  void Release() {
    std::lock_guard lock(FGate);
    FReleased = true;
    FChanged.notify_all();
  }

 private:
  std::mutex FGate;
  std::condition_variable FChanged;
  bool FHeld = false, FReleased = false;
};

}  // namespace

class EmuTcp : public ::testing::Test {
 protected:
  void SetUp() override { Start({}); }

  void Start(TEmuServerOptions options) {
    if (FServer) FServer->Stop();
    options.Port = 0;
    options.Wire.Verbose = true;
    options.Log = [this](std::string_view line) {
      std::lock_guard lock(FLogLock);
      FLog.emplace_back(line);
    };
    FServer = std::make_unique<TEmuServer>(FHandler, options);
    FServer->Start();
  }
  TPeer Connect() { return TPeer::Tcp(FServer->Port()); }
  bool Logged(const std::string& part) {
    std::lock_guard lock(FLogLock);
    for (const std::string& line : FLog)
      if (line.find(part) != std::string::npos) return true;
    return false;
  }

  // The server goes first at destruction: its thread uses everything above.
  TGatedHandler FHandler;
  std::mutex FLogLock;
  std::vector<std::string> FLog;
  std::unique_ptr<TEmuServer> FServer;
};

TEST_F(EmuTcp, ProbeIsAcknowledgedAndFrameAnsweredWithIdAndCommandEchoed) {
  ASSERT_NE(FServer->Port(), 0) << "port 0 must pick a real port";
  TPeer peer = Connect();
  ASSERT_TRUE(peer.Probe()) << "ENQ must be answered with ACK";
  TAnswer a = peer.Exchange(Request(0x21, "02", {"1", "", "2"}));
  ASSERT_TRUE(a.Complete) << "no whole answer frame: " << a.Raw;
  EXPECT_TRUE(a.ChecksumOk) << "answer checksum must be the XOR of id..ETX";
  EXPECT_EQ(a.Id, 0x21);
  EXPECT_EQ(a.Command, "02");
  EXPECT_EQ(a.Error, "00");
  EXPECT_EQ(a.Fields, (std::vector<std::string>{"02", "1,,2"})) << "every field ends with FS";
  auto calls = FHandler.Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].Args, (std::vector<std::string>{"1", "", "2"}));
}

TEST_F(EmuTcp, DamagedFrameGetsNakAndIsNotExecutedUntilItArrivesWhole) {
  TPeer peer = Connect();
  std::string frame = Request(0x21, "00");
  std::string damaged = frame;
  damaged[6] ^= 0x01;  // a flipped bit in the command
  ASSERT_TRUE(peer.Send(damaged));
  EXPECT_EQ(peer.ReadByte(), kNAK) << "a frame with a wrong checksum is answered with NAK";
  EXPECT_EQ(FHandler.CallCount(), 0u);
  TAnswer a = peer.Exchange(frame);
  EXPECT_EQ(a.Error, "00");
  EXPECT_EQ(FHandler.CallCount(), 1u);
  EXPECT_EQ(FServer->Stats().BadChecksums, 1u);
  EXPECT_TRUE(Logged("checksum error"));
}

TEST_F(EmuTcp, WrongPasswordIsRefusedWithError06AndNotExecuted) {
  TPeer peer = Connect();
  TAnswer a = peer.Exchange(Request(0x35, "30", {"1"}, "ABCD"));
  ASSERT_TRUE(a.Complete && a.ChecksumOk) << a.Raw;
  EXPECT_EQ(a.Error, "06");
  EXPECT_EQ(a.Id, 0x35);
  EXPECT_EQ(a.Command, "30");
  EXPECT_TRUE(a.Fields.empty());
  EXPECT_EQ(FHandler.CallCount(), 0u);

  TEmuServerOptions options;
  options.Wire.Password = "1234";
  Start(options);
  TPeer other = Connect();
  EXPECT_EQ(other.Exchange(Request(0x21, "00")).Error, "06") << "the default is no longer valid";
  EXPECT_EQ(other.Exchange(Request(0x22, "00", {}, "1234")).Error, "00");
}

TEST_F(EmuTcp, ResentFrameIsAnsweredFromMemoryWithoutRunningTwice) {
  TPeer peer = Connect();
  std::string frame = Request(0x21, "31", {"5"});
  TAnswer first = peer.Exchange(frame);
  TAnswer again = peer.Exchange(frame);
  EXPECT_EQ(again.Raw, first.Raw) << "the resend must get the same answer";
  EXPECT_EQ(FHandler.CallCount(), 1u) << "a resent frame must not execute again";
  EXPECT_EQ(FServer->Stats().Replayed, 1u);

  peer.Exchange(Request(0x21, "31", {"6"}));
  EXPECT_EQ(FHandler.CallCount(), 2u) << "same id with other arguments is a new command";
  peer.Exchange(Request(0x22, "31", {"6"}));
  EXPECT_EQ(FHandler.CallCount(), 3u) << "same command under a new id is a new command";

  peer.Close();
  TPeer next = Connect();
  next.Exchange(Request(0x22, "31", {"6"}));
  EXPECT_EQ(FHandler.CallCount(), 4u) << "a new client starts without the old client's memory";
}

TEST_F(EmuTcp, ProbeNakFaultAnswersTheNextProbesWithNak) {
  TPeer peer = Connect();
  FServer->Faults().NakProbes(2);
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(peer.Send(std::string(1, kENQ)));
    EXPECT_EQ(peer.ReadByte(), kNAK) << "probe " << i + 1;
  }
  EXPECT_TRUE(peer.Probe()) << "after two NAKs the probe is acknowledged again";

  FServer->Faults().NakProbes(-1);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(peer.Send(std::string(1, kENQ)));
    EXPECT_EQ(peer.ReadByte(), kNAK);
  }
  FServer->Faults().Clear();
  EXPECT_TRUE(peer.Probe());
}

TEST_F(EmuTcp, DroppedAnswerIsExecutedButNeverSent) {
  TPeer peer = Connect();
  FServer->Faults().ArmAnswerFault({TEmuAnswerFaultKind::Drop, 2, {}});
  EXPECT_EQ(peer.Exchange(Request(0x21, "00")).Error, "00") << "the first answer is not touched";
  ASSERT_TRUE(peer.Send(Request(0x22, "00")));
  // Half duplex: the probe is read only after the dropped answer's turn, so
  // the first byte back proves no answer was sent.
  ASSERT_TRUE(peer.Send(std::string(1, kENQ)));
  EXPECT_EQ(peer.ReadByte(), kACK) << "the dropped answer must not arrive";
  EXPECT_EQ(FHandler.CallCount(), 2u) << "the command behind a dropped answer still runs";
  EXPECT_EQ(peer.Exchange(Request(0x23, "00")).Id, 0x23);
}

TEST_F(EmuTcp, DelayedAnswerArrivesWhole) {
  TPeer peer = Connect();
  FServer->Faults().ArmAnswerFault({TEmuAnswerFaultKind::Delay, 1, std::chrono::milliseconds(50)});
  TAnswer a = peer.Exchange(Request(0x21, "00"));
  EXPECT_TRUE(a.Complete && a.ChecksumOk) << a.Raw;
  EXPECT_TRUE(Logged("delayed"));
}

TEST_F(EmuTcp, CorruptedChecksumAndWrongPacketIdSpoilOnlyTheirAnswer) {
  TPeer peer = Connect();
  FServer->Faults().ArmAnswerFault({TEmuAnswerFaultKind::CorruptChecksum, 1, {}});
  FServer->Faults().ArmAnswerFault({TEmuAnswerFaultKind::WrongPacketId, 2, {}});
  TAnswer bad = peer.Exchange(Request(0x21, "02", {"7"}));
  ASSERT_TRUE(bad.Complete) << bad.Raw;
  EXPECT_FALSE(bad.ChecksumOk) << "the checksum must be wrong";
  EXPECT_EQ(bad.Id, 0x21);
  EXPECT_EQ(bad.Fields, (std::vector<std::string>{"02", "7"})) << "the rest is intact";

  TAnswer wrongId = peer.Exchange(Request(0xF0, "02", {"8"}));
  ASSERT_TRUE(wrongId.Complete) << wrongId.Raw;
  EXPECT_TRUE(wrongId.ChecksumOk) << "the checksum matches the wrong id";
  EXPECT_NE(wrongId.Id, 0xF0);
  EXPECT_EQ(wrongId.Command, "02");

  TAnswer good = peer.Exchange(Request(0x22, "00"));
  EXPECT_TRUE(good.ChecksumOk);
  EXPECT_EQ(good.Id, 0x22);
}

TEST_F(EmuTcp, CloseMidAnswerSendsAPartialFrameThenTheNextClientIsServed) {
  TPeer peer = Connect();
  FServer->Faults().ArmAnswerFault({TEmuAnswerFaultKind::CloseMidAnswer, 1, {}});
  ASSERT_TRUE(peer.Send(Request(0x21, "02", {"123456"})));
  std::string got;
  ASSERT_TRUE(peer.ReadUntilEof(got)) << "the connection must be closed";
  ASSERT_FALSE(got.empty()) << "part of the answer must arrive before the close";
  EXPECT_EQ(got[0], kSTX);
  EXPECT_EQ(got.find(kETX), std::string::npos) << "the answer must stop before ETX";
  TPeer next = Connect();
  EXPECT_TRUE(next.Probe());
}

TEST_F(EmuTcp, NakAfterExecuteMakesTheResendSafe) {
  TPeer peer = Connect();
  FServer->Faults().ArmAnswerFault({TEmuAnswerFaultKind::NakAfterExecute, 1, {}});
  std::string frame = Request(0x21, "42", {"100"});
  ASSERT_TRUE(peer.Send(frame));
  EXPECT_EQ(peer.ReadByte(), kNAK);
  TAnswer a = peer.Exchange(frame);  // what a client does after a non-STX first byte
  EXPECT_TRUE(a.Complete && a.ChecksumOk) << a.Raw;
  EXPECT_EQ(a.Fields, (std::vector<std::string>{"42", "100"}));
  EXPECT_EQ(FHandler.CallCount(), 1u) << "the command must have run exactly once";
}

TEST_F(EmuTcp, FailedCommandReportsItsExtendedCodeThroughCommand06) {
  FHandler.ExtendedCode = 0;
  TPeer peer = Connect();
  FServer->Faults().FailCommand({"30", 0x01, 20, 1});
  TAnswer refused = peer.Exchange(Request(0x21, "30", {"2", "1", "Иванов"}));
  EXPECT_EQ(refused.Error, "01");
  EXPECT_TRUE(refused.Fields.empty());
  EXPECT_EQ(FHandler.CallCount(), 0u) << "a refused command does not reach the register";

  TAnswer ext = peer.Exchange(Request(0x22, "06", {"1"}));
  EXPECT_EQ(ext.Error, "00");
  ASSERT_GE(ext.Fields.size(), 2u);
  EXPECT_EQ(ext.Fields[0], "1") << "the register's own field 0 is kept";
  EXPECT_EQ(ext.Fields[1], "20") << "field 1 carries the injected extended code";

  EXPECT_EQ(peer.Exchange(Request(0x23, "30", {"2"})).Error, "00") << "Times = 1: once only";
  ext = peer.Exchange(Request(0x24, "06", {"1"}));
  ASSERT_GE(ext.Fields.size(), 2u);
  EXPECT_EQ(ext.Fields[1], "0") << "after a command that ran, 06 is the register's again";
}

TEST_F(EmuTcp, CommandFaultWithoutTimesRefusesEveryTimeUntilCleared) {
  TPeer peer = Connect();
  FServer->Faults().FailCommand({"0e", 0x0E, std::nullopt, 0});
  for (uint8_t id = 0x21; id < 0x24; ++id)
    EXPECT_EQ(peer.Exchange(Request(id, "0E", {"10"})).Error, "0E");
  FHandler.ExtendedCode = 7;
  auto ext = peer.Exchange(Request(0x24, "06", {"1"}));
  ASSERT_GE(ext.Fields.size(), 2u);
  EXPECT_EQ(ext.Fields[1], "7") << "without an injected code 06 is the register's";
  FServer->Faults().Clear();
  EXPECT_EQ(peer.Exchange(Request(0x25, "0E", {"10"})).Error, "00");
}

TEST_F(EmuTcp, RegisterFailureBecomesError03AndServingGoesOn) {
  TPeer peer = Connect();
  EXPECT_EQ(peer.Exchange(Request(0x21, "EE")).Error, "03");
  EXPECT_TRUE(Logged("failed inside the register"));
  EXPECT_EQ(peer.Exchange(Request(0x22, "00")).Error, "00");
}

TEST_F(EmuTcp, OverlongFrameIsRefusedWithError04WithoutGrowingAndTheLinkRecovers) {
  TEmuServerOptions options;
  options.Wire.MaxFrameBody = 256;
  Start(options);
  TPeer peer = Connect();
  TAnswer a = peer.Exchange(Request(0x21, "4C", {std::string(300000, 'x')}));
  ASSERT_TRUE(a.Complete) << a.Raw.substr(0, 40);
  EXPECT_EQ(a.Error, "04");
  EXPECT_EQ(a.Id, 0x21);
  EXPECT_EQ(FHandler.CallCount(), 0u);
  EXPECT_EQ(peer.Exchange(Request(0x22, "00", {std::string(240, 'y')})).Error, "00")
      << "a frame within the limit is served";
}

TEST_F(EmuTcp, GarbageIsIgnoredAndTheLinkStaysUsable) {
  TPeer peer = Connect();
  std::mt19937 random(4);
  std::string quiet;
  for (int i = 0; i < 65536; ++i) {
    char c = static_cast<char>(random() & 0xFF);
    if (c != kSTX && c != kENQ) quiet += c;
  }
  ASSERT_TRUE(peer.Send(quiet));
  ASSERT_TRUE(peer.Probe()) << "bytes outside a frame get no answer at all";
  EXPECT_EQ(FServer->Stats().IgnoredBytes, quiet.size());

  // Anything at all, control bytes included; replies are read as they come.
  std::string noise;
  for (int i = 0; i < 200000; ++i) noise += static_cast<char>(random() & 0xFF);
  ASSERT_TRUE(peer.Send(noise));
  ASSERT_TRUE(peer.Send(std::string(1, kENQ) + Request(0x77, "7Z")));
  bool answered = false;
  for (int i = 0; i < 100000 && !answered; ++i) {
    std::string frame = peer.ReadFrame();
    if (frame.empty()) break;
    TAnswer a = ParseAnswer(frame);
    answered = a.Complete && a.Command == "7Z" && a.Id == 0x77;
  }
  EXPECT_TRUE(answered) << "the frame after the noise must be answered";
}

TEST_F(EmuTcp, ClientsAreServedOneAfterAnother) {
  for (uint8_t round = 0; round < 3; ++round) {
    TPeer peer = Connect();
    ASSERT_TRUE(peer.Probe()) << "round " << int(round);
    EXPECT_EQ(peer.Exchange(Request(0x21, "00")).Error, "00") << "round " << int(round);
  }
  EXPECT_EQ(FServer->Stats().ClientsAccepted, 3u);

  // A second client waits until the first leaves, then gets its answer.
  TPeer first = Connect();
  ASSERT_TRUE(first.Probe());
  TPeer second = Connect();
  ASSERT_TRUE(second.Send(std::string(1, kENQ)));
  EXPECT_EQ(first.Exchange(Request(0x22, "00")).Error, "00") << "the first keeps the register";
  first.Close();
  EXPECT_EQ(second.ReadByte(), kACK) << "the waiting client is served after the first left";
  EXPECT_TRUE(Logged(" waits: client ")) << "a waiting client is told so in the log";
  EXPECT_TRUE(Logged(" served now: the client before it left"));
}

TEST_F(EmuTcp, AClientIdleWhileAnotherWaitsIsClosedAndTheNextServed) {
  TManualClock clock;
  TScopedClock scope(clock);
  Start({});  // the default idle limit, 30 s
  TPeer idle = Connect();
  ASSERT_TRUE(idle.Probe());
  clock.Advance(std::chrono::minutes(1));
  EXPECT_TRUE(idle.Probe()) << "with no one waiting, an idle client keeps the register";

  TPeer next = Connect();
  ASSERT_TRUE(next.Send(std::string(1, kENQ)));
  clock.Advance(std::chrono::seconds(31));
  EXPECT_EQ(next.ReadByte(), kACK) << "the waiting client is served";
  std::string rest;
  EXPECT_TRUE(idle.ReadUntilEof(rest)) << "the idle client is closed";
  EXPECT_TRUE(Logged(" closed: it sent nothing for 30 s while client 127.0.0.1:"));
}

// The register busy with the pty's command keeps the TCP client's bytes
// unread in its socket; a client that sent a command meanwhile is not idle.
TEST_F(EmuTcp, AClientWhoseCommandWaitsOutTheOtherLinksCommandIsNotIdle) {
  TManualClock clock;
  TScopedClock scope(clock);
  TEmuServerOptions options;
  options.Pty = true;
  Start(options);
  TPeer served = Connect();
  ASSERT_TRUE(served.Probe());
  TPeer waiting = Connect();
  ASSERT_TRUE(served.Probe()) << "answered once the waiting client has been taken in";
  TPeer pty = TPeer::Pty(FServer->PtyPath());
  ASSERT_TRUE(pty.Send(Request(0x21, "BB")));
  ASSERT_TRUE(FHandler.WaitHeld());
  ASSERT_TRUE(served.Send(std::string(1, kENQ)));
  clock.Advance(std::chrono::seconds(31));
  FHandler.Release();
  EXPECT_EQ(pty.ReadAnswer().Error, "00");
  EXPECT_EQ(served.ReadByte(), kACK) << "its probe, sent while the register was busy, is answered";
  EXPECT_FALSE(Logged(" closed: it sent nothing")) << "a client with a command waiting is not idle";
}

TEST_F(EmuTcp, StopClosesTheClientAndFreesThePort) {
  TPeer peer = Connect();
  ASSERT_TRUE(peer.Probe());
  uint16_t port = FServer->Port();
  FServer->Stop();
  std::string rest;
  EXPECT_TRUE(peer.ReadUntilEof(rest)) << "the client must see the connection end";
  EXPECT_FALSE(FServer->Running());

  TEmuServerOptions options;
  options.Port = port;
  options.Log = [](std::string_view) {};
  TEmuServer again(FHandler, options);
  EXPECT_NO_THROW(again.Start()) << "the same port can be listened on again";
}

TEST(EmuServer, StartFailsClearlyWhenTheAddressIsTaken) {
  TScriptedHandler handler;
  TEmuServerOptions options;
  options.Port = 0;
  TEmuServer first(handler, options);
  first.Start();
  options.Port = first.Port();
  TEmuServer second(handler, options);
  try {
    second.Start();
    FAIL() << "a second listener on the same port must fail";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("cannot listen on 127.0.0.1:"), std::string::npos)
        << e.what();
  }
  EXPECT_FALSE(second.Running());
  options.BindAddress = "localhost";
  TEmuServer third(handler, options);
  EXPECT_THROW(third.Start(), std::runtime_error) << "only dotted addresses";
}
