// Windows: port errors are the system's error codes, and the message of a
// port that cannot be opened is the system's own text, as the platform's
// users know it.
#include "transport/uSystemError.h"

#include <winsock2.h>
#include <windows.h>

#include "common/win/uWinText.h"

// Not every SDK's headers name it.
#ifndef ERROR_NO_SUCH_DEVICE
#define ERROR_NO_SUCH_DEVICE 433L
#endif

const int kUnexplainedSystemError = ERROR_GEN_FAILURE;
const int kDeviceGoneSystemError = ERROR_FILE_NOT_FOUND;
const int kNotOpenSystemError = ERROR_INVALID_HANDLE;

bool IsDeviceGoneError(int AError) {
  switch (AError) {
    // A USB adapter pulled out, as its drivers report it.
    case ERROR_FILE_NOT_FOUND:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_NO_SUCH_DEVICE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    // Wine's word for a line whose far end has closed.
    case ERROR_NOT_READY:
      return true;
    default:
      return false;
  }
}

std::string SystemErrorText(int AError) {
  return WindowsErrorText(static_cast<unsigned long>(AError));
}

std::string PortOpenReasonText(int AError, bool /*ASettings*/, int /*ABaudRate*/) {
  // The system's own text is in the user's language here, and says it.
  return SystemErrorText(AError);
}

const TConnectErrorCodes kConnectErrorCodes = {
    WSAECONNREFUSED, WSAETIMEDOUT, {WSAENETUNREACH, WSAEHOSTUNREACH, WSAENETDOWN, WSAEHOSTDOWN}};
