// The device control block a Windows serial port is programmed with, filled
// from a TComm's line settings. Kept free of <windows.h> so that the Linux
// tests fill a look-alike of the block with the same code the DLL runs.
#pragma once

#include <cstdint>

#include "transport/uCommManager.h"

// The control block's codes for the DTR and RTS modes, in the order of
// TControlDtr and TControlRts (DTR_CONTROL_* and RTS_CONTROL_*).
inline constexpr uint8_t kDcbDtrControl[] = {0, 1, 2};
inline constexpr uint8_t kDcbRtsControl[] = {0, 1, 2, 3};

// Writes AComm's settings into ADcb, a block the port has just reported.
// Every flag the settings do not name is cleared: the port keeps what its
// last user set, and DSR sensitivity would drop every byte of a register
// that does not raise DSR, NUL stripping every zero byte.
// TDcb is the system's DCB (or a look-alike with the same member names).
template <typename TDcb>
void FillCommState(TDcb& ADcb, const TComm& AComm) {
  const TFlowControl& flow = AComm.FlowControl();
  ADcb.DCBlength = sizeof ADcb;
  ADcb.fBinary = 1;
  ADcb.fDsrSensitivity = 0;
  ADcb.fTXContinueOnXoff = 0;
  ADcb.fErrorChar = 0;
  ADcb.fNull = 0;
  ADcb.fDummy2 = 0;
  ADcb.fParity = AComm.Parity() != prNone;
  ADcb.fAbortOnError = AComm.AbortOnError();
  ADcb.fOutxCtsFlow = flow.FOutCtsFlow;
  ADcb.fOutxDsrFlow = flow.FOutDsrFlow;
  ADcb.fDtrControl = kDcbDtrControl[flow.FControlDtr];
  ADcb.fRtsControl = kDcbRtsControl[flow.FControlRts];
  ADcb.fOutX = flow.FXonXoffOut;
  ADcb.fInX = flow.FXonXoffIn;
  ADcb.XonChar = 0x11;
  ADcb.XoffChar = 0x13;
  ADcb.XonLim = AComm.XonLimit();
  ADcb.XoffLim = AComm.XoffLimit();
  ADcb.Parity = static_cast<uint8_t>(AComm.Parity());
  ADcb.StopBits = static_cast<uint8_t>(AComm.StopBits());
  ADcb.BaudRate = static_cast<uint32_t>(AComm.BaudRateAsInt());
  ADcb.EvtChar = AComm.EvtChar();
  ADcb.ByteSize = AComm.DataBits();
}
