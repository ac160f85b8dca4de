// What TComm does the same on every platform: the settings, the time-limit
// arithmetic, the writes, and the reads through the register links' receive
// loop, over the platform's own opening, reading and writing
// (uCommManager.cpp, win/uCommManager.cpp).
#include <algorithm>
#include <chrono>

#include "common/uClock.h"
#include "device/uDeviceExchange.h"
#include "device/uEquipmentErrors.h"
#include "resources/uResources.h"
#include "transport/uCommManager.h"
#include "transport/uSerialLink.h"
#include "transport/uSystemError.h"

namespace {

using std::chrono::milliseconds;

constexpr int kRates[] = {110,   300,   600,   1200,  2400,  4800,  9600,
                          14400, 19200, 38400, 56000, 57600, 115200};

// Settings without any total limit would wait forever on a silent line;
// nothing here may hang, so such a wait ends after this long.
constexpr milliseconds kUnboundedWaitCap{60000};

}  // namespace

std::string ComPortDeviceName(int portNumber) {
  return LookUpComPort(portNumber).Device;
}

int BaudRateToInt(TBaudRate rate) {
  return rate <= br115200 ? kRates[rate] : 0;
}

// ---------------------------------------------------------------------------

TComm::TComm() = default;

TComm::~TComm() {
  Close();
}

bool TComm::Fail(int error) {
  FLastSystemError = error;
  FExtResultDescription = SystemErrorText(error);
  return false;
}

TLinkStatus TComm::Failed(int error) {
  Fail(error);
  return TLinkStatus::System(error);
}

bool TComm::Open() {
  if (Opened()) return true;
  FLastSystemError = 0;
  LookUpDevice();
  const bool settingUp = OpenHandle();
  const bool ok = settingUp && Purge(true) && ApplyState() && ApplyTimeouts();
  if (!ok) {
    const int error = FLastSystemError != 0 ? FLastSystemError : kUnexplainedSystemError;
    FHandle.Reset();
    Fail(error);
    // The device and the port number with the reason: a device that opens
    // but refuses its settings (a regular file, an adapter that rejects the
    // rate) is otherwise told by the system's bare words alone.
    FExtResultDescription =
        std::string(EquMessages::PortOpenError) + ". " +
        ResFormat("PortOpenFailed", {FPortLookup.Device, FPortLookup.OriginText(),
                                     PortOpenReasonText(error, settingUp, BaudRateAsInt())});
    return false;
  }
  if (FOverlappedMode) SetMask();
  return true;
}

void TComm::LookUpDevice() {
  if (FDeviceName.empty()) {
    FPortLookup = LookUpComPort(FPortNumber);
    return;
  }
  // No port number leads here: the messages must not name the one the
  // settings happen to hold.
  FPortLookup = TPortLookup();
  FPortLookup.Device = FDeviceName;
}

bool TComm::EnsureOpened() {
  return Opened() || Open();
}

void TComm::SetBaudRate(TBaudRate Value) {
  if (Value == FBaudRate) return;
  FBaudRate = Value;
  ApplyState();
}

void TComm::SetBaudRateAsInt(int Value) {
  for (int i = 0; i <= br115200; ++i)
    if (kRates[i] == Value) {
      FBaudRate = static_cast<TBaudRate>(i);
      return;
    }
}

void TComm::SetTimeouts(const TCommTimeouts& Value) {
  FTimeouts = Value;
  if (Opened()) ApplyTimeouts();
}

bool TComm::SetCommDTR(bool Value) {
  return SetModemLine(TModemLine::mlDtr, Value);
}

bool TComm::SetCommRTS(bool Value) {
  return SetModemLine(TModemLine::mlRts, Value);
}

// ---------------------------------------------------------------------------

bool TComm::WriteStr(std::string_view Data, int SleepTime) {
  if (Data.empty()) return true;
  FLastSystemError = 0;
  if (!EnsureOpened()) return false;
  size_t written = 0;
  if (!WriteWithLimits(Data, written)) return false;
  if (written < Data.size()) {
    FExtResultDescription = EquMessages::PortWriteError;
    return false;
  }
  if (SleepTime > 0) Clock().Sleep(milliseconds(SleepTime));
  return true;
}

bool TComm::WriteByte(uint8_t Value) {
  char c = static_cast<char>(Value);
  return WriteStr(std::string_view(&c, 1), 0);
}

milliseconds TComm::TotalLimit(uint64_t ALimit) {
  return ALimit == 0 ? kUnboundedWaitCap : milliseconds(std::min<uint64_t>(ALimit, 0x7FFFFFFF));
}

milliseconds TComm::ReadTotalLimit(uint32_t ACount) const {
  const TCommTimeouts& t = FTimeouts;
  // A maximal interval limit returns whatever has arrived, once anything has.
  const bool returnOnAny = t.ReadIntervalTimeout == kNoTimeLimitWait;
  if (returnOnAny && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0)
    return milliseconds(0);  // only what is already there
  if (returnOnAny && t.ReadTotalTimeoutMultiplier == kNoTimeLimitWait)
    return milliseconds(t.ReadTotalTimeoutConstant);
  return TotalLimit(uint64_t(t.ReadTotalTimeoutMultiplier) * ACount + t.ReadTotalTimeoutConstant);
}

bool TComm::ReadString(uint32_t Count, std::string& Data) {
  Data.clear();
  if (!Opened()) return Fail(kNotOpenSystemError);
  // A maximal interval limit returns whatever has arrived, once anything has.
  const uint32_t interval = FTimeouts.ReadIntervalTimeout;
  const milliseconds gap = interval == kNoTimeLimitWait ? milliseconds(0)
                           : interval > 0               ? milliseconds(interval)
                                                        : milliseconds(-1);
  TSerialLink link(*this);
  const TLinkStatus status =
      TDeviceExchange(link).Receive(Count, Data, DeadlineAfter(ReadTotalLimit(Count)), gap);
  // What came after a limit had passed came all the same: it is no longer in
  // the port.
  Data += link.Input().View();
  // A limit that passes, or a line that hangs up, ends the read with what came.
  return status.Fault != TLinkFault::lfSystem;
}

bool TComm::ReadByte(uint8_t& Value) {
  std::string data;
  if (!ReadString(1, data)) return false;
  if (data.empty()) {
    FExtResultDescription = EquMessages::DeviceNoAnswer;
    return false;
  }
  Value = static_cast<uint8_t>(data[0]);
  return true;
}

bool TComm::ReadByte(uint8_t& Value, uint32_t Timeout) {
  // WaitInput has recorded the reason of a failure (a closed port included).
  const TLinkStatus status = WaitInput(DeadlineAfter(milliseconds(Timeout)));
  if (status.Fault == TLinkFault::lfTimedOut) {
    FExtResultDescription = EquMessages::PortReadError;
    return false;
  }
  return status.Ok() && ReadByte(Value);
}

// ---------------------------------------------------------------------------

TCOM::TCOM() {
  FBaudRate = br57600;
  FDataBits = 8;
  FStopBits = sbOneStopBit;
  FParity = prNone;
  FTimeouts.ReadIntervalTimeout = 100;
  FTimeouts.ReadTotalTimeoutMultiplier = 0;
  FTimeouts.ReadTotalTimeoutConstant = 500;
}
