#include "host/uPortsCommand.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

#include "host/uPortMapFile.h"
#include "transport/uSerialLink.h"
#include "transport/uPortAccess.h"

namespace fs = std::filesystem;

namespace {

// "COM3", "COM3 (QUARNEL_COM3)" or "COM3 (FILE, line N)".
std::string PortText(const TPortLookup& ALookup) {
  const std::string port = "COM" + std::to_string(ALookup.Port);
  switch (ALookup.Origin) {
    case TPortOrigin::poEnvironment:
      return port + " (" + ComPortVariable(ALookup.Port) + ")";
    case TPortOrigin::poUserMap:
    case TPortOrigin::poMachineMap:
      return port + " (" + ALookup.OriginFile + ", line " + std::to_string(ALookup.OriginLine) +
             ")";
    case TPortOrigin::poDefault:
      break;
  }
  return port;
}

// What keeps this user from opening APath, or "" when nothing does.
std::string AccessNote(const std::string& APath) {
  if (::access(APath.c_str(), R_OK | W_OK) == 0 || errno != EACCES) return "";
  const TDeviceAccess a = DescribeDeviceAccess(APath);
  if (!a.Known) return "user " + a.User + " may not open it";
  if (a.GroupMayUse && !a.InGroup)
    return "user " + a.User + " may not open it: it belongs to group " + a.Group +
           "; run sudo usermod -a -G " + a.Group + " " + a.User + ", then log in again";
  return "user " + a.User + " may not open it: rights " + a.Mode + ", owner " + a.Owner +
         ", group " + a.Group;
}

void PrintProblems(const std::vector<TPortMapProblem>& AProblems, std::ostream& AOut) {
  if (AProblems.empty()) return;
  AOut << "Lines of the port maps that are not used:\n";
  for (const TPortMapProblem& p : AProblems) AOut << "  " << p.Text() << "\n";
}

int List(const TPortsOptions& AOptions, std::ostream& AOut) {
  const TSerialInventory inventory = ListSerialDevices(AOptions.Roots);
  if (inventory.Devices.empty()) AOut << "No serial devices found.\n";
  for (const TSerialDevice& d : inventory.Devices) {
    AOut << d.Path;
    if (d.Ports.empty())
      AOut << "  no port number (quarnel-host ports --assign N " << d.Path << ")";
    for (size_t i = 0; i < d.Ports.size(); ++i) AOut << (i ? ", " : "  ") << PortText(d.Ports[i]);
    AOut << "\n";
    for (const std::string& name : d.StableNames) AOut << "    stable name  " << name << "\n";
    if (!d.UsbId.empty()) {
      AOut << "    USB          " << d.UsbId;
      for (const std::string* s : {&d.Manufacturer, &d.Product})
        if (!s->empty()) AOut << " " << *s;
      if (!d.Serial.empty()) AOut << ", serial " << d.Serial;
      AOut << "\n";
    }
    if (!d.Driver.empty()) AOut << "    driver       " << d.Driver << "\n";
    if (std::string note = AccessNote(d.Path); !note.empty())
      AOut << "    access       " << note << "\n";
  }
  if (!inventory.MissingPorts.empty()) {
    AOut << "Ports whose device is not there:\n";
    for (const TPortLookup& p : inventory.MissingPorts)
      AOut << "  " << PortText(p) << "  " << p.Device << "\n";
  }
  PrintProblems(inventory.Problems, AOut);
  return 0;
}

// A device named on the command line: a path, a name under /dev, or COMn.
std::string DevicePath(const std::string& AWord, const TPortsOptions& AOptions) {
  if (std::optional<int> port = ParseComPortKey(AWord)) return LookUpComPort(*port).Device;
  if (!AWord.empty() && AWord.front() == '/') return AWord;
  // A name under /dev first ("ttyACM0", "serial/by-id/..."); else a path from
  // the current folder, such as the link the emulator's --link made there.
  const fs::path underDev = fs::path(AOptions.Roots.Dev) / AWord;
  std::error_code error;
  if (!fs::exists(underDev, error) && fs::exists(AWord, error)) return fs::absolute(AWord).string();
  return underDev.string();
}

int Probe(const std::vector<std::string>& AWords, const TPortsOptions& AOptions,
          std::ostream& AOut) {
  std::vector<std::pair<std::string, std::string>> targets;  // path, the ports that reach it
  const TSerialInventory inventory = ListSerialDevices(AOptions.Roots);
  auto portsOf = [](const TSerialDevice& ADevice) {
    std::string ports;
    for (const TPortLookup& p : ADevice.Ports) ports += (ports.empty() ? "" : ", ") + PortText(p);
    return ports;
  };
  for (const TSerialDevice& d : inventory.Devices)
    if (AWords.empty()) targets.emplace_back(d.Path, portsOf(d));
  for (const std::string& word : AWords) {
    const std::string path = DevicePath(word, AOptions);
    // Compared by where the links lead: fs::equivalent refuses two device
    // files, so a named device would never show the numbers that reach it.
    std::error_code error;
    const fs::path real = fs::canonical(path, error);
    std::string ports;
    for (const TSerialDevice& d : inventory.Devices)
      if (!error && fs::canonical(d.Path, error) == real) ports = portsOf(d);
    targets.emplace_back(path, ports);
  }
  if (targets.empty()) {
    AOut << "No serial devices found to probe.\n";
    return 1;
  }
  // The connect's probe: a device that stays silent takes all its tries at every rate.
  AOut << "Sending ENQ, expecting ACK, up to " << TSerialLink::cProbeAttempts << " times "
       << TSerialLink::cProbePauseMs << " ms apart as the driver's connect does, at";
  for (int rate : cProbeRates) AOut << " " << rate;
  AOut << " bits/s:\n";
  int found = 0;
  for (const auto& [path, ports] : targets) {
    const std::string device = "  " + path + (ports.empty() ? "" : " " + ports) + ": ";
    // A line as each rate is tried, at once: a silent device takes a while.
    const TProbeResult r = ProbeSerialDevice(path, cProbeRates, [&](int ARate) {
      AOut << device << "trying " << ARate << " bits/s" << std::endl;
    });
    AOut << device;
    switch (r.Outcome) {
      case TProbeOutcome::poRegister:
        ++found;
        AOut << "answers like a register at " << r.Rate << " bits/s"
             << (ports.empty() ? "; give it a number with quarnel-host ports --assign N " + path
                               : "")
             << "\n";
        break;
      case TProbeOutcome::poOtherAnswer:
        AOut << "answers, but not like a register (" << r.Detail << ")\n";
        break;
      case TProbeOutcome::poSilent:
        AOut << "no answer\n";
        break;
      case TProbeOutcome::poUnusable:
        AOut << r.Detail << "\n";
        break;
    }
  }
  if (found == 0)
    AOut << "No register answered: check that it is switched on and its cable, and that this "
            "user may open the port.\n";
  return found > 0 ? 0 : 1;
}

// A word of the command line that no map line may carry as it is.
bool RefusedName(const std::string& AName, std::ostream& AErr) {
  if (FitsPortMapLine(AName)) return false;
  // Not echoed: its control characters would act on the terminal.
  AErr << "quarnel-host: ports --assign: the device name holds a control character or blanks at "
          "an end; such a name is never written to a port map\n";
  return true;
}

int Assign(const std::vector<std::string>& AWords, bool ASystem, const TPortsOptions& AOptions,
           std::ostream& AOut, std::ostream& AErr) {
  const std::string& number = AWords[0];
  const std::optional<int> port = ParseComPortKey(
      number.rfind("COM", 0) == 0 || number.rfind("com", 0) == 0 ? number : "COM" + number);
  if (!port) {
    AErr << "quarnel-host: ports --assign: \"" << number << "\" is no port number 1 to 128\n";
    return 2;
  }
  if (RefusedName(AWords[1], AErr)) return 2;
  const std::string device = DevicePath(AWords[1], AOptions);
  // The map gets the device itself or udev's stable name for it, never a
  // link of someone's (in the current folder, say) that could later be
  // pointed at another device.
  std::error_code error;
  const std::string real = fs::canonical(device, error).string();
  struct stat st {};
  if (error || ::stat(real.c_str(), &st) != 0) {
    AErr << "quarnel-host: ports --assign: no device at " << device
         << " (plug the register in; quarnel-host ports lists what is there)\n";
    return 2;
  }
  if (!S_ISCHR(st.st_mode)) {
    AErr << "quarnel-host: ports --assign: " << device << " is not a serial device\n";
    return 2;
  }
  // A stable name given is kept as given; any other name is replaced by the device's own.
  const std::vector<std::string> stable = StableDeviceNames(real, AOptions.Roots);
  std::string name = real;
  if (!stable.empty())
    name =
        std::find(stable.begin(), stable.end(), device) != stable.end() ? device : stable.front();
  if (RefusedName(name, AErr)) return 2;
  const std::string file = ASystem ? MachinePortMapPath() : UserPortMapPath();
  if (file.empty()) {
    AErr << "quarnel-host: this user has no home folder for a port map; use --system\n";
    return 1;
  }
  std::string text;
  try {
    TPortMapFile map(file);
    text = TPortMap::Assign(map.Read().value_or(""), *port, name);
    map.Write(text);
  } catch (const std::exception& e) {
    AErr << "quarnel-host: " << e.what() << (ASystem ? " (the machine's map needs root: sudo)" : "")
         << "\n";
    return 1;
  }
  AOut << "COM" << *port << " = " << name << "\n  written to " << file << "\n";
  if (stable.empty()) {
    AOut << "  note: " << device << " has no stable name (no /dev/serial/by-id link); the name may "
         << "change when devices are plugged in another order\n";
    if (name != device)
      AOut << "  note: " << device << " leads to " << name
           << ", which is written: a link could later be pointed at another device\n";
  }
  const TPortLookup now = LookUpComPort(*port);
  if (now.Device != name)
    AOut << "  note: for this user COM" << *port << " still opens " << now.Device << ", from "
         << PortText(now) << ", which wins over this map\n";
  if (std::string note = AccessNote(device); !note.empty()) AOut << "  note: " << note << "\n";
  PrintProblems(TPortMap::Parse(text, file).Problems(), AOut);
  return 0;
}

}  // namespace

std::string PortsUsageText() {
  return R"(  ports                    the serial devices present: their stable names, USB
                           maker and model, and the COM number each is reached by
  ports --assign N DEVICE [--system]
                           ties COM N to DEVICE (a path, a name under /dev, or a
                           COM number) by its stable /dev/serial/by-id name, in
                           the user's port map, or with --system the machine's
                           (/etc/quarnel/ports.conf)
  ports --probe [DEVICE...]
                           sends the register's probe (ENQ) at every rate on
                           each device (or those named), as the driver's connect
                           does, and says which answers
)";
}

int RunPortsCommand(const std::vector<std::string>& AArgs, std::ostream& AOut, std::ostream& AErr,
                    const TPortsOptions& AOptions) {
  auto usage = [&](const std::string& AWhy) {
    AErr << "quarnel-host: ports: " << AWhy << "\n(quarnel-host --help shows the usage)\n";
    return 2;
  };
  if (std::find_if(AArgs.begin(), AArgs.end(), [](const std::string& AWord) {
        return AWord == "--help" || AWord == "-h";
      }) != AArgs.end()) {
    AOut << "Usage: quarnel-host ports [--assign N DEVICE [--system] | --probe [DEVICE...]]\n"
         << PortsUsageText();
    return 0;
  }
  std::vector<std::string> words = AArgs;
  const bool system = std::erase(words, "--system") > 0;
  if (words.empty() && !system) return List(AOptions, AOut);
  const std::string verb = words.empty() ? "" : words[0];
  const std::vector<std::string> rest(words.begin() + (words.empty() ? 0 : 1), words.end());
  if (verb != "--assign" && system) return usage("--system goes with --assign");
  if (verb == "--probe") {
    // An option after it would be probed as a device under /dev.
    for (const std::string& word : rest)
      if (word.rfind("-", 0) == 0) return usage("--probe takes the devices to probe, not " + word);
    return Probe(rest, AOptions, AOut);
  }
  if (verb != "--assign") return usage("unknown option " + verb + ": --assign or --probe");
  if (rest.size() != 2) return usage("--assign takes a port number and a device");
  return Assign(rest, system, AOptions, AOut, AErr);
}
