// How the serial link words the system's errors: the platform's part.
#pragma once

#include <string>

// The system's message for an error code of the port or socket calls.
std::string SystemErrorText(int AError);

// The code a failure is given when the system named none.
extern const int kUnexplainedSystemError;
