// Access rights of a log folder the logger has just created; existing
// folders are left as they are.
//
// Every user's platform process must be able to log, but a folder anyone may
// take over would let any user plant links or swap the folder for one that
// redirects a privileged process's writes. So on Linux new folders get mode
// 0775 (owner and group write), and on Windows the local Users group gets
// modify rights (read, write, create, delete) inherited by the folder's
// contents, not Everyone full control (win/Common.BaseSecurity.cpp).
#pragma once

#include <string>

// Applies the folder mode described above to a folder the logger has just created.
void GrantEveryoneFullAccess(const std::string& path);
