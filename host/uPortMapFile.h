// A port map as `ports --assign` reads and rewrites it, without ever following
// a symbolic link: the tool may run as root (sudo keeps XDG_CONFIG_HOME and
// HOME with -E), and a link at the map's name or at any folder above it
// would make it write a file of the link maker's choosing.
//
// The folders are walked from "/" down, each opened by a descriptor with
// O_NOFOLLOW, and each must belong to root or to the effective user; for
// root that means root alone, so root never writes into another user's
// folders. The map is replaced as a whole: a new file in the same folder,
// renamed over the old one.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

#include "common/uFd.h"

class TPortMapFile {
 public:
  // Opens the folder of the map at APath (absolute), making the folders
  // that are missing (mode 0755). Raises std::runtime_error saying which
  // folder cannot be used and why.
  explicit TPortMapFile(const std::string& APath);

  // The map's text; nullopt when there is none. Raises when the map is a
  // link, not a regular file, too large to be a map, or unreadable.
  std::optional<std::string> Read();
  // Replaces the map by AText, keeping the old map's permission bits (0644
  // for a new one). Raises with the reason; the old map is then unchanged.
  void Write(const std::string& AText);

 private:
  std::string FPath;    // the map
  std::string FFolder;  // its folder, for messages
  std::string FName;    // the map's name in its folder
  TFd FDir;
  mode_t FMode = 0644;
};
