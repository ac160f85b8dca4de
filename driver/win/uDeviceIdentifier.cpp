// Device identifiers on Windows: CoCreateGuid, in the same upper-case form
// without braces as on Linux.
#include <objbase.h>

#include <cstdio>
#include <stdexcept>

#include "driver/uCommonDriver4004.h"

std::string NewDeviceIdentifier() {
  GUID id{};
  if (FAILED(CoCreateGuid(&id))) throw std::runtime_error("CoCreateGuid failed");
  char text[40];
  std::snprintf(text, sizeof text, "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned long>(id.Data1), id.Data2, id.Data3, id.Data4[0], id.Data4[1],
                id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6], id.Data4[7]);
  return text;
}
