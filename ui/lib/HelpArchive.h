// Reading documents out of a help archive (a zip file).
#pragma once

#include <string>

// Entries larger than this are not documents of ours: a damaged or foreign
// archive must not make the driver allocate without bound.
inline constexpr size_t cMaxHelpEntrySize = 8 * 1024 * 1024;

// Whether there is a file (or anything else) at AArchive.
bool HelpArchivePresent(const std::string& AArchive);

// Entry AEntry of the zip archive AArchive, whole, into AContent; false when
// the archive has no such entry. Raises std::runtime_error naming the archive
// when it is missing, cannot be read, or the entry is damaged or too large.
bool ReadArchiveEntry(const std::string& AArchive, const std::string& AEntry,
                      std::string& AContent);
