// The options of quarnel-emulator, parsed apart from main() so that every
// flag is tested.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "wire/uEmuFaults.h"
#include "wire/uEmuServer.h"

struct TEmuCommandLine {
  TEmuServerOptions Server;
  TEmuFaultSettings Faults;
  std::string Ffd;  // "1.05", "1.1", "1.2"; empty: the register's default
  std::string StateFile;
  std::string TapeFile;  // empty: standard output
  bool Help = false;
};

// `args` without the program name. Accepts "--flag value" and "--flag=value".
// Throws std::invalid_argument naming the flag at fault.
TEmuCommandLine ParseEmuCommandLine(const std::vector<std::string>& args);

std::string EmuUsageText();

// Why the state cannot be kept in `path` (a folder, or a file in a folder that
// does not exist or cannot be written), or empty when it can. Checked at start,
// like the tape, so that a register never serves while saving nothing.
std::string StateFileProblem(const std::string& path);
