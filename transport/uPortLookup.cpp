// The Linux side of the port lookup: where the maps live and what a port is
// when nothing names its device.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <vector>

#include "transport/uPortMap.h"

namespace {

constexpr const char* cMachineMap = "/etc/quarnel/ports.conf";
constexpr const char* cMapTail = "/quarnel/ports.conf";

std::mutex GMachineMapLock;
std::string GMachineMap;  // empty: cMachineMap

std::string AbsoluteVariable(const char* AName) {
  const char* value = std::getenv(AName);
  return value != nullptr && value[0] == '/' ? value : "";
}

// The home folder of the process's user from the user database.
std::string HomeOfProcessUser() {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
    return "";
  return found->pw_dir != nullptr && found->pw_dir[0] == '/' ? found->pw_dir : "";
}

}  // namespace

std::string DefaultComPortDevice(int APort) {
  return "/dev/ttyS" + std::to_string(APort - 1);
}

std::string ComPortVariable(int APort) {
  return "QUARNEL_COM" + std::to_string(APort);
}

std::string MachinePortMapPath() {
  std::lock_guard lock(GMachineMapLock);
  return GMachineMap.empty() ? cMachineMap : GMachineMap;
}

void SetMachinePortMapPath(std::string APath) {
  std::lock_guard lock(GMachineMapLock);
  GMachineMap = std::move(APath);
}

std::string UserPortMapPath() {
  // A relative XDG_CONFIG_HOME is to be ignored, as the base-directory rules say.
  if (std::string config = AbsoluteVariable("XDG_CONFIG_HOME"); !config.empty())
    return config + cMapTail;
  std::string home = AbsoluteVariable("HOME");
  if (home.empty()) home = HomeOfProcessUser();
  return home.empty() ? "" : home + "/.config" + cMapTail;
}

TPortLookup LookUpComPort(int APort) {
  TPortLookup lookup;
  lookup.Port = APort;
  lookup.Device = DefaultComPortDevice(APort);
  // Both maps are read even when the variable decides, so that their faults
  // are never hidden by it.
  const TPortMap machine = TPortMap::Read(MachinePortMapPath());
  const std::string userPath = UserPortMapPath();
  const TPortMap user = userPath.empty() ? TPortMap() : TPortMap::Read(userPath);
  for (const TPortMap* map : {&machine, &user})
    lookup.Problems.insert(lookup.Problems.end(), map->Problems().begin(), map->Problems().end());

  const std::string variable = ComPortVariable(APort);
  if (const char* value = std::getenv(variable.c_str()); value != nullptr && *value != '\0') {
    lookup.Device = value;
    lookup.Origin = TPortOrigin::poEnvironment;
    return lookup;
  }
  const std::pair<const TPortMap*, TPortOrigin> order[] = {{&user, TPortOrigin::poUserMap},
                                                           {&machine, TPortOrigin::poMachineMap}};
  for (const auto& [map, origin] : order)
    if (const TPortMap::TEntry* entry = map->Find(APort)) {
      lookup.Device = entry->Device;
      lookup.Origin = origin;
      lookup.OriginFile = map->Path();
      lookup.OriginLine = entry->Line;
      break;
    }
  return lookup;
}
