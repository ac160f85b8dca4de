// The settling pauses of the fiscal operations, counted on the process
// clock. Scenarios through the library skip them, so only this in-process
// run of the driver against the virtual register sees them, in one timeline
// with the commands the register carried out: a pause is worth something
// only between the command whose results settle and the first read of them.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/uClock.h"
#include "emulator/register/uEmuRegister.h"
#include "emulator/wire/uEmuServer.h"
#include "fiscal/uDriver.h"

namespace {

// What happened, in order: "pause N" for a sleep of N ms on the test's
// thread, a command's code for each command the register carried out.
class TTimeline : public TSystemClock, public TEmuCommandHandler {
 public:
  explicit TTimeline(TEmuRegister& ARegister) : FRegister(ARegister) {}
  void Sleep(std::chrono::milliseconds ADuration) override {
    if (std::this_thread::get_id() != FThread) return TSystemClock::Sleep(ADuration);
    Note("pause " + std::to_string(ADuration.count()));
  }
  TEmuAnswer Execute(const std::string& ACommand, const std::vector<std::string>& AArgs) override {
    Note(ACommand);
    return FRegister.Execute(ACommand, AArgs);
  }
  std::vector<std::string> Take() {
    std::lock_guard lock(FLock);
    return std::exchange(FEvents, {});
  }

 private:
  void Note(std::string AEvent) {
    std::lock_guard lock(FLock);
    FEvents.push_back(std::move(AEvent));
  }
  TEmuRegister& FRegister;
  const std::thread::id FThread = std::this_thread::get_id();
  std::mutex FLock;
  std::vector<std::string> FEvents;
};

// The pause with the events just before it ("call" when it came first) and
// just after it.
std::vector<std::string> AroundPause(const std::vector<std::string>& AEvents) {
  for (size_t i = 0; i + 1 < AEvents.size(); ++i)
    if (AEvents[i].starts_with("pause "))
      return {i > 0 ? AEvents[i - 1] : "call", AEvents[i], AEvents[i + 1]};
  return AEvents;
}

TEST(OperationWaitTest, ReportsAndDocumentsSettleBeforeTheirResultsAreRead) {
  TEmuRegisterOptions options;
  options.FfdVersion = "1.05";
  TEmuRegister reg(options);
  TTimeline timeline(reg);
  TEmuServerOptions serverOptions;
  serverOptions.Port = 0;
  serverOptions.Log = [](std::string_view) {};
  TEmuServer server(timeline, serverOptions);
  server.Start();

  TScopedClock scoped(timeline);
  TDriver driver;
  pugi::xml_document settings;
  settings.load_string(("<Parameters><Parameter Name=\"PortNumber\" Value=\"9999\"/>"
                        "<Parameter Name=\"IPAddress\" Value=\"127.0.0.1\"/>"
                        "<Parameter Name=\"IPPort\" Value=\"" +
                        std::to_string(server.Port()) +
                        "\"/><Parameter Name=\"ConnectionPassword\" Value=\"KVNT\"/></Parameters>")
                           .c_str());
  driver.ConnectEquipment(settings);
  timeline.Take();

  // The register settles its counters a quarter of a second after a report
  // (here the shift's opening) and answers for a closed document in its
  // fiscal storage after half a second.
  pugi::xml_document input, output;
  driver.OpenShift(input, output);
  EXPECT_EQ(AroundPause(timeline.Take()), (std::vector<std::string>{"23", "pause 250", "78"}))
      << "after the shift opens, before its counters are read";

  pugi::xml_document correction, document;
  correction.load_string(
      "<P><Parameters OperationType=\"1\" TaxationSystem=\"0\"><CorrectionData/></Parameters>"
      "<Positions/><Payments ElectronicPayment=\"10\"/></P>");
  driver.ProcessCorrectionCheck(false, correction, document);
  EXPECT_EQ(AroundPause(timeline.Take()), (std::vector<std::string>{"58", "pause 500", "78"}))
      << "after the document closes, before it is read back";

  pugi::xml_document status;
  driver.GetCurrentStatus(input, status);
  EXPECT_EQ(AroundPause(timeline.Take()), (std::vector<std::string>{"call", "pause 250", "78"}))
      << "a status read waits as long: a report may just have run";
}

}  // namespace
