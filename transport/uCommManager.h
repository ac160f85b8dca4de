// The serial port: TComm, the general port class, and TCOM, the port the
// serial register link runs over (the two share this header, the chief one of
// the transports, as TCOM only changes TComm's defaults).
//
// TComm opens a port by its number, programs the line (rate, parity, stop and
// data bits, flow control) and the time limits, and moves bytes. It never
// throws: every operation returns a success flag and leaves the reason of a
// failure in ExtResultDescription(), which the link turns into a TLinkStatus.
// The two primitives the register link reads with (ReadNow, WaitInput) report
// with a TLinkStatus themselves; the byte reads go through the links' one
// receive loop (uDeviceExchange.h) over this port.
//
// Port n is the device /dev/ttyS(n-1) unless the environment variable
// QUARNEL_COM<n> or a port map names another one for it (see uPortMap.h);
// the lookup is made afresh at every Open.
// On Windows port n is \\.\COM<n>, programmed with a device control block
// and COMMTIMEOUTS (transport/win/uCommManager.cpp).
//
// The time limits keep the meaning of the serial time-limit record the register
// software was written for: a read of n bytes may take at most
// ReadTotalTimeoutMultiplier * n + ReadTotalTimeoutConstant ms in all, and at
// most ReadIntervalTimeout ms between two bytes; it returns early only when all
// n bytes have come. Every wait is bounded by those limits, measured on
// Clock().
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/uFd.h"
#if defined(_WIN32)
#include "common/win/uWinHandle.h"
#endif
#include "device/uRegisterLink.h"
#include "transport/uPortMap.h"

struct termios;

enum TParity : uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TControlDtr : uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TControlRts : uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TBaudRate : uint8_t {
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200
};
enum TStopBits : uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };

struct TFlowControl {
  bool FOutCtsFlow = false;
  bool FOutDsrFlow = false;
  TControlDtr FControlDtr = dtrDisable;
  TControlRts FControlRts = rtsDisable;
  bool FXonXoffOut = false;
  bool FXonXoffIn = false;
};

// Time limits in milliseconds. A ReadIntervalTimeout of kNoTimeLimitWait
// (all bits set) makes a read return as soon as anything has arrived.
struct TCommTimeouts {
  uint32_t ReadIntervalTimeout = 100;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 100;
  uint32_t WriteTotalTimeoutMultiplier = 50;
  uint32_t WriteTotalTimeoutConstant = 100;
};
inline constexpr uint32_t kNoTimeLimitWait = 0xFFFFFFFFu;

// The device path of a port number now (see above).
std::string ComPortDeviceName(int portNumber);
// The rate in bits per second of a TBaudRate.
int BaudRateToInt(TBaudRate rate);

class TComm {
 public:
  TComm();
  virtual ~TComm();
  TComm(const TComm&) = delete;
  TComm& operator=(const TComm&) = delete;

  bool Open();
  bool Close();
  bool EnsureOpened();
  bool Purge(bool Abort);
  bool ApplyState();
  bool ApplyTimeouts();

  bool WriteStr(std::string_view Data, int SleepTime = 0);
  bool WriteByte(uint8_t Value);
  bool WriteChar(uint8_t Value) { return WriteByte(Value); }

  // One byte within the port's time limits.
  bool ReadByte(uint8_t& Value);
  bool ReadChar(uint8_t& Value) { return ReadByte(Value); }
  // Waits up to Timeout ms for input, then reads one byte as above.
  bool ReadByte(uint8_t& Value, uint32_t Timeout);
  bool ReadChar(uint8_t& Value, uint32_t Timeout) { return ReadByte(Value, Timeout); }
  // Up to Count bytes: returns when all have come or a time limit has passed
  // (then with fewer, possibly none). False only when the system call fails.
  bool ReadString(uint32_t Count, std::string& Data);

  // Reads what has arrived, at most ASize bytes, in one read without
  // waiting (ARead is 0 when nothing is there): done, lfClosed for a line
  // that hung up, or lfSystem with the reason in ExtResultDescription().
  TLinkStatus ReadNow(char* ABuffer, size_t ASize, size_t& ARead);
  // Waits until input is there or ADeadline passes (Clock()): done,
  // lfTimedOut, or lfSystem with the reason as above.
  TLinkStatus WaitInput(std::chrono::steady_clock::time_point ADeadline);
  // How long a read of ACount bytes may take in all under the time limits.
  std::chrono::milliseconds ReadTotalLimit(uint32_t ACount) const;

  uint32_t InQueueCount();
  bool SetCommDTR(bool Value);
  bool SetCommRTS(bool Value);

  // Event-mask operations of overlapped mode: no event waiting exists here.
  bool SetMask() { return true; }
  void StopEventWaiting() {}
  void SetEvtChar(char Value) { FEvtChar = Value; }

  bool Opened() const { return FHandle.Valid(); }
  TBaudRate BaudRate() const { return FBaudRate; }
  void SetBaudRate(TBaudRate Value);
  int BaudRateAsInt() const { return BaudRateToInt(FBaudRate); }
  void SetBaudRateAsInt(int Value);
  int PortNumber() const { return FPortNumber; }
  void SetPortNumber(int Value) { FPortNumber = Value; }
  const TCommTimeouts& Timeouts() const { return FTimeouts; }
  void SetTimeouts(const TCommTimeouts& Value);
  const std::string& ExtResultDescription() const { return FExtResultDescription; }
  TParity Parity() const { return FParity; }
  void SetParity(TParity Value) { FParity = Value; }
  const TFlowControl& FlowControl() const { return FFlowControl; }
  void SetFlowControl(const TFlowControl& Value) { FFlowControl = Value; }
  uint8_t DataBits() const { return FDataBits; }
  void SetDataBits(uint8_t Value) { FDataBits = Value; }
  TStopBits StopBits() const { return FStopBits; }
  void SetStopBits(TStopBits Value) { FStopBits = Value; }
  const std::string& EndSymbol() const { return FEndSymbol; }
  void SetEndSymbol(std::string Value) { FEndSymbol = std::move(Value); }
  bool OverlappedMode() const { return FOverlappedMode; }
  void SetOverlappedMode(bool Value) { FOverlappedMode = Value; }
  char EvtChar() const { return FEvtChar; }
  bool AbortOnError() const { return FAbortOnError; }
  void SetAbortOnError(bool Value) { FAbortOnError = Value; }
  uint16_t XonLimit() const { return FXonLimit; }
  void SetXonLimit(uint16_t Value) { FXonLimit = Value; }
  uint16_t XoffLimit() const { return FXoffLimit; }
  void SetXoffLimit(uint16_t Value) { FXoffLimit = Value; }

  // errno of the last failed system call (0 after a success of Open, and
  // after a write that went out short without one). The link reads it to
  // tell "no such device" from other open failures.
  int LastSystemError() const { return FLastSystemError; }
  // How the last Open found its device: the path tried, where the port
  // number's device came from, and the problems of the port maps.
  const TPortLookup& PortLookup() const { return FPortLookup; }
  // Opens APath instead of looking the port number up (empty: look it up
  // again), for a tool that tries devices by name.
  void SetDeviceName(std::string APath) { FDeviceName = std::move(APath); }

 protected:
#if !defined(_WIN32)
  // The line settings (all but the rate) written into a terminal record.
  void FillTermios(termios& tio) const;
#endif

  char FEvtChar = 0;
  uint16_t FXonLimit = 256;
  uint16_t FXoffLimit = 256;
#if defined(_WIN32)
  TWinHandle FHandle;  // \\.\COM<n>
#else
  TFd FHandle;
#endif
  bool FOverlappedMode = false;  // stored only: reads and writes here are always poll-driven
  TBaudRate FBaudRate = br9600;
  int FPortNumber = 1;
  TCommTimeouts FTimeouts;
  TParity FParity = prNone;
  TFlowControl FFlowControl;
  bool FAbortOnError = false;
  uint8_t FDataBits = 8;
  TStopBits FStopBits = sbOneStopBit;
  std::string FEndSymbol;
  uint8_t FReadAfterEndSymbol = 0;
  std::string FExtResultDescription;
  int FDCBFlags = 1;
  int FLastSystemError = 0;
  TPortLookup FPortLookup;
  std::string FDeviceName;

 private:
  // FPortLookup for the next Open: the device named by SetDeviceName, else
  // the port number's device now.
  void LookUpDevice();
  // Opens FPortLookup's device and readies it for setting up, leaving the
  // error in FLastSystemError when it cannot; Open does the rest and words
  // the failure.
  bool OpenHandle();
  bool Fail(int error);
  // The failure of a system call as a link status, the reason recorded.
  TLinkStatus Failed(int error);
  // Writes Data within the write limits, counting what went out in AWritten
  // (0 on entry): short when the limits passed first. False when the system
  // call failed.
  bool WriteWithLimits(std::string_view Data, size_t& AWritten);
  enum class TModemLine : uint8_t { mlDtr, mlRts };
  bool SetModemLine(TModemLine line, bool raise);
  // A total limit of ALimit ms; none (0) is capped, so no wait is endless.
  static std::chrono::milliseconds TotalLimit(uint64_t ALimit);
#if defined(_WIN32)
  bool Fail();  // with GetLastError()
#endif
};

// The port the serial register link owns: 57600 bits per second, 8N1, and a
// read limit of 500 ms (100 ms between bytes).
class TCOM : public TComm {
 public:
  TCOM();
};
