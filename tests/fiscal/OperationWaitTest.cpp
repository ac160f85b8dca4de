// The settling pauses of the fiscal operations, counted on the process
// clock. Scenarios through the library skip them, so only this in-process
// run of the driver against the virtual register sees them.
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

// The system clock, except that sleeps on the test's own thread are only
// written down.
class TPauseRecorder : public TSystemClock {
 public:
  void Sleep(std::chrono::milliseconds ADuration) override {
    if (std::this_thread::get_id() != FThread) return TSystemClock::Sleep(ADuration);
    std::lock_guard lock(FLock);
    FPauses.push_back(ADuration.count());
  }
  std::vector<long long> Take() {
    std::lock_guard lock(FLock);
    return std::exchange(FPauses, {});
  }

 private:
  const std::thread::id FThread = std::this_thread::get_id();
  std::mutex FLock;
  std::vector<long long> FPauses;
};

TEST(OperationWaitTest, CountersSettleForAQuarterSecondAndADocumentForHalfASecond) {
  TEmuRegisterOptions options;
  options.FfdVersion = "1.05";
  TEmuRegister reg(options);
  ASSERT_EQ(reg.Execute("23", {"Kassir"}).Error, 0);
  TEmuServerOptions serverOptions;
  serverOptions.Port = 0;
  serverOptions.Log = [](std::string_view) {};
  TEmuServer server(reg, serverOptions);
  server.Start();

  TPauseRecorder clock;
  TScopedClock scoped(clock);
  TDriver driver;
  pugi::xml_document settings;
  settings.load_string(("<Parameters><Parameter Name=\"PortNumber\" Value=\"9999\"/>"
                        "<Parameter Name=\"IPAddress\" Value=\"127.0.0.1\"/>"
                        "<Parameter Name=\"IPPort\" Value=\"" +
                        std::to_string(server.Port()) +
                        "\"/><Parameter Name=\"ConnectionPassword\" Value=\"KVNT\"/></Parameters>")
                           .c_str());
  driver.ConnectEquipment(settings);
  clock.Take();

  pugi::xml_document input, status;
  driver.GetCurrentStatus(input, status);
  EXPECT_EQ(clock.Take(), std::vector<long long>{250}) << "before the counters are read";

  pugi::xml_document correction, output;
  correction.load_string(
      "<P><Parameters OperationType=\"1\" TaxationSystem=\"0\"><CorrectionData/></Parameters>"
      "<Positions/><Payments ElectronicPayment=\"10\"/></P>");
  driver.ProcessCorrectionCheck(false, correction, output);
  EXPECT_EQ(clock.Take(), std::vector<long long>{500}) << "before the document is read back";
}

}  // namespace
