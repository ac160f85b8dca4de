#include "transport/uSystemError.h"

#include <cerrno>
#include <system_error>

const int kUnexplainedSystemError = EIO;
const int kDeviceGoneSystemError = ENODEV;

bool IsDeviceGoneError(int AError) {
  return AError == EIO || AError == ENOENT || AError == ENODEV || AError == ENXIO;
}

std::string SystemErrorText(int AError) {
  return std::generic_category().message(AError);
}
