// Why a serial port could not be opened, on Windows. A port the system does
// not have (a number no adapter holds, an adapter unplugged) is a device
// that is not connected, told by its error code: the system's own message
// for it is in the system's language ("File not found." on an English one).
// Any other reason is the system's own message, in the words the platform's
// users know.
#include "transport/uPortAccess.h"

#include <windows.h>

#include "resources/uResources.h"

std::string ExplainPortOpenFailure(const TPortLookup& ALookup, int AError,
                                   std::string_view AOtherwise) {
  if (AError == ERROR_FILE_NOT_FOUND || AError == ERROR_PATH_NOT_FOUND)
    return ResFormat("PortMissing", {ALookup.Device, ALookup.OriginText()});
  return std::string(AOtherwise);
}
