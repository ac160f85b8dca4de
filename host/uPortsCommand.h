// quarnel-host ports: the serial devices present and the port numbers that
// reach them, tying a number to a device's stable name in a port map, and
// finding the device a register answers on. It needs no add-in: it uses the
// driver's own port lookup, so what it shows is what a connect opens.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "host/uSerialDevices.h"

struct TPortsOptions {
  TSerialRoots Roots;
};

// The usage lines of the command, for the host's help.
std::string PortsUsageText();

// Runs `ports` with the words after it. Exit status: 0 done (a probe found a
// register); 1 a probe found none, or the map could not be written; 2 the
// words, the port number or the device cannot be used.
int RunPortsCommand(const std::vector<std::string>& AArgs, std::ostream& AOut, std::ostream& AErr,
                    const TPortsOptions& AOptions = {});
