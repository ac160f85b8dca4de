// Access rights of the log folder.
//
// The Windows driver opens its log folder to Everyone. On Linux a
// world-writable log folder would let any user plant links in it, so new
// folders get mode 0775 (owner and group write) and existing ones are left
// as they are.
#pragma once

#include <string>

// Applies the folder mode described above to a folder the logger has just created.
void GrantEveryoneFullAccess(const std::string& path);
