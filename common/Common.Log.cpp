#include "common/Common.Log.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <system_error>
#include <utility>
#include <vector>

#include "common/Common.BaseSecurity.h"
#include "common/uClock.h"
#include "common/uCommonUtils.h"
#include "common/uFd.h"

namespace fs = std::filesystem;

namespace {

// Process-wide logger state. The mode and the header flag are atomics and the
// name and flags sit behind a mutex: every thread of the host may log.
struct TLogState {
  std::atomic<TLogMode> Mode{lmOff};          // outside host calls
  std::atomic<TLogMode> LastCallMode{lmOff};  // what the latest host call selected
  std::atomic<bool> HeaderWritten{false};
  std::mutex LogLock;      // one line at a time into the file
  std::mutex StateLock;    // the log name and the per-device flags
  std::mutex HeaderLock;   // no line may pass the header while it is written
  std::mutex FailureLock;  // the lines lost since the last line written
  std::string LogName;
  std::map<std::string, bool> DeviceLogFlags;
  uint64_t LostLines = 0;
  std::string LostReason;
};

// The state lives in static storage that is never destroyed, so code that
// logs while the process or the library goes away never meets a dead object;
// the finaliser below releases what it holds on the heap.
TLogState& State() {
  alignas(TLogState) static unsigned char storage[sizeof(TLogState)];
  static TLogState* state = new (storage) TLogState;
  return *state;
}

// The host call this thread is serving, if any, and the mode its device chose.
struct TCallLog {
  bool Active = false;
  TLogMode Mode = lmSuspended;
};
thread_local TCallLog tCallLog;

TLogMode EffectiveMode() {
  return tCallLog.Active ? tCallLog.Mode : State().Mode.load();
}

bool IsLogging(TLogMode mode) {
  return mode != lmOff && mode != lmSuspended;
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

bool OwnedByUsOrRoot(const struct stat& st) {
  return st.st_uid == ::geteuid() || st.st_uid == 0;
}

// Another user's log folder could have any file in it swapped under us.
void RequireOwnFolder(const struct stat& st, const fs::path& folder) {
  if (!OwnedByUsOrRoot(st))
    throw std::runtime_error("Папка журнала " + folder.string() +
                             " принадлежит другому пользователю (uid " + std::to_string(st.st_uid) +
                             "), журнал в неё не пишется");
}

// Creates `folder` with its missing parents. The parents follow the umask;
// only the log folder itself gets the shared mode.
void CreateLogFolder(const fs::path& folder) {
  std::error_code ec;
  fs::create_directories(folder.parent_path(), ec);
  if (ec) throw std::system_error(ec, "Создание папки журнала " + folder.string());
  if (::mkdir(folder.c_str(), 0775) != 0) {
    if (errno == EEXIST) return;  // made by another process meanwhile: left as it is
    throw std::system_error(errno, std::generic_category(),
                            "Создание папки журнала " + folder.string());
  }
  GrantEveryoneFullAccess(folder.string());
}

// A usable existing folder, or one created now; raises naming the folder.
void EnsureLogFolder(const fs::path& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) {
    CreateLogFolder(folder);
    if (::stat(folder.c_str(), &st) != 0)
      throw std::system_error(errno, std::generic_category(), "Папка журнала " + folder.string());
  }
  if (!S_ISDIR(st.st_mode))
    throw std::runtime_error("Папка журнала " + folder.string() + " не является папкой");
  RequireOwnFolder(st, folder);
}

// The user's own state folder; without an absolute one there is none, and
// a relative fallback would scatter logs under whatever the working folder is.
fs::path FallbackBase(const fs::path& refused, const std::string& why) {
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && xdg[0] == '/') return xdg;
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
    return fs::path(home) / ".local" / "state";
  throw std::runtime_error("Папка журнала " + refused.string() + "/ недоступна (" + why +
                           "), а запасной папки нет: не заданы абсолютные XDG_STATE_HOME и HOME");
}

// The log folder: below $QUARNEL_DATA_DIR when set (an explicit choice: a
// failure there is reported, not hidden), else below /var/log, falling back
// to the user's state folder when an ordinary user cannot create it there.
fs::path LogFolder() {
  const fs::path tail = fs::path(kRootFolder) / LogStem();
  if (const char* dir = std::getenv("QUARNEL_DATA_DIR"); dir != nullptr && *dir != '\0') {
    const fs::path folder = fs::path(dir) / tail;
    EnsureLogFolder(folder);
    return folder;
  }
  const fs::path system = fs::path("/var/log") / tail;
  std::string why = "нет права записи";
  struct stat st {};
  if (::stat(system.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode) && ::access(system.c_str(), W_OK) == 0) {
      RequireOwnFolder(st, system);
      return system;
    }
  } else {
    try {
      EnsureLogFolder(system);
      return system;
    } catch (const std::exception& e) {
      why = e.what();  // not ours to create: use the user's own state folder below
    }
  }
  const fs::path user = FallbackBase(system, why) / tail;
  EnsureLogFolder(user);
  return user;
}

std::string FormatDate(const TDateTime& t, char separator) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%c%02d%c%02d", t.Year, separator, t.Month, separator, t.Day);
  return buf;
}

std::string DayFileName() {
  return LogStem() + "_" + FormatDate(Clock().LocalNow(), '.') + ".log";
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

// Opens the day file for appending inside the folder: never through a link
// planted at its name, never anything but our own (or root's) regular file.
TFd OpenDayFile(const fs::path& folder, const std::string& name) {
  const std::string file = (folder / name).string();
  TFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() < 0)
    throw std::system_error(errno, std::generic_category(), "Открытие папки журнала " + file);
  struct stat st {};
  if (::fstat(dir.Get(), &st) != 0)
    throw std::system_error(errno, std::generic_category(), "Открытие папки журнала " + file);
  RequireOwnFolder(st, folder);
  // O_NONBLOCK: a FIFO at the name must not hang the caller; it is refused below.
  TFd fd(::openat(dir.Get(), name.c_str(),
                  O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC,
                  0664));
  if (!fd) throw std::system_error(errno, std::generic_category(), "Открытие журнала " + file);
  if (::fstat(fd.Get(), &st) != 0)
    throw std::system_error(errno, std::generic_category(), "Открытие журнала " + file);
  if (!S_ISREG(st.st_mode))
    throw std::runtime_error("Журнал " + file + " не является обычным файлом");
  if (!OwnedByUsOrRoot(st))
    throw std::runtime_error("Журнал " + file + " принадлежит другому пользователю (uid " +
                             std::to_string(st.st_uid) + ")");
  return fd;
}

struct TLostLines {
  uint64_t Count = 0;
  std::string Reason;
};

TLostLines TakeLostLines() {
  TLogState& s = State();
  std::lock_guard lock(s.FailureLock);
  TLostLines lost{s.LostLines, std::move(s.LostReason)};
  s.LostLines = 0;
  s.LostReason.clear();
  return lost;
}

void PutBackLostLines(TLostLines&& lost) noexcept {
  if (lost.Count == 0) return;
  TLogState& s = State();
  std::lock_guard lock(s.FailureLock);
  s.LostLines += lost.Count;
  if (s.LostReason.empty()) s.LostReason = std::move(lost.Reason);
}

// Appends `line`; what a log failure cost is noted in front of it.
void AppendReported(std::string_view line) {
  TLostLines lost = TakeLostLines();
  try {
    std::string bytes;
    if (lost.Count > 0) {
      bytes = FormatLogLine("Log",
                            "log entries not written: " + std::to_string(lost.Count) +
                                "; last failure: " + lost.Reason,
                            llError);
      bytes += "\r\n";
    }
    bytes += line;
    AppendLogLine(bytes);
  } catch (...) {
    PutBackLostLines(std::move(lost));
    throw;
  }
}

// Runs a logging step; a failure is counted instead of reaching the caller.
template <typename F>
void BestEffort(F&& step) noexcept {
  try {
    step();
  } catch (const std::exception& e) {
    NoteLogFailure(e.what());
  } catch (...) {
    NoteLogFailure("unknown failure");
  }
}

void WriteFooterLine() {
  AppendReported("============Stop log===============\r\n");
}

// At unload: the stop line under its condition, then the texts are released.
struct TLogFinalizer {
  TLogFinalizer() { State(); }
  ~TLogFinalizer() {
    TLogState& s = State();
    if (s.HeaderWritten.load() && (IsLogging(s.Mode.load()) || IsLogging(s.LastCallMode.load())))
      BestEffort([] { WriteFooterLine(); });
    std::lock_guard lock(s.StateLock);
    std::string().swap(s.LogName);
    std::map<std::string, bool>().swap(s.DeviceLogFlags);
  }
} gLogFinalizer;

// Appends `text` with its control characters escaped, stopping before the
// output would pass `limit` bytes; returns how many input bytes were left.
size_t AppendEscaped(std::string& out, std::string_view text, size_t limit) {
  static const char kHex[] = "0123456789ABCDEF";
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::string piece;
    size_t take = 1;
    if (c < 0x20 || c == 0x7F) {
      switch (c) {
        case '\r':
          piece = "\\r";
          break;
        case '\n':
          piece = "\\n";
          break;
        case '\t':
          piece = "\\t";
          break;
        default:
          piece = {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
      }
    } else if (c == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      // C1 controls (NEL among them) break lines in some viewers.
      const unsigned char c1 = static_cast<unsigned char>(text[i + 1]);
      piece = {'\\', 'u', '0', '0', kHex[c1 >> 4], kHex[c1 & 15]};
      take = 2;
    } else {
      // A whole UTF-8 character, so that a cut never splits one; only
      // continuation bytes belong to it, so a lead byte whose character
      // never comes cannot carry a line break through unescaped.
      const size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      while (take < length && i + take < text.size() &&
             (static_cast<unsigned char>(text[i + take]) & 0xC0) == 0x80)
        ++take;
      piece.assign(text.substr(i, take));
    }
    if (out.size() + piece.size() > limit) break;
    out += piece;
    i += take;
  }
  return text.size() - i;
}

std::string CutNote(size_t cut) {
  return " [... " + std::to_string(cut) + " bytes cut]";
}

}  // namespace

std::string CapLogText(std::string_view value, size_t limit) {
  if (value.size() <= limit) return std::string(value);
  size_t end = limit;
  // Back to the start of a UTF-8 character.
  while (end > 0 && (static_cast<unsigned char>(value[end]) & 0xC0) == 0x80) --end;
  return std::string(value.substr(0, end)) + CutNote(value.size() - end);
}

std::string FormatLogLine(std::string_view source, std::string_view text, TLogLevel level) {
  const TDateTime now = Clock().LocalNow();
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%04d.%02d.%02d %02d:%02d:%02d.%03d", now.Year, now.Month,
                now.Day, now.Hour, now.Minute, now.Second, now.Millisecond);
  std::string line = stamp;
  line += '\t';
  line += LevelWord(level);
  line += '\t';
  if (const size_t cut = AppendEscaped(line, Trim(source), line.size() + 1024); cut > 0)
    line += CutNote(cut);
  if (!text.empty()) {
    line += ": \t";
    if (const size_t cut = AppendEscaped(line, Trim(text), line.size() + kLogTextLimit); cut > 0)
      line += CutNote(cut);
  }
  return line;
}

void AppendLogLine(std::string_view line) {
  const fs::path folder = LogFolder();
  const std::string name = DayFileName();
  std::string bytes(line);
  bytes += "\r\n";
  std::lock_guard lock(State().LogLock);
  const TFd fd = OpenDayFile(folder, name);
  // No file lock: anyone who may read the log could hold one and stall every
  // call that logs. A write to a file opened for appending lands whole at its
  // end, whatever other processes append meanwhile.
  WriteAll(fd.Get(), bytes, (folder / name).string());
}

std::string GetLogFileName(bool folderOnly) {
  std::string folder = LogFolder().string();
  if (folder.empty() || folder.back() != '/') folder += '/';
  if (folderOnly) return folder;
  return folder + DayFileName();
}

void NoteLogFailure(std::string_view reason) noexcept {
  try {
    TLogState& s = State();
    std::lock_guard lock(s.FailureLock);
    ++s.LostLines;
    s.LostReason.assign(reason);
  } catch (...) {
    // nothing left to note it with
  }
}

bool LogPasses(TLogLevel level) {
  return Passes(EffectiveMode(), level);
}

void WriteLogHeader() noexcept {
  TLogState& s = State();
  if (!IsLogging(EffectiveMode()) || s.HeaderWritten.load()) return;
  BestEffort([&] {
    std::lock_guard lock(s.HeaderLock);
    if (s.HeaderWritten.load()) return;
    const std::string blanks(40, ' ');
    std::string block = blanks + "\r\n";
    block += "============Start log=============\r\n";
    block += "OS version:\t" + OperatingSystemText() + "\r\n";
    block += "Application:\t" + ApplicationFileName() + "\r\n";
    block += "App. version:\t" + ApplicationVersionText() + "\r\n";
    block += blanks;
    AppendReported(block);
    s.HeaderWritten = true;
  });
}

void WriteLogFooter() noexcept {
  TLogState& s = State();
  if (!IsLogging(EffectiveMode()) || !s.HeaderWritten.load()) return;
  BestEffort([] { WriteFooterLine(); });
}

void WriteLog(std::string_view source, std::string_view text, TLogLevel level) noexcept {
  if (!Passes(EffectiveMode(), level)) return;
  WriteLogHeader();
  BestEffort([&] { AppendReported(FormatLogLine(source, text, level)); });
}

TLogCallScope::TLogCallScope() : FOuterMode(tCallLog.Mode), FOuterActive(tCallLog.Active) {
  tCallLog.Active = true;
  tCallLog.Mode = lmSuspended;
}

TLogCallScope::~TLogCallScope() {
  tCallLog.Active = FOuterActive;
  tCallLog.Mode = FOuterMode;
}

void SetLogMode(TLogMode mode) {
  TLogState& s = State();
  if (tCallLog.Active) {
    // Within a host call only this call's lines change. Switching a logging
    // call off still ends the run visibly; selecting a device never does.
    const TLogMode old = tCallLog.Mode;
    if (mode == lmOff && IsLogging(old) && s.HeaderWritten.load()) {
      BestEffort([] { WriteFooterLine(); });
      s.HeaderWritten = false;
    }
    tCallLog.Mode = mode;
    s.LastCallMode = mode;
    return;
  }
  if (mode == lmSuspended) {
    s.Mode = mode;
    return;
  }
  const TLogMode old = s.Mode.load();
  if (old != lmOff && mode == lmOff) {
    WriteLogFooter();
    s.HeaderWritten = false;
  }
  s.Mode = mode;
}

TLogMode GetLogMode() {
  return EffectiveMode();
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
