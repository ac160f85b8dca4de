// Which device a serial port number opens.
//
// Port n is /dev/ttyS(n-1) unless something names another device for it. A
// USB register appears as /dev/ttyACM0 or /dev/ttyUSB0, and that name moves
// with the order of plugging, so a port number can be tied to a stable name
// (/dev/serial/by-id/...) in a port map: lines "COM3=/dev/serial/by-id/usb-…",
// "#" starting a comment line. Two maps are read, at every lookup (so every
// connect sees the files as they are now):
//   the machine's  /etc/quarnel/ports.conf
//   the user's     $XDG_CONFIG_HOME/quarnel/ports.conf (else ~/.config/...)
// The environment variable QUARNEL_COM<n> wins over both, the user's map
// over the machine's. A line the map cannot use is never skipped quietly:
// every lookup carries it as a problem with its file and line, which the
// link adds to its failure and writes to the log.
//
// TPortMap reads and edits one file and knows nothing of this machine;
// LookUpComPort and the map locations are the platform's part (uPortLookup.cpp),
// which another system's build replaces with its own.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The numbers a port map may name: the ports the parameter page offers.
inline constexpr int cFirstComPort = 1;
inline constexpr int cLastComPort = 128;

// A line of a map that was not used, or a map that could not be read (Line 0).
struct TPortMapProblem {
  std::string File;
  int Line = 0;
  std::string Reason;  // Russian, as the user reads it
  // "Ошибка в файле сопоставления портов FILE, строка N: REASON" (or the
  // unreadable-file form for Line 0).
  std::string Text() const;
};

class TPortMap {
 public:
  struct TEntry {
    int Port = 0;
    std::string Device;
    int Line = 0;
  };

  // The map in APath. A file that is not there is an empty map; one that
  // cannot be read (or is no regular file) is an empty map with a problem.
  static TPortMap Read(const std::string& APath);
  // The map written in AText, as if read from APath.
  static TPortMap Parse(std::string_view AText, const std::string& APath);

  const std::string& Path() const { return FPath; }
  // The entry for APort (the first one when a file names it twice).
  const TEntry* Find(int APort) const;
  const std::vector<TEntry>& Entries() const { return FEntries; }
  const std::vector<TPortMapProblem>& Problems() const { return FProblems; }

  // AText with APort tied to ADevice: the port's first line rewritten in
  // place, its later lines (which never took effect) dropped, a new line
  // appended when it had none. Every other line, comments and lines the map
  // cannot use included, stays as it was. Raises std::invalid_argument for a
  // device that does not fit a line (FitsPortMapLine).
  static std::string Assign(std::string_view AText, int APort, const std::string& ADevice);

 private:
  std::string FPath;
  std::vector<TEntry> FEntries;
  std::vector<TPortMapProblem> FProblems;
};

// True when ADevice reads back from a map line as written: no control
// character (a newline would start a line of its own) and no blank at either
// end (reading trims them).
bool FitsPortMapLine(std::string_view ADevice);

// The port number a map key names ("COM3", any case), or nullopt.
std::optional<int> ParseComPortKey(std::string_view AKey);

// Where a port's device name came from.
enum class TPortOrigin { poDefault, poEnvironment, poUserMap, poMachineMap };

struct TPortLookup {
  int Port = 0;
  std::string Device;
  TPortOrigin Origin = TPortOrigin::poDefault;
  std::string OriginFile;  // the map file, for the map origins
  int OriginLine = 0;
  // Problems of both maps, the machine's first; reported whichever port they concern,
  // since a broken line may be the one meant for this port.
  std::vector<TPortMapProblem> Problems;

  // "COM3", "COM3, QUARNEL_COM3" or "COM3, FILE, строка N": how the port
  // came to this device, for messages; for a device opened by its name
  // (Port 0) that it was named directly.
  std::string OriginText() const;
};

// The problems of the lookup's maps as one text ("" without any), to follow a
// failure that a line meant for this port may have caused.
std::string PortMapNotes(const TPortLookup& ALookup);

// ---- the platform's part ----

// The device of port APort now: environment, the user's map, the machine's
// map, /dev/ttyS(APort-1).
TPortLookup LookUpComPort(int APort);
// The device a port has when nothing names another one.
std::string DefaultComPortDevice(int APort);
// The environment variable that names a port's device.
std::string ComPortVariable(int APort);
// /etc/quarnel/ports.conf, or what SetMachinePortMapPath set.
std::string MachinePortMapPath();
// Moves the machine's map for this process (tests); empty restores the default.
void SetMachinePortMapPath(std::string APath);
// $XDG_CONFIG_HOME/quarnel/ports.conf when that variable holds an absolute
// path, else ~/.config/quarnel/ports.conf of $HOME or of the process's user
// (a service started without HOME has one too); empty when there is no home.
std::string UserPortMapPath();
