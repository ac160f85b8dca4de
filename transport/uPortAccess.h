// Why a serial port could not be opened, told so that its user can act.
//
// The platform runs as a desktop user or as a service account, and a USB
// register's device belongs to a group (usually dialout) that account is
// rarely in; a bare "Permission denied" leaves a cashier nowhere. The
// platform's part, like the lookup: another system's build has its own.
#pragma once

#include <string>
#include <string_view>

#include "transport/uPortMap.h"

// The message for an open of ALookup's device that failed with the system
// error AError, or AOtherwise when the port's own reason says it as well:
//   no device behind the name  "Устройство не подключено: PATH (ORIGIN)"
//   no permission              the device, its group, the user and what to do
//   held by someone else       the device and that it is in use (our lock or EBUSY)
std::string ExplainPortOpenFailure(const TPortLookup& ALookup, int AError,
                                   std::string_view AOtherwise);

// Who may use a device file, and whether this process's user is in its group.
struct TDeviceAccess {
  bool Known = false;  // false when the file could not be examined
  std::string User;    // the process's user
  std::string Owner, Group;
  std::string Mode;          // "rw-rw----"
  bool GroupMayUse = false;  // the group may read and write
  bool InGroup = false;      // the process is in that group now
};
TDeviceAccess DescribeDeviceAccess(const std::string& APath);
