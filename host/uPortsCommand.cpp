#include "host/uPortsCommand.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

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
  AOut << "Sending ENQ, expecting ACK, at";
  for (int rate : cProbeRates) AOut << " " << rate;
  AOut << " bits/s:\n";
  int found = 0;
  for (const auto& [path, ports] : targets) {
    AOut << "  " << path << (ports.empty() ? "" : " " + ports) << ": " << std::flush;
    const TProbeResult r = ProbeSerialDevice(path, cProbeRates, AOptions.ProbeWait);
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

// Writes AText to APath (through a link, if it is one) by a rename, keeping
// the file's rights; "" or why it failed.
std::string WriteMapFile(const std::string& APath, const std::string& AText) {
  std::error_code error;
  fs::path target = APath;
  if (fs::is_symlink(target, error)) target = fs::weakly_canonical(target, error);
  fs::create_directories(target.parent_path(), error);
  if (error) return "cannot make " + target.parent_path().string() + ": " + error.message();
  mode_t mode = 0644;
  if (struct stat st{}; ::stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;
  std::string temp = target.string() + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0)
    return "cannot write in " + target.parent_path().string() + ": " +
           std::generic_category().message(errno);
  bool ok = ::fchmod(fd, mode) == 0;
  for (size_t at = 0; ok && at < AText.size();) {
    const ssize_t n = ::write(fd, AText.data() + at, AText.size() - at);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) at += static_cast<size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  const int saved = errno;
  ::close(fd);
  if (ok && ::rename(temp.c_str(), target.c_str()) == 0) return "";
  const std::string why = std::generic_category().message(ok ? errno : saved);
  ::unlink(temp.c_str());
  return "cannot write " + target.string() + ": " + why;
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
  const std::string device = DevicePath(AWords[1], AOptions);
  struct stat st {};
  if (::stat(device.c_str(), &st) != 0) {
    AErr << "quarnel-host: ports --assign: no device at " << device
         << " (plug the register in; quarnel-host ports lists what is there)\n";
    return 2;
  }
  if (!S_ISCHR(st.st_mode)) {
    AErr << "quarnel-host: ports --assign: " << device << " is not a serial device\n";
    return 2;
  }
  // A stable name given is kept as given; any other name is replaced by the device's own.
  const bool givenStable = device.rfind(AOptions.Roots.Dev + "/serial/", 0) == 0;
  const std::string stable = givenStable ? device : StableDeviceName(device, AOptions.Roots);
  const std::string name = stable.empty() ? fs::absolute(device).string() : stable;
  const std::string file = ASystem ? MachinePortMapPath() : UserPortMapPath();
  if (file.empty()) {
    AErr << "quarnel-host: this user has no home folder for a port map; use --system\n";
    return 1;
  }
  std::string old;
  if (struct stat map{}; ::stat(file.c_str(), &map) == 0) {
    std::ifstream in(file, std::ios::binary);
    if (!S_ISREG(map.st_mode) || !in) {
      AErr << "quarnel-host: cannot read the port map " << file << "\n";
      return 1;
    }
    old.assign(std::istreambuf_iterator<char>(in), {});
  } else if (errno != ENOENT) {
    AErr << "quarnel-host: cannot read the port map " << file << ": "
         << std::generic_category().message(errno) << "\n";
    return 1;
  }
  const std::string text = TPortMap::Assign(old, *port, name);
  if (std::string failed = WriteMapFile(file, text); !failed.empty()) {
    AErr << "quarnel-host: " << failed << (ASystem ? " (the machine's map needs root: sudo)" : "")
         << "\n";
    return 1;
  }
  AOut << "COM" << *port << " = " << name << "\n  written to " << file << "\n";
  if (stable.empty())
    AOut << "  note: " << device << " has no stable name (no /dev/serial/by-id link); the name may "
         << "change when devices are plugged in another order\n";
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
                           each device (or those named) and says which answers
)";
}

int RunPortsCommand(const std::vector<std::string>& AArgs, std::ostream& AOut, std::ostream& AErr,
                    const TPortsOptions& AOptions) {
  auto usage = [&](const std::string& AWhy) {
    AErr << "quarnel-host: ports: " << AWhy << "\n(quarnel-host --help shows the usage)\n";
    return 2;
  };
  std::vector<std::string> words = AArgs;
  const bool system = std::erase(words, "--system") > 0;
  if (words.empty() && !system) return List(AOptions, AOut);
  const std::string verb = words.empty() ? "" : words[0];
  const std::vector<std::string> rest(words.begin() + (words.empty() ? 0 : 1), words.end());
  if (verb != "--assign" && system) return usage("--system goes with --assign");
  if (verb == "--probe") return Probe(rest, AOptions, AOut);
  if (verb != "--assign") return usage("unknown option " + verb + ": --assign or --probe");
  if (rest.size() != 2) return usage("--assign takes a port number and a device");
  return Assign(rest, system, AOptions, AOut, AErr);
}
