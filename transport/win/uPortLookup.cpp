// The Windows side of the port lookup: the system itself names serial
// ports, so port n is \\.\COM<n> and no port map or variable applies.
#include "transport/uPortMap.h"

std::string DefaultComPortDevice(int APort) {
  return "\\\\.\\COM" + std::to_string(APort);
}

// Named in texts only: no variable moves a port here.
std::string ComPortVariable(int APort) {
  return "QUARNEL_COM" + std::to_string(APort);
}

TPortLookup LookUpComPort(int APort) {
  TPortLookup lookup;
  lookup.Port = APort;
  lookup.Device = DefaultComPortDevice(APort);
  return lookup;
}
