// The host's XML as it may come, through the fiscal methods' host entry
// points into a driver object whose connection talks, in memory, to a
// virtual register (the emulator's own wire session and register), so the
// whole path runs: host values, XML parsing, input reading, the commands and
// their answers, the output documents.
//
// Input: pieces separated by a zero byte. The first piece is the connection
// parameters document (its first byte picks the register's data format);
// every later piece is one call: its first byte picks the method, its second
// gives a number argument (flag, operation type, amount, document number),
// the rest is the method's XML (or text) argument.
//
// Every call must end in true, or in false with an error message; every
// text handed to the host must come from its memory manager and go back to
// it; nothing may crash or leak.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/Common.Log.h"
#include "common/uCommonUtils.h"
#include "emulator/register/uEmuRegister.h"
#include "emulator/wire/uEmuLinkSession.h"
#include "driver/uMethodArguments.h"
#include "fiscal/uDriver.h"
#include "host/uAddInHost.h"
#include "tests/support/MemoryLink.h"

namespace {

// The register's side in memory: what the driver sends goes through the
// emulator's wire session, and its answer is what the link reads next.
class TInMemoryLink : public TMemoryLink {
 public:
  explicit TInMemoryLink(TEmuRegister& ARegister)
      : TMemoryLink("TInMemoryLink"),
        FSession(ARegister, FLock, FFaults, TEmuWireSettings{}, FCounters, "fuzz",
                 [](std::string_view) {}) {}

 protected:
  void Receive(std::string_view ABytes) override {
    while (!ABytes.empty()) {
      TEmuOutput out;
      bool replied = false;
      const size_t used = FSession.Consume(ABytes, out, replied);
      if (used == 0) break;
      ABytes.remove_prefix(used);
      if (replied) Queue(out.Bytes);
    }
  }

 private:
  std::mutex FLock;
  TEmuFaultPlan FFaults;
  TEmuWireCounters FCounters;
  TEmuLinkSession FSession;
};

class THarnessDriver : public TDriver {
 public:
  explicit THarnessDriver(TEmuRegister& ARegister) : FRegister(ARegister) {}

 protected:
  std::unique_ptr<TDevice> CreateDevice(const TDeviceDriver&) override {
    return std::make_unique<TLinkedDevice<TInMemoryLink>>(FRegister);
  }

 private:
  TEmuRegister& FRegister;
};

// One host call's arguments, as the platform lays them out.
class TArgs {
 public:
  TArgs(TDriver& ADriver, size_t ACount) : FDriver(ADriver), FValues(ACount) {}
  ~TArgs() {
    for (V8Variant& v : FValues) FDriver.V8ClearVar(&v);
    FDriver.V8ClearVar(&Result);
  }
  TArgs& Text(size_t AIndex, std::string_view AUtf8) {
    FDriver.V8SetWString(&FValues[AIndex], AUtf8);
    return *this;
  }
  TArgs& Int(size_t AIndex, int32_t AValue) {
    FDriver.V8SetInt(&FValues[AIndex], AValue);
    return *this;
  }
  TArgs& Double(size_t AIndex, double AValue) {
    FDriver.V8SetDouble(&FValues[AIndex], AValue);
    return *this;
  }
  TArgs& Bool(size_t AIndex, bool AValue) {
    FDriver.V8SetBool(&FValues[AIndex], AValue);
    return *this;
  }
  V8Variant* Data() { return FValues.data(); }
  long Count() const { return static_cast<long>(FValues.size()); }
  std::string TextAt(size_t AIndex) { return V8ToUtf8(&FValues[AIndex]); }
  V8Variant Result{};

 private:
  TDriver& FDriver;
  std::vector<V8Variant> FValues;
};

// The methods the fuzzer calls, chosen by the first byte of a piece. Each
// argument after the device is made from the piece as its row of arguments
// types it: a text or XML from the rest, a number, flag or amount from the
// second byte; out-arguments stay empty.
const char* const kMethods[] = {"OperationFN",
                                "OpenShift",
                                "CloseShift",
                                "ProcessCheck",
                                "ProcessCorrectionCheck",
                                "PrintTextDocument",
                                "CashInOutcome",
                                "PrintXReport",
                                "GetCurrentStatus",
                                "ReportCurrentStatusOfSettlements",
                                "RequestKM",
                                "GetProcessingKMResult",
                                "ConfirmKM",
                                "OpenSessionRegistrationKM",
                                "CloseSessionRegistrationKM",
                                "GetDocumentInformation",
                                "SetDateTime",
                                "GetDataKKT",
                                "PrintCheckCopy"};

// A result that is false must say why.
void CheckOutcome(TDriver& ADriver, const V8Variant& AResult) {
  if (AResult.vt != VTYPE_BOOL) __builtin_trap();
  if (!AResult.bVal && ADriver.LastResult().ErrorDescription.empty()) __builtin_trap();
}

// The harness's own link stands in for the register: any port number the
// parameter page offers will do.
const char kDefaultParameters[] =
    "<Parameters><Parameter Name=\"PortNumber\" Value=\"9999\"/>"
    "<Parameter Name=\"ConnectionPassword\" Value=\"KVNT\"/>"
    "<Parameter Name=\"CutString\" Value=\"[cut]\"/></Parameters>";

// Connects with AParameters, or with the plain parameters when those fail,
// so that the calls after them still meet a register.
std::string Connect(THarnessDriver& ADriver, std::string_view AParameters) {
  for (std::string_view parameters : {AParameters, std::string_view(kDefaultParameters)}) {
    // As under the platform's dispatcher: the log decision is the call's own.
    TLogCallScope scope;
    TArgs args(ADriver, 3);
    args.Text(2, parameters);
    ADriver.TCommonDriver::ConnectEquipment(&args.Result, args.Data(), args.Count(), nullptr);
    CheckOutcome(ADriver, args.Result);
    if (args.Result.bVal) return args.TextAt(0);
  }
  return {};
}

void CallOne(THarnessDriver& ADriver, const std::string& AId, std::string_view APiece) {
  if (APiece.empty()) return;
  const char* const method = kMethods[static_cast<uint8_t>(APiece[0]) % std::size(kMethods)];
  const TMethodSignature& row = *FindMethodSignature(method);
  const uint8_t number = APiece.size() > 1 ? static_cast<uint8_t>(APiece[1]) : 0;
  const std::string_view text = APiece.size() > 2 ? APiece.substr(2) : std::string_view();
  TLogCallScope scope;  // the log stays off for the calls
  TArgs args(ADriver, static_cast<size_t>(row.Count()));
  args.Text(0, AId);
  for (size_t i = 1; i < static_cast<size_t>(row.Count()); ++i) {
    const TMethodArgument& arg = row.Args[i];
    if (arg.Direction != TArgDirection::adIn) continue;
    switch (arg.Type) {
      case TArgType::atInteger:
        args.Int(i, static_cast<int8_t>(number));
        break;
      case TArgType::atBoolean:
        args.Bool(i, number & 1);
        break;
      case TArgType::atNumber:
        args.Double(i, (number - 100) * 12.345);
        break;
      default:
        args.Text(i, text);
        break;
    }
  }
  ADriver.CallHostMethod(method, &args.Result, args.Data(), args.Count());
  CheckOutcome(ADriver, args.Result);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    setenv("QUARNEL_TEST_SKIP_WAITS", "1", 1);
    // A log folder that cannot exist: the log is formatted and refused, and
    // a long run does not fill the disk.
    setenv("QUARNEL_DATA_DIR", "/dev/null/quarnel-fuzz", 1);
    return true;
  }();
  (void)ready;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> pieces;
  for (size_t start = 0;;) {
    const size_t end = input.find('\0', start);
    pieces.push_back(input.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  const uint8_t format = pieces[0].empty() ? 0 : static_cast<uint8_t>(pieces[0][0]);
  const std::string_view parameters = pieces[0].empty() ? pieces[0] : pieces[0].substr(1);

  TEmuRegisterOptions options;
  options.FfdVersion = format % 3 == 0 ? "1.2" : format % 3 == 1 ? "1.05" : "1.1";
  TEmuRegister reg(options);
  THostMemoryManager memory;
  {
    THarnessDriver driver(reg);
    driver.V8MM = &memory;
    const std::string id = Connect(driver, parameters);
    if (id.empty()) __builtin_trap();  // the plain parameters always connect
    for (size_t i = 1; i < pieces.size() && i <= 64; ++i) CallOne(driver, id, pieces[i]);
  }
  // A text handed to the host was never freed, or the driver freed a block
  // that was not the host's.
  if (memory.Live() != 0 || memory.BadFrees() != 0) __builtin_trap();
  return 0;
}
