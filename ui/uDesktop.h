// Handing files and folders to the user's desktop: the additional actions
// show the log folder and the help page in the desktop's own programs.
#pragma once

#include <string>

enum class TDesktopOpen {
  Opened,     // xdg-open was started
  NoDisplay,  // no graphical session (neither DISPLAY nor WAYLAND_DISPLAY)
  NoOpener,   // xdg-open is not installed
  Failed,     // it could not be started or failed at once
};

// Opens APath with xdg-open and returns without waiting for the program that
// shows it.
TDesktopOpen OpenOnDesktop(const std::string& APath);
