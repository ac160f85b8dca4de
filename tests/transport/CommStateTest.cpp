// The device control block the Windows port is programmed with, filled into
// a look-alike of the system's DCB (same members, same widths).
#include "transport/uCommState.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct TLookAlikeDcb {
  uint32_t DCBlength;
  uint32_t BaudRate;
  uint32_t fBinary : 1;
  uint32_t fParity : 1;
  uint32_t fOutxCtsFlow : 1;
  uint32_t fOutxDsrFlow : 1;
  uint32_t fDtrControl : 2;
  uint32_t fDsrSensitivity : 1;
  uint32_t fTXContinueOnXoff : 1;
  uint32_t fOutX : 1;
  uint32_t fInX : 1;
  uint32_t fErrorChar : 1;
  uint32_t fNull : 1;
  uint32_t fRtsControl : 2;
  uint32_t fAbortOnError : 1;
  uint32_t fDummy2 : 17;
  uint16_t wReserved;
  uint16_t XonLim;
  uint16_t XoffLim;
  uint8_t ByteSize;
  uint8_t Parity;
  uint8_t StopBits;
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  uint16_t wReserved1;
};

// What GetCommState may report after another program used the port: every
// flag on, DSR sensitivity (input dropped while DSR is low) and NUL
// stripping among them.
TLookAlikeDcb LeftByAnotherProgram() {
  TLookAlikeDcb dcb;
  std::memset(&dcb, 0xFF, sizeof dcb);
  return dcb;
}

TEST(CommState, TheRegistersLineWithNothingLeftByThePortsLastUser) {
  TCOM com;
  TLookAlikeDcb dcb = LeftByAnotherProgram();
  FillCommState(dcb, com);
  EXPECT_EQ(dcb.DCBlength, sizeof dcb);
  EXPECT_EQ(dcb.BaudRate, 57600u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, 0) << "no parity";
  EXPECT_EQ(dcb.StopBits, 0) << "one stop bit";
  EXPECT_EQ(dcb.fBinary, 1u);
  EXPECT_EQ(dcb.fParity, 0u);
  EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
  EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
  EXPECT_EQ(dcb.fDtrControl, 0u);
  EXPECT_EQ(dcb.fRtsControl, 0u);
  EXPECT_EQ(dcb.fOutX, 0u);
  EXPECT_EQ(dcb.fInX, 0u);
  EXPECT_EQ(dcb.fAbortOnError, 0u);
  EXPECT_EQ(dcb.fDsrSensitivity, 0u) << "the register does not raise DSR: every byte would drop";
  EXPECT_EQ(dcb.fNull, 0u) << "zero bytes would drop";
  EXPECT_EQ(dcb.fErrorChar, 0u);
  EXPECT_EQ(dcb.fTXContinueOnXoff, 0u);
  EXPECT_EQ(dcb.fDummy2, 0u);
  EXPECT_EQ(dcb.XonChar, 0x11);
  EXPECT_EQ(dcb.XoffChar, 0x13);
  EXPECT_EQ(dcb.XonLim, 256);
  EXPECT_EQ(dcb.XoffLim, 256);
  EXPECT_EQ(dcb.EvtChar, 0);
}

TEST(CommState, EverySettingReachesItsField) {
  TComm com;
  com.SetBaudRateAsInt(115200);
  com.SetDataBits(7);
  com.SetStopBits(sbTwoStopBits);
  com.SetAbortOnError(true);
  com.SetXonLimit(100);
  com.SetXoffLimit(200);
  com.SetEvtChar('\n');
  TFlowControl flow;
  flow.FOutCtsFlow = true;
  flow.FOutDsrFlow = true;
  flow.FControlDtr = dtrHandshake;
  flow.FControlRts = rtsToggle;
  flow.FXonXoffOut = true;
  flow.FXonXoffIn = true;
  com.SetFlowControl(flow);
  for (TParity parity : {prNone, prOdd, prEven, prMark, prSpace}) {
    com.SetParity(parity);
    TLookAlikeDcb dcb{};
    FillCommState(dcb, com);
    EXPECT_EQ(dcb.Parity, parity) << "parities are 0 to 4 in declared order";
    EXPECT_EQ(dcb.fParity, parity != prNone ? 1u : 0u);
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.StopBits, 2) << "two stop bits";
    EXPECT_EQ(dcb.fAbortOnError, 1u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 1u);
    EXPECT_EQ(dcb.fOutxDsrFlow, 1u);
    EXPECT_EQ(dcb.fDtrControl, 2u) << "DTR handshake";
    EXPECT_EQ(dcb.fRtsControl, 3u) << "RTS toggle";
    EXPECT_EQ(dcb.fOutX, 1u);
    EXPECT_EQ(dcb.fInX, 1u);
    EXPECT_EQ(dcb.XonLim, 100);
    EXPECT_EQ(dcb.XoffLim, 200);
    EXPECT_EQ(dcb.EvtChar, '\n');
  }
}

}  // namespace
