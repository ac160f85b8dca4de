// Handing files and folders to the user's desktop: the additional actions
// show the log folder and the help page in the desktop's own programs. One
// source per platform: xdg-open on Linux, the shell on Windows.
#pragma once

#include <string>

enum class TDesktopOpen {
  Opened,     // xdg-open was started
  NoDisplay,  // no graphical session (neither DISPLAY nor WAYLAND_DISPLAY)
  NoOpener,   // xdg-open is not installed
  Failed,     // it could not be started or failed at once
};

// Opens APath (UTF-8) with xdg-open, or on Windows with the shell, and
// returns without waiting for the program that shows it.
TDesktopOpen OpenOnDesktop(const std::string& APath);

// The folder (UTF-8, without a trailing separator) the help pages of this
// process are written to: private to the user, made on first use.
std::string HelpPageFolder();
