// TfmLog: the log viewer. The platform's desktop already has a viewer for a
// folder of day files, its file manager, so this window is that viewer
// opened on the log folder; the class keeps nothing open.
#pragma once

#include <string>
#include <utility>

class TfmLog {
 public:
  explicit TfmLog(std::string AFolder) : FFolder(std::move(AFolder)) {}

  // Opens the folder on the desktop and returns. Raises std::runtime_error
  // naming the folder when there is no graphical session, no xdg-open, or it
  // cannot be started.
  void Show() const;

 private:
  std::string FFolder;
};
