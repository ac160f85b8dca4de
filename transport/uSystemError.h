// How the serial link words the system's errors: the platform's part.
#pragma once

#include <string>

// The system's message for an error code of the port or socket calls.
std::string SystemErrorText(int AError);

// The code a failure is given when the system named none.
extern const int kUnexplainedSystemError;

// The code a device that went away is explained with, as for a port that
// does not exist.
extern const int kDeviceGoneSystemError;

// The error says the device behind an open port has gone (an adapter pulled
// out, the far end of a pseudo-terminal closed): the handle will never work
// again.
bool IsDeviceGoneError(int AError);
