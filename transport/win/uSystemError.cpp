// Windows: port errors are the system's error codes, and the message of a
// port that cannot be opened is the system's own text, as the platform's
// users know it.
#include "transport/uSystemError.h"

#include <windows.h>

#include "common/win/uWinText.h"

const int kUnexplainedSystemError = ERROR_GEN_FAILURE;

std::string SystemErrorText(int AError) {
  return WindowsErrorText(static_cast<unsigned long>(AError));
}
