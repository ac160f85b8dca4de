#include "transport/uPortAccess.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "resources/uResources.h"

namespace {

std::vector<char> NameBuffer() {
  const long size = sysconf(_SC_GETGR_R_SIZE_MAX);
  return std::vector<char>(size > 16384 ? static_cast<size_t>(size) : 16384);
}

// The name an entry of the user or group database (passwd, group) gives AId,
// found with ALookup (getpwuid_r, getgrgid_r); the number when none does.
template <typename TEntry, typename TId>
std::string EntryName(TId AId, int (*ALookup)(TId, TEntry*, char*, size_t, TEntry**),
                      char* TEntry::*AName) {
  std::vector<char> buffer = NameBuffer();
  TEntry entry{};
  TEntry* found = nullptr;
  if (ALookup(AId, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
    return found->*AName;
  return std::to_string(AId);
}

std::string UserName(uid_t AUid) {
  return EntryName(AUid, getpwuid_r, &passwd::pw_name);
}

std::string GroupName(gid_t AGid) {
  return EntryName(AGid, getgrgid_r, &group::gr_name);
}

bool ProcessInGroup(gid_t AGid) {
  if (getegid() == AGid) return true;
  const int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  const int got = getgroups(count, groups.data());
  for (int i = 0; i < got; ++i)
    if (groups[static_cast<size_t>(i)] == AGid) return true;
  return false;
}

// "rw-rw----", as ls shows a device's rights.
std::string ModeText(mode_t AMode) {
  std::string text;
  for (int shift = 6; shift >= 0; shift -= 3) {
    text += (AMode >> shift) & 4 ? 'r' : '-';
    text += (AMode >> shift) & 2 ? 'w' : '-';
    text += (AMode >> shift) & 1 ? 'x' : '-';
  }
  return text;
}

// The path tried, with the device it leads to when it is a link (a by-id name).
std::string DeviceText(const std::string& APath) {
  char real[PATH_MAX];
  if (::realpath(APath.c_str(), real) != nullptr && APath != real) return APath + " → " + real;
  return APath;
}

std::string AccessDenied(const TPortLookup& ALookup, int AError) {
  const std::string device = DeviceText(ALookup.Device);
  const std::string origin = ALookup.OriginText();
  const TDeviceAccess access = DescribeDeviceAccess(ALookup.Device);
  const std::string& user = access.User;
  const std::string& group = access.Group;
  if (!access.Known)
    return ResFormat("PortAccessUnknown",
                     {device, origin, user, std::generic_category().message(AError)});
  if (access.GroupMayUse && !access.InGroup)
    return ResFormat("PortAccessGroup", {device, origin, group, user, user, group, group, user});
  return ResFormat("PortAccessMode", {device, origin, access.Mode, access.Owner, group, user});
}

}  // namespace

TDeviceAccess DescribeDeviceAccess(const std::string& APath) {
  TDeviceAccess access;
  access.User = UserName(geteuid());
  struct stat st {};
  if (::stat(APath.c_str(), &st) != 0) return access;
  access.Known = true;
  access.Owner = UserName(st.st_uid);
  access.Group = GroupName(st.st_gid);
  access.Mode = ModeText(st.st_mode);
  access.GroupMayUse = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  access.InGroup = ProcessInGroup(st.st_gid);
  return access;
}

std::string ExplainPortOpenFailure(const TPortLookup& ALookup, int AError,
                                   std::string_view AOtherwise) {
  switch (AError) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      // A by-id name or a link that leads nowhere is as missing as the device.
      return ResFormat("PortMissing", {ALookup.Device, ALookup.OriginText()});
    case EACCES:
    case EPERM:
      return AccessDenied(ALookup, AError);
    case EBUSY:
      return ResFormat("PortBusy", {DeviceText(ALookup.Device), ALookup.OriginText()});
    default:
      return std::string(AOtherwise);
  }
}
