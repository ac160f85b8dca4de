// Device identifiers on Linux: a random (version 4) UUID from the kernel's
// random source, in the upper-case form without braces that Windows gives.
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "driver/uCommonDriver4004.h"

std::string NewDeviceIdentifier() {
  uint8_t id[16];
  if (getentropy(id, sizeof id) != 0)
    throw std::runtime_error(std::string("getentropy: ") + std::strerror(errno));
  id[6] = uint8_t((id[6] & 0x0F) | 0x40);  // version 4: random
  id[8] = uint8_t((id[8] & 0x3F) | 0x80);  // the variant of RFC 4122
  char text[37];
  std::snprintf(text, sizeof text,
                "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", id[0],
                id[1], id[2], id[3], id[4], id[5], id[6], id[7], id[8], id[9], id[10], id[11],
                id[12], id[13], id[14], id[15]);
  return text;
}
