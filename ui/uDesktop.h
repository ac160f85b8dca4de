// Handing files and folders to the user's desktop: the additional actions
// show the log folder and the help page in the desktop's own programs. One
// source per platform: xdg-open on Linux, the shell on Windows.
#pragma once

#include <string>
#include <string_view>

enum class TDesktopOpen {
  Opened,     // xdg-open was started
  NoDisplay,  // no graphical session (neither DISPLAY nor WAYLAND_DISPLAY)
  NoOpener,   // xdg-open is not installed
  Failed,     // it could not be started or failed at once
};

// Opens APath (UTF-8) with xdg-open, or on Windows with the shell, and
// returns without waiting for the program that shows it.
TDesktopOpen OpenOnDesktop(const std::string& APath);

// Writes the help page AName (".html" is added) with AContent into the
// private folder of this process's pages, made on first use, and returns the
// page's file (UTF-8). Raises std::runtime_error naming the page or the
// folder when it cannot be written.
std::string WriteHelpPage(std::string_view AName, std::string_view AContent);
