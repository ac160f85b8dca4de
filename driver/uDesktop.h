// Handing things to the user's desktop: the additional actions open folders
// and documents in the desktop's own programs.
#pragma once

#include <string>

// Opens Folder in the desktop's file manager through xdg-open and returns
// without waiting for the file manager. Raises std::runtime_error naming the
// folder when there is no graphical session, no xdg-open, or it cannot start.
void OpenFolderOnDesktop(const std::string& Folder);
