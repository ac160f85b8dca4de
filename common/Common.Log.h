// The process-wide daily log: one UTF-8 file per calendar day, written by
// every layer (host-call tracing, the equipment interface, the links).
//
// On Linux the log lives in $QUARNEL_DATA_DIR/Dravex/<name>/, else in
// /var/log/Dravex/<name>/; when that folder cannot be created (an ordinary
// user) it falls back to an absolute $XDG_STATE_HOME, else $HOME/.local/state.
// The folder and the day file must belong to the process's user or to root,
// and the day file is never reached through a symbolic link.
//
// Logging is best effort: a line that cannot be written is counted, and the
// next line that can be written is preceded by a note of what was lost.
#pragma once

#include <cstddef>
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

// The one logging entry point. It never raises and never blocks the caller's
// work on a log failure: the failure is noted in the next line written.
void WriteLog(std::string_view source, std::string_view text, TLogLevel level = llInfo) noexcept;
// True when a line of this level would be written now; callers skip building
// costly texts (the call trace's arguments) otherwise.
bool LogPasses(TLogLevel level);
// Counts a line that could not be logged; the next line written reports it.
void NoteLogFailure(std::string_view reason) noexcept;

// The byte dumps of the links: the arrow ("-> ", "<- ") and each byte as two
// hex digits and a blank. Within a host call they share kLogDumpLimit bytes;
// a dump that begins past it is counted instead of written (a failed step's
// dump, llError, always is written), and the count is written when the call
// ends. A faulty register can make one call exchange bytes without end.
void WriteLogDump(std::string_view source, std::string_view arrow, std::string_view bytes,
                  TLogLevel level) noexcept;
inline constexpr uint64_t kLogDumpLimit = 1024 * 1024;

// What the byte dumps of one host call have cost.
struct TLogDumpCount {
  uint64_t WrittenBytes = 0;
  uint64_t LeftOutDumps = 0;
  uint64_t LeftOutBytes = 0;
};

// One host call on this thread. While it is open, SelectDeviceLog and
// SetLogMode decide only the lines this thread writes, so that two devices
// served by two threads each get their own decision and neither restarts the
// other's logging run; the call's byte dumps share one budget. Scopes nest.
class TLogCallScope {
 public:
  TLogCallScope();
  ~TLogCallScope();
  TLogCallScope(const TLogCallScope&) = delete;
  TLogCallScope& operator=(const TLogCallScope&) = delete;

 private:
  TLogMode FOuterMode;
  bool FOuterActive;
  TLogDumpCount FOuterDumps;
};

// Sets the filter (of the current host call inside a TLogCallScope, else the
// process's); switching off from a running log writes the stop line.
void SetLogMode(TLogMode mode);
TLogMode GetLogMode();
// The switch the host sets (the driver's LogEnabled property): on selects
// lmAll, off lmOff, for the lines outside host calls and for the current
// call's. Unlike a device's selection for one call, it outlives the call
// that sets it.
void SetLogSwitch(bool on);
// The switch as the host last set it (off until it sets anything).
bool LogSwitchedOn();

// Called at the start and the end of every host call with the text of the
// call's first argument (nullopt: no argument, or a binary one). Selects the
// flag recorded for a device identifier, else suspends logging.
void SelectDeviceLog(const std::optional<std::string>& firstArgument);
// Records the LogEnabled flag of a device identifier.
void SetDeviceLogFlag(const std::string& deviceId, bool enabled);
// True when the text has the form of a device identifier (a GUID without braces).
bool IsDeviceIdentifier(std::string_view text);

// The log folder (with a trailing '/'), created on demand, or today's file
// name. Raises when no usable folder exists, naming the folder.
std::string GetLogFileName(bool folderOnly);

// Sets the stem of the log file names (the driver's extension name) and
// writes the header when the mode lets it.
void SetLogName(std::string_view name);

// The start-of-log block and the stop line; normally written by the logger
// itself. Best effort, like WriteLog.
void WriteLogHeader() noexcept;
void WriteLogFooter() noexcept;

// Longest text of one line, and of one logged host value, in bytes.
inline constexpr size_t kLogTextLimit = 256 * 1024;
inline constexpr size_t kLogValueLimit = 64 * 1024;
// The value cut to at most `limit` bytes (on a character boundary), followed
// by a note of how many bytes were cut.
std::string CapLogText(std::string_view value, size_t limit = kLogValueLimit);
// Layout of one line without its line end (exposed for tests). Control
// characters inside source and text are written escaped ("\r", "\n",
// "\x1B"), so that no logged value can start a line of its own.
std::string FormatLogLine(std::string_view source, std::string_view text, TLogLevel level);
// Appends one line plus CR LF to today's file under the log lock; raises on failure.
void AppendLogLine(std::string_view line);

// The operating-system text of the log header, e.g. "Linux 6.1.0 (6.1.0)".
std::string OperatingSystemText();
// The library's file name without folder, and its version "%d.%d.%d.%d".
std::string ApplicationFileName();
std::string ApplicationVersionText();
