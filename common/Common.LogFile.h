// Where the log's files live and how a line reaches one: the platform's
// part of the logger, one source per platform.
#pragma once

#include <filesystem>
#include <string>

// The log folder <machine-wide data folder>/ATail, created with its missing
// parents when absent (a new folder is opened to the local users, an
// existing one left as it is). Raises naming the folder when none is usable.
std::filesystem::path LogFolderFor(const std::filesystem::path& ATail);

// Appends ABytes to the file AName of AFolder, creating it. Raises naming the
// file. Called one line at a time (under the logger's lock); a platform may
// keep the file open for the next line.
void AppendToLogFile(const std::filesystem::path& AFolder, const std::string& AName,
                     const std::string& ABytes);
// Closes a day file kept open (the logger's finaliser, under its lock); the
// next line opens it again.
void CloseLogFile() noexcept;

// A path as UTF-8 text.
std::string LogPathText(const std::filesystem::path& APath);
