// TConnectionSettings: what a connection tells its register object, the
// connection parameters it frames and prints with and the facts its connect
// read from the register. The connection (TDeviceDriver) owns them and the
// register object reads them through a reference, so each is held once.
#pragma once

#include <cstdint>
#include <string>

// The register's fiscal data format, as GetFFD reports it.
enum TFFDVersion : uint8_t { ffd10 = 0, ffd105 = 1, ffd11 = 2, ffd12 = 3 };

struct TConnectionSettings {
  // Parameter ConnectionPassword as the host gave it; empty means "KVNT".
  // Frames carry its first 4 bytes in CP1251.
  std::string FConnectionPassword;
  // Parameter CutString; an empty marker never cuts.
  std::string FCutString;
  // Parameter FontNumber.
  int32_t FFontNumber = 0;
  // Characters per printed line for the chosen font, measured at connect.
  int32_t FLineLen = 40;
  // The register's data format, read at connect.
  TFFDVersion FFFDVersion = ffd10;
};
