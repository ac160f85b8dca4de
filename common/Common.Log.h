// The process-wide daily log: one UTF-8 file per calendar day, written by
// every layer (host-call tracing, the equipment interface, the links).
//
// On Linux the log lives in $QUARNEL_DATA_DIR/Dravex/<name>/, else in
// /var/log/Dravex/<name>/; when that folder cannot be created (an ordinary
// user) it falls back to $XDG_STATE_HOME, else ~/.local/state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum TLogLevel : uint8_t { llInfo = 0, llDebug = 1, llError = 2 };

enum TLogMode : uint8_t {
  lmOff = 0,
  lmErrors = 1,
  lmInfoErrors = 2,
  lmAll = 3,
  lmSuspended = 4,  // writes nothing, but does not end the logging run
};

// The one logging entry point. Failures to reach or write the file raise
// std::system_error / std::runtime_error into the caller.
void WriteLog(std::string_view source, std::string_view text, TLogLevel level = llInfo);

// Sets the filter; switching off from a running log writes the stop line.
void SetLogMode(TLogMode mode);
TLogMode GetLogMode();

// Called at the start and the end of every host call with the text of the
// call's first argument (nullopt: no argument, or a binary one). Selects the
// flag recorded for a device identifier, else suspends logging.
void SelectDeviceLog(const std::optional<std::string>& firstArgument);
// Records the LogEnabled flag of a device identifier.
void SetDeviceLogFlag(const std::string& deviceId, bool enabled);
// True when the text has the form of a device identifier (a GUID without braces).
bool IsDeviceIdentifier(std::string_view text);

// The log folder (with a trailing '/'), created on demand, or today's file name.
std::string GetLogFileName(bool folderOnly);

// Sets the stem of the log file names (the driver's extension name) and
// writes the header when the mode lets it.
void SetLogName(std::string_view name);

// The start-of-log block and the stop line; normally written by the logger itself.
void WriteLogHeader();
void WriteLogFooter();

// Layout of one line without its line end (exposed for tests).
std::string FormatLogLine(std::string_view source, std::string_view text, TLogLevel level);
// Appends one line plus CR LF to today's file under the log lock.
void AppendLogLine(std::string_view line);

// The operating-system text of the log header, e.g. "Linux 6.1.0 (6.1.0)".
std::string OperatingSystemText();
// The library's file name without folder, and its version "%d.%d.%d.%d".
std::string ApplicationFileName();
std::string ApplicationVersionText();
