#include "common/Common.Log.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <system_error>
#include <vector>

#include "common/Common.BaseSecurity.h"
#include "common/uClock.h"
#include "common/uCommonUtils.h"

namespace fs = std::filesystem;

namespace {

// Process-wide logger state. The mode and the header flag are atomics and the
// name and flags sit behind a mutex: every thread of the host may log.
struct TLogState {
  std::atomic<TLogMode> Mode{lmOff};
  std::atomic<bool> HeaderWritten{false};
  std::mutex LogLock;     // one line at a time into the file
  std::mutex StateLock;   // the log name and the per-device flags
  std::mutex HeaderLock;  // no line may pass the header while it is written
  std::string LogName;
  std::map<std::string, bool> DeviceLogFlags;
};

// The state lives in static storage that is never destroyed, so code that
// logs while the process or the library goes away never meets a dead object;
// the finaliser below releases what it holds on the heap.
TLogState& State() {
  alignas(TLogState) static unsigned char storage[sizeof(TLogState)];
  static TLogState* state = new (storage) TLogState;
  return *state;
}

const char* kRootFolder = "Dravex";

bool Passes(TLogMode mode, TLogLevel level) {
  switch (mode) {
    case lmErrors:
      return level == llError;
    case lmInfoErrors:
      return level == llInfo || level == llError;
    case lmAll:
      return true;
    default:
      return false;
  }
}

const char* LevelWord(TLogLevel level) {
  switch (level) {
    case llDebug:
      return "DEBUG";
    case llError:
      return "ERROR";
    default:
      return "INFO";
  }
}

std::string LogStem() {
  std::string name;
  {
    std::lock_guard lock(State().StateLock);
    name = State().LogName;
  }
  if (name.empty()) name = ApplicationFileName();
  return fs::path(name).stem().string();
}

// Creates `folder` with its missing parents; each folder this call creates
// gets the log folder's access rights.
void CreateLogFolder(const fs::path& folder) {
  std::vector<fs::path> created;
  for (fs::path p = folder; !p.empty() && !fs::exists(p); p = p.parent_path()) {
    created.push_back(p);
    if (p == p.parent_path()) break;
  }
  fs::create_directories(folder);  // throws filesystem_error naming the path
  for (auto it = created.rbegin(); it != created.rend(); ++it) GrantEveryoneFullAccess(*it);
}

fs::path FallbackBase() {
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && *xdg != '\0') return xdg;
  const char* home = std::getenv("HOME");
  return fs::path(home != nullptr ? home : "") / ".local" / "state";
}

// The log folder: below $QUARNEL_DATA_DIR when set (an explicit choice: a
// failure there is reported, not hidden), else below /var/log, falling back
// to the user's state folder when an ordinary user cannot create it there.
fs::path LogFolder() {
  const fs::path tail = fs::path(kRootFolder) / LogStem();
  if (const char* dir = std::getenv("QUARNEL_DATA_DIR"); dir != nullptr && *dir != '\0') {
    const fs::path folder = fs::path(dir) / tail;
    if (!fs::is_directory(folder)) CreateLogFolder(folder);
    return folder;
  }
  const fs::path system = fs::path("/var/log") / tail;
  if (fs::is_directory(system) && access(system.c_str(), W_OK) == 0) return system;
  if (!fs::exists(system)) {
    try {
      CreateLogFolder(system);
      return system;
    } catch (const fs::filesystem_error&) {
      // not ours to create: use the user's own state folder below
    }
  }
  const fs::path user = FallbackBase() / tail;
  if (!fs::is_directory(user)) CreateLogFolder(user);
  return user;
}

std::string FormatDate(const TDateTime& t, char separator) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%c%02d%c%02d", t.Year, separator, t.Month, separator, t.Day);
  return buf;
}

void WriteAll(int fd, const std::string& bytes, const std::string& file) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "Запись в журнал " + file);
    }
    done += static_cast<size_t>(n);
  }
}

// At unload: the stop line under its condition, then the texts are released.
struct TLogFinalizer {
  TLogFinalizer() { State(); }
  ~TLogFinalizer() {
    try {
      WriteLogFooter();
    } catch (...) {
      // nothing can be reported while the library unloads
    }
    TLogState& s = State();
    std::lock_guard lock(s.StateLock);
    std::string().swap(s.LogName);
    std::map<std::string, bool>().swap(s.DeviceLogFlags);
  }
} gLogFinalizer;

}  // namespace

std::string FormatLogLine(std::string_view source, std::string_view text, TLogLevel level) {
  const TDateTime now = Clock().LocalNow();
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%04d.%02d.%02d %02d:%02d:%02d.%03d", now.Year, now.Month,
                now.Day, now.Hour, now.Minute, now.Second, now.Millisecond);
  std::string line = stamp;
  line += '\t';
  line += LevelWord(level);
  line += '\t';
  line += Trim(source);
  if (!text.empty()) {
    line += ": \t";
    line += Trim(text);
  }
  return line;
}

void AppendLogLine(std::string_view line) {
  const std::string file = GetLogFileName(false);
  std::string bytes(line);
  bytes += "\r\n";
  std::lock_guard lock(State().LogLock);
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0664);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "Открытие журнала " + file);
  // Other processes that log to the same day file wait for this line.
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  try {
    WriteAll(fd, bytes, file);
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);
}

std::string GetLogFileName(bool folderOnly) {
  std::string folder = LogFolder().string();
  if (folder.empty() || folder.back() != '/') folder += '/';
  if (folderOnly) return folder;
  return folder + LogStem() + "_" + FormatDate(Clock().LocalNow(), '.') + ".log";
}

void WriteLogHeader() {
  TLogState& s = State();
  const TLogMode mode = s.Mode.load();
  if (mode == lmOff || mode == lmSuspended) return;
  if (s.HeaderWritten.load()) return;
  std::lock_guard lock(s.HeaderLock);
  if (s.HeaderWritten.load()) return;
  const std::string blanks(40, ' ');
  AppendLogLine(blanks);
  AppendLogLine("============Start log=============");
  AppendLogLine("OS version:\t" + OperatingSystemText());
  AppendLogLine("Application:\t" + ApplicationFileName());
  AppendLogLine("App. version:\t" + ApplicationVersionText());
  AppendLogLine(blanks);
  s.HeaderWritten = true;
}

void WriteLogFooter() {
  TLogState& s = State();
  const TLogMode mode = s.Mode.load();
  if (mode == lmOff || mode == lmSuspended || !s.HeaderWritten.load()) return;
  AppendLogLine("============Stop log===============\r\n");
}

void WriteLog(std::string_view source, std::string_view text, TLogLevel level) {
  if (!Passes(State().Mode.load(), level)) return;
  WriteLogHeader();
  AppendLogLine(FormatLogLine(source, text, level));
}

void SetLogMode(TLogMode mode) {
  TLogState& s = State();
  if (mode == lmSuspended) {
    s.Mode = mode;
    return;
  }
  const TLogMode old = s.Mode.load();
  if (old != lmOff && mode == lmOff) {
    // The run ends even when the stop line cannot be written.
    struct TEnd {
      TLogState& S;
      TLogMode M;
      ~TEnd() {
        S.HeaderWritten = false;
        S.Mode = M;
      }
    } end{s, mode};
    WriteLogFooter();
    return;
  }
  s.Mode = mode;
}

TLogMode GetLogMode() {
  return State().Mode.load();
}

bool IsDeviceIdentifier(std::string_view text) {
  static constexpr size_t kGroups[] = {8, 4, 4, 4, 12};
  size_t pos = 0;
  for (size_t g = 0; g < 5; ++g) {
    if (g > 0) {
      if (pos >= text.size() || text[pos] != '-') return false;
      ++pos;
    }
    for (size_t k = 0; k < kGroups[g]; ++k, ++pos) {
      if (pos >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[pos]))) return false;
    }
  }
  return pos == text.size();
}

void SelectDeviceLog(const std::optional<std::string>& firstArgument) {
  SetLogMode(lmSuspended);
  if (!firstArgument || !IsDeviceIdentifier(*firstArgument)) return;
  bool enabled = false;
  {
    std::lock_guard lock(State().StateLock);
    auto it = State().DeviceLogFlags.find(*firstArgument);
    enabled = it != State().DeviceLogFlags.end() && it->second;
  }
  SetLogMode(enabled ? lmAll : lmOff);
}

void SetDeviceLogFlag(const std::string& deviceId, bool enabled) {
  std::lock_guard lock(State().StateLock);
  State().DeviceLogFlags[deviceId] = enabled;
}

void SetLogName(std::string_view name) {
  {
    std::lock_guard lock(State().StateLock);
    State().LogName = std::string(name);
  }
  WriteLogHeader();
}

std::string OperatingSystemText() {
  utsname u{};
  if (uname(&u) != 0) return "Unknown ";
  int major = 0, minor = 0, build = 0;
  std::sscanf(u.release, "%d.%d.%d", &major, &minor, &build);
  char numbers[48];
  std::snprintf(numbers, sizeof numbers, "(%d.%d.%d)", major, minor, build);
  return std::string(u.sysname) + " " + u.release + " " + numbers;
}

std::string ApplicationFileName() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ApplicationFileName), &info) == 0 ||
      info.dli_fname == nullptr) {
    return "libquarnel.so";
  }
  return fs::path(info.dli_fname).filename().string();
}

std::string ApplicationVersionText() {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", QUARNEL_VERSION_MAJOR, QUARNEL_VERSION_MINOR,
                QUARNEL_VERSION_PATCH, QUARNEL_VERSION_TWEAK);
  return buf;
}
