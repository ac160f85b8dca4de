#include "transport/uSystemError.h"

#include <cerrno>
#include <system_error>

#include "resources/uResources.h"

const int kUnexplainedSystemError = EIO;
const int kDeviceGoneSystemError = ENODEV;
const int kNotOpenSystemError = EBADF;

bool IsDeviceGoneError(int AError) {
  return AError == EIO || AError == ENOENT || AError == ENODEV || AError == ENXIO;
}

std::string SystemErrorText(int AError) {
  return std::generic_category().message(AError);
}

std::string PortOpenReasonText(int AError, bool ASettings, int ABaudRate) {
  const std::string system = SystemErrorText(AError);
  // A regular file or a pipe named as the port: "Inappropriate ioctl for device".
  if (AError == ENOTTY) return ResFormat("PortNotSerial", {system});
  // An adapter that cannot run at the rate asked for.
  if (ASettings && AError == EINVAL)
    return ResFormat("PortSettingsRefused", {std::to_string(ABaudRate), system});
  return system;
}

const TConnectErrorCodes kConnectErrorCodes = {
    ECONNREFUSED, ETIMEDOUT, {ENETUNREACH, EHOSTUNREACH, ENETDOWN, EHOSTDOWN}};
