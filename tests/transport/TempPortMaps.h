// A temporary folder standing in for the port maps' places: XDG_CONFIG_HOME
// points into it for the object's lifetime, so the user's map is
// UserMap(), and MachineMap() is there for a test that moves the machine's
// map with SetMachinePortMapPath. Link() makes device names (a by-id name,
// a "ttyACM0") that lead to a pty.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

class TTempPortMaps {
 public:
  TTempPortMaps() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quarnel-ports-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    FFolder = pattern;
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) FOldConfig = old, FHadConfig = true;
    ::setenv("XDG_CONFIG_HOME", (FFolder + "/config").c_str(), 1);
  }
  ~TTempPortMaps() {
    if (FHadConfig)
      ::setenv("XDG_CONFIG_HOME", FOldConfig.c_str(), 1);
    else
      ::unsetenv("XDG_CONFIG_HOME");
    std::error_code ignored;
    std::filesystem::remove_all(FFolder, ignored);
  }
  TTempPortMaps(const TTempPortMaps&) = delete;
  TTempPortMaps& operator=(const TTempPortMaps&) = delete;

  const std::string& Folder() const { return FFolder; }
  std::string UserMap() const { return FFolder + "/config/quarnel/ports.conf"; }
  std::string MachineMap() const { return FFolder + "/etc/quarnel/ports.conf"; }
  void WriteUser(std::string_view AText) const { Write(UserMap(), AText); }
  void WriteMachine(std::string_view AText) const { Write(MachineMap(), AText); }

  static void Write(const std::string& APath, std::string_view AText) {
    std::filesystem::create_directories(std::filesystem::path(APath).parent_path());
    std::ofstream(APath, std::ios::binary | std::ios::trunc) << AText;
  }
  static std::string Read(const std::string& APath) {
    std::ifstream in(APath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // A symbolic link Folder()/ARelative to ATarget; answers its path.
  std::string Link(const std::string& ARelative, const std::string& ATarget) const {
    const std::filesystem::path link = std::filesystem::path(FFolder) / ARelative;
    std::filesystem::create_directories(link.parent_path());
    std::filesystem::create_symlink(ATarget, link);
    return link.string();
  }

 private:
  std::string FFolder;
  std::string FOldConfig;
  bool FHadConfig = false;
};
