// How the serial link words the system's errors: the platform's part.
#pragma once

#include <string>

// The system's message for an error code of the port or socket calls.
std::string SystemErrorText(int AError);

// The code a failure is given when the system named none.
extern const int kUnexplainedSystemError;

// The code a read of a port that is not open fails with.
extern const int kNotOpenSystemError;

// The code a device that went away is explained with, as for a port that
// does not exist.
extern const int kDeviceGoneSystemError;

// The error says the device behind an open port has gone (an adapter pulled
// out, the far end of a pseudo-terminal closed): the handle will never work
// again.
bool IsDeviceGoneError(int AError);

// Why a port that was found could not be opened or set up, for
// "Ошибка открытия порта": the system's words, explained where they alone
// would puzzle a cashier (a file that is no serial port, a rate the adapter
// refuses). ASettings: the error came while the line was being set up.
std::string PortOpenReasonText(int AError, bool ASettings, int ABaudRate);

// The platform's codes for a TCP connect that failed, by what they mean.
struct TConnectErrorCodes {
  int Refused;         // nothing listens on that port
  int TimedOut;        // no answer within the connect limit
  int Unreachable[4];  // no route to that network or host, or either is down
};
extern const TConnectErrorCodes kConnectErrorCodes;
