// A temporary folder standing in for the port maps' places. As on a
// desktop the platform runs on, XDG_CONFIG_HOME is unset and HOME points
// into the folder for the object's lifetime, so the user's map is
// UserMap(), below HOME's ".config"; MachineMap() is there for a test that
// moves the machine's map with SetMachinePortMapPath. Link() makes device
// names (a by-id name, a "ttyACM0") that lead to a pty.
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
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", (FFolder + "/home").c_str(), 1);
  }
  ~TTempPortMaps() {
    FConfig.Restore();
    FHome.Restore();
    std::error_code ignored;
    std::filesystem::remove_all(FFolder, ignored);
  }
  TTempPortMaps(const TTempPortMaps&) = delete;
  TTempPortMaps& operator=(const TTempPortMaps&) = delete;

  const std::string& Folder() const { return FFolder; }
  // The user's configuration folder, where the platform looks without XDG_CONFIG_HOME.
  std::string ConfigHome() const { return FFolder + "/home/.config"; }
  std::string UserMap() const { return ConfigHome() + "/quarnel/ports.conf"; }
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
  // A variable's value from before the object, put back when it goes.
  struct TSavedVariable {
    explicit TSavedVariable(const char* AName) : Name(AName) {
      if (const char* value = std::getenv(AName)) Value = value, Had = true;
    }
    void Restore() const {
      if (Had)
        ::setenv(Name, Value.c_str(), 1);
      else
        ::unsetenv(Name);
    }
    const char* Name;
    std::string Value;
    bool Had = false;
  };

  TSavedVariable FConfig{"XDG_CONFIG_HOME"}, FHome{"HOME"};
  std::string FFolder;
};
