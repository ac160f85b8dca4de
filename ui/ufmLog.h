// The log viewer: the log's day files shown in the desktop's file manager.
#pragma once

#include <string>

// Opens AFolder (the log folder) on the desktop and returns. Raises
// std::runtime_error naming the folder when there is no graphical session,
// no xdg-open, or it cannot be started.
void ShowLogViewer(const std::string& AFolder);
