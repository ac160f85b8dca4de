// Device identifiers on Linux: libuuid.
#include <uuid/uuid.h>

#include "driver/uCommonDriver4004.h"

std::string NewDeviceIdentifier() {
  uuid_t id;
  uuid_generate(id);
  char text[37];
  uuid_unparse_upper(id, text);
  return text;
}
