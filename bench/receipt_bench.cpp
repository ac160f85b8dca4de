// Receipts: what the driver's own work costs for one receipt, and how many
// receipts a minute a register behind a real link gets.
//
// - BM_ReceiptCpu/n: ProcessCheck of an n-item receipt through the host entry
//   point, from the XML text to the last command, over a null link: a link
//   that answers every frame at once with canned fields, so the time is the
//   driver's (XML, input reading, frames, answer checks, output document).
// - BM_ReceiptsPerMinute*/n: the same receipt against the virtual register in
//   this process over loopback TCP or a pty; "excluded" runs the fixed pauses
//   (500 ms after a document's close) on a test clock, "included" for real.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/NullLink.h"
#include "common/Common.Log.h"
#include "common/uClock.h"
#include "emulator/register/uEmuRegister.h"
#include "emulator/wire/uEmuServer.h"
#include "fiscal/uDriver.h"
#include "host/uAddInHost.h"

namespace {

// A receipt of AItems positions paid in cash.
std::string Receipt(int AItems) {
  std::string xml =
      "<CheckPackage><Parameters CashierName=\"Иванов\" CashierINN=\"500100732259\" "
      "OperationType=\"1\" TaxationSystem=\"0\" CustomerEmail=\"buyer@example.ru\"/><Positions>";
  for (int i = 0; i < AItems; ++i)
    xml += "<FiscalString Name=\"Товар номер " + std::to_string(i) +
           "\" Quantity=\"1.5\" PriceWithDiscount=\"12.34\" AmountWithDiscount=\"18.51\" "
           "DiscountAmount=\"0\" VATRate=\"20\" PaymentMethod=\"4\" CalculationSubject=\"1\"/>";
  return xml + "</Positions><Payments Cash=\"" + std::to_string(AItems * 20) +
         "\"/></CheckPackage>";
}

// The answer fields a register gives, by command and first argument.
std::vector<std::string> CannedFields(std::string_view ACommand, std::string_view AFirst) {
  if (ACommand == "00") return {"0", "4", "0"};  // shift open, no document
  if (ACommand == "11") return {AFirst == "83" ? "www.nalog.gov.ru" : "0"};
  if (ACommand == "02") return {"18", "48"};
  if (ACommand == "01") return {"1", "12"};
  if (ACommand == "78") {
    if (AFirst == "3") return {"3", "77"};
    // 2024-03-05 10:20, document 77, fiscal sign 0xDEADBEEF
    if (AFirst == "11")
      return {"11",
              "180305"
              "0A14"
              "4D000000"
              "EFBEADDE"};
    if (AFirst == "6") return {"6", "1", "1", "9"};
    if (AFirst == "14") return {"14", "1", "2", "4"};
  }
  return {};
}

// The null link answering as a register with an open shift and no document.
class TCannedLink : public TNullLink {
 protected:
  std::string AnswerData(std::string_view ACommand, std::string_view AArgs) override {
    using FrameCodec::FS;
    std::string data;
    for (const std::string& field : CannedFields(ACommand, AArgs.substr(0, AArgs.find(FS))))
      data += field + FS;
    return data;
  }
};

// The driver object with its link chosen here (null) or by its parameters.
class TBenchDriver : public TDriver {
 public:
  TCannedLink* NullLink = nullptr;
  bool UseNullLink = false;

 protected:
  std::unique_ptr<TDevice> CreateDevice(const TDeviceDriver& AHolder) override {
    if (!UseNullLink) return TDriver::CreateDevice(AHolder);
    auto device = std::make_unique<TLinkedDevice<TCannedLink>>();
    NullLink = &device->Link();
    return device;
  }
};

// A driver object as the host holds it, with one connection.
class THostSide {
 public:
  THostSide(bool ANullLink, const std::string& AParameters) {
    FDriver.UseNullLink = ANullLink;
    FDriver.V8MM = &FMemory;
    V8Variant args[3]{};
    FDriver.V8SetWString(&args[2], std::string_view(AParameters));
    V8Variant result{};
    FDriver.TCommonDriver::ConnectEquipment(&result, args, 3, nullptr);
    if (!result.bVal) throw std::runtime_error("connect: " + FDriver.LastResult().ErrorDescription);
    FId = V8ToUtf8(&args[0]);
    for (V8Variant& a : args) FDriver.V8ClearVar(&a);
  }
  // One ProcessCheck from the XML text, as the host calls it.
  void Sell(const std::string& AReceipt) {
    V8Variant args[4]{};
    FDriver.V8SetWString(&args[0], std::string_view(FId));
    FDriver.V8SetBool(&args[1], false);
    FDriver.V8SetWString(&args[2], std::string_view(AReceipt));
    V8Variant result{};
    FDriver.CallHostMethod("ProcessCheck", &result, args, 4);
    for (V8Variant& a : args) FDriver.V8ClearVar(&a);
    if (!result.bVal) throw std::runtime_error("sale: " + FDriver.LastResult().ErrorDescription);
  }
  TBenchDriver& Driver() { return FDriver; }

 private:
  THostMemoryManager FMemory;
  TBenchDriver FDriver;
  std::string FId;
};

void BM_ReceiptCpu(benchmark::State& state) {
  // The null link stands in for the port the parameters name.
  THostSide host(true,
                 "<Parameters><Parameter Name=\"ConnectionPassword\" Value=\"KVNT\"/>"
                 "<Parameter Name=\"PortNumber\" Value=\"1\"/></Parameters>");
  const std::string receipt = Receipt(static_cast<int>(state.range(0)));
  // The pause after the close is the register's, not the driver's work.
  TManualClock clock;
  TScopedClock scope(clock);
  const size_t before = host.Driver().NullLink->Frames;
  for (auto _ : state) host.Sell(receipt);
  state.counters["frames"] = benchmark::Counter(double(host.Driver().NullLink->Frames - before) /
                                                double(state.iterations()));
}
BENCHMARK(BM_ReceiptCpu)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

enum class TRegisterLink { Tcp, Pty };

void ReceiptsPerMinute(benchmark::State& state, TRegisterLink ALink, bool AWaitsIncluded) {
  // Everything, the register's clock included, on one test clock that starts now.
  TManualClock clock(TSystemClock().LocalNow());
  std::unique_ptr<TScopedClock> scope;
  if (!AWaitsIncluded) scope = std::make_unique<TScopedClock>(clock);
  TEmuRegisterOptions options;
  TEmuRegister reg(options);
  TEmuServerOptions serverOptions;
  serverOptions.Port = 0;
  serverOptions.Pty = true;
  serverOptions.Log = [](std::string_view) {};
  TEmuServer server(reg, serverOptions);
  server.Start();
  reg.Execute("23", {"Kassir"});  // the shift is open
  ::setenv("QUARNEL_COM98", server.PtyPath().c_str(), 1);
  const std::string link =
      ALink == TRegisterLink::Tcp
          ? "<Parameter Name=\"PortNumber\" Value=\"9999\"/><Parameter Name=\"IPAddress\" "
            "Value=\"127.0.0.1\"/><Parameter Name=\"IPPort\" Value=\"" +
                std::to_string(server.Port()) + "\"/>"
          : "<Parameter Name=\"PortNumber\" Value=\"98\"/><Parameter Name=\"BaudRate\" "
            "Value=\"57600\"/>";
  THostSide host(false,
                 "<Parameters><Parameter Name=\"ConnectionPassword\" Value=\"KVNT\"/>"
                 "<Parameter Name=\"EnablePrinting\" Value=\"2\"/>" +
                     link + "</Parameters>");
  const std::string receipt = Receipt(static_cast<int>(state.range(0)));
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) host.Sell(receipt);
  const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
  state.counters["receipts_per_min"] = double(state.iterations()) * 60 / spent.count();
  ::unsetenv("QUARNEL_COM98");
}

void BM_ReceiptsPerMinuteTcpWaitsExcluded(benchmark::State& state) {
  ReceiptsPerMinute(state, TRegisterLink::Tcp, false);
}
void BM_ReceiptsPerMinutePtyWaitsExcluded(benchmark::State& state) {
  ReceiptsPerMinute(state, TRegisterLink::Pty, false);
}
void BM_ReceiptsPerMinuteTcpWaitsIncluded(benchmark::State& state) {
  ReceiptsPerMinute(state, TRegisterLink::Tcp, true);
}
BENCHMARK(BM_ReceiptsPerMinuteTcpWaitsExcluded)
    ->Arg(1)
    ->Arg(10)
    ->Arg(100)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ReceiptsPerMinutePtyWaitsExcluded)
    ->Arg(1)
    ->Arg(10)
    ->Arg(100)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
// Each receipt waits 500 ms after its close: a few are enough.
BENCHMARK(BM_ReceiptsPerMinuteTcpWaitsIncluded)
    ->Arg(1)
    ->Arg(10)
    ->Arg(100)
    ->Iterations(4)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
