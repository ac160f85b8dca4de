#include "common/Common.Log.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <mutex>
#include <new>
#include <system_error>
#include <utility>
#include <vector>

#include "common/Common.LogFile.h"
#include "common/uClock.h"
#include "common/uCommonUtils.h"

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
  std::string LogStem;  // of LogName, made once when it is set
  std::map<std::string, bool> DeviceLogFlags;
  uint64_t LostLines = 0;
  std::string LostReason;
  // The folder the last line went to and what chose it (the log's stem and
  // the environment), under LogLock.
  fs::path Folder;
  std::string FolderKey;
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
  TLogDumpCount Dumps;
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
  {
    std::lock_guard lock(State().StateLock);
    if (!State().LogStem.empty()) return State().LogStem;
  }
  return fs::path(ApplicationFileName()).stem().string();
}

// One number of a date or time: Width digits with leading zeros, after the
// character Before (none when 0).
struct TStampField {
  int Value;
  int Width;
  char Before;
};

// The fields as printf's "%0Nd" writes them, when each fits its width;
// false (and nothing appended) otherwise. Every log line carries a stamp,
// and printf's machinery cost more than the rest of a byte dump's line.
bool AppendFields(std::string& AOut, std::initializer_list<TStampField> AFields) {
  char text[64];
  size_t length = 0;
  for (const TStampField& field : AFields) {
    if (field.Before != 0) text[length++] = field.Before;
    int value = field.Value;
    if (value < 0 || field.Width > 4 || length + 4 > sizeof text) return false;
    for (int i = field.Width - 1; i >= 0; --i, value /= 10)
      text[length + i] = static_cast<char>('0' + value % 10);
    if (value != 0) return false;
    length += static_cast<size_t>(field.Width);
  }
  AOut.append(text, length);
  return true;
}

// "yyyy<separator>mm<separator>dd".
void AppendDate(std::string& AOut, const TDateTime& t, char separator) {
  if (AppendFields(AOut, {{t.Year, 4, 0}, {t.Month, 2, separator}, {t.Day, 2, separator}})) return;
  // A date no calendar clock gives: as printf writes it.
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d%c%02d%c%02d", t.Year, separator, t.Month, separator, t.Day);
  AOut += buf;
}

// "yyyy.mm.dd hh:nn:ss.zzz".
void AppendStamp(std::string& AOut, const TDateTime& t) {
  if (AppendFields(AOut, {{t.Year, 4, 0},
                          {t.Month, 2, '.'},
                          {t.Day, 2, '.'},
                          {t.Hour, 2, ' '},
                          {t.Minute, 2, ':'},
                          {t.Second, 2, ':'},
                          {t.Millisecond, 3, '.'}}))
    return;
  char stamp[96];
  std::snprintf(stamp, sizeof stamp, "%04d.%02d.%02d %02d:%02d:%02d.%03d", t.Year, t.Month, t.Day,
                t.Hour, t.Minute, t.Second, t.Millisecond);
  AOut += stamp;
}

fs::path LogFolder(const std::string& stem) {
  return LogFolderFor(fs::path(kRootFolder) / stem);
}

std::string DayFileName(const std::string& stem) {
  std::string name = stem;
  name += '_';
  AppendDate(name, Clock().LocalNow(), '.');
  name += ".log";
  return name;
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
    {
      std::lock_guard lock(s.LogLock);
      CloseLogFile();
    }
    std::lock_guard lock(s.StateLock);
    std::string().swap(s.LogName);
    std::string().swap(s.LogStem);
    std::map<std::string, bool>().swap(s.DeviceLogFlags);
  }
} gLogFinalizer;

// Appends `text` with its control characters escaped, stopping before the
// output would pass `limit` bytes; returns how many input bytes were left.
size_t AppendEscaped(std::string& out, std::string_view text, size_t limit) {
  static const char kHex[] = "0123456789ABCDEF";
  const auto plain = [](unsigned char c) { return c >= 0x20 && c < 0x7F; };
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (plain(c)) {
      // A run of printable ASCII goes as it is, one byte a character: byte
      // dumps and most texts are nothing else.
      size_t end = i + 1;
      while (end < text.size() && plain(static_cast<unsigned char>(text[end]))) ++end;
      const size_t room = limit > out.size() ? limit - out.size() : 0;
      const size_t take = std::min(end - i, room);
      out.append(text.data() + i, take);
      i += take;
      if (i < end) break;
      continue;
    }
    char escape[6];
    std::string_view piece;
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
          escape[0] = '\\';
          escape[1] = 'x';
          escape[2] = kHex[c >> 4];
          escape[3] = kHex[c & 15];
          piece = std::string_view(escape, 4);
      }
    } else if (c == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      // C1 controls (NEL among them) break lines in some viewers.
      const unsigned char c1 = static_cast<unsigned char>(text[i + 1]);
      escape[0] = '\\';
      escape[1] = 'u';
      escape[2] = '0';
      escape[3] = '0';
      escape[4] = kHex[c1 >> 4];
      escape[5] = kHex[c1 & 15];
      piece = std::string_view(escape, 6);
      take = 2;
    } else {
      // A whole UTF-8 character, so that a cut never splits one; only
      // continuation bytes belong to it, so a lead byte whose character
      // never comes cannot carry a line break through unescaped.
      const size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      while (take < length && i + take < text.size() &&
             (static_cast<unsigned char>(text[i + take]) & 0xC0) == 0x80)
        ++take;
      piece = text.substr(i, take);
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
  std::string line;
  line.reserve(64 + source.size() + text.size());
  AppendStamp(line, Clock().LocalNow());
  line += '\t';
  line += LevelWord(level);
  line += '\t';
  if (const size_t cut = AppendEscaped(line, TrimView(source), line.size() + 1024); cut > 0)
    line += CutNote(cut);
  if (!text.empty()) {
    line += ": \t";
    if (const size_t cut = AppendEscaped(line, TrimView(text), line.size() + kLogTextLimit);
        cut > 0)
      line += CutNote(cut);
  }
  return line;
}

void AppendLogLine(std::string_view line) {
  const std::string stem = LogStem();
  const std::string name = DayFileName(stem);
  // What decides the folder; while it stays the same and lines go through,
  // the folder is not looked for again (the day file's opening checks it).
  std::string key = stem;
  for (const char* variable : {"QUARNEL_DATA_DIR", "XDG_STATE_HOME", "HOME"}) {
    const char* value = std::getenv(variable);
    key += '\n';
    key += value != nullptr ? value : "";
  }
  std::string bytes(line);
  bytes += "\r\n";
  TLogState& s = State();
  std::lock_guard lock(s.LogLock);
  if (s.FolderKey == key && !s.Folder.empty()) {
    try {
      AppendToLogFile(s.Folder, name, bytes);
      return;
    } catch (const std::exception&) {
      // The folder may have gone: it is looked for (and made) afresh below.
    }
  }
  s.Folder.clear();
  s.Folder = LogFolder(stem);
  s.FolderKey = std::move(key);
  AppendToLogFile(s.Folder, name, bytes);
}

std::string GetLogFileName(bool folderOnly) {
  const std::string stem = LogStem();
  std::string folder = LogPathText(LogFolder(stem));
  const char separator = static_cast<char>(fs::path::preferred_separator);
  if (folder.empty() || folder.back() != separator) folder += separator;
  if (folderOnly) return folder;
  return folder + DayFileName(stem);
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

TLogCallScope::TLogCallScope()
    : FOuterMode(tCallLog.Mode), FOuterActive(tCallLog.Active), FOuterDumps(tCallLog.Dumps) {
  tCallLog.Active = true;
  tCallLog.Mode = lmSuspended;
  tCallLog.Dumps = {};
}

TLogCallScope::~TLogCallScope() {
  const TLogDumpCount& dumps = tCallLog.Dumps;
  if (dumps.LeftOutDumps > 0)
    WriteLog("Log",
             "byte dumps of this call not written: " + std::to_string(dumps.LeftOutDumps) +
                 " lines, " + std::to_string(dumps.LeftOutBytes) + " bytes",
             llInfo);
  tCallLog.Active = FOuterActive;
  tCallLog.Mode = FOuterMode;
  tCallLog.Dumps = FOuterDumps;
}

void WriteLogDump(std::string_view source, std::string_view arrow, std::string_view bytes,
                  TLogLevel level) noexcept {
  // The dump costs more than the exchange itself; it is built only for a
  // line that is written.
  if (!Passes(EffectiveMode(), level)) return;
  TLogDumpCount& dumps = tCallLog.Dumps;
  const bool counted = tCallLog.Active && level != llError;
  if (counted && dumps.WrittenBytes >= kLogDumpLimit) {
    ++dumps.LeftOutDumps;
    dumps.LeftOutBytes += bytes.size();
    return;
  }
  BestEffort([&] {
    std::string text(arrow);
    text += BytesToHex(bytes, " ");
    WriteLog(source, text, level);
  });
  if (!counted) return;
  dumps.WrittenBytes += bytes.size();
  if (dumps.WrittenBytes >= kLogDumpLimit)
    WriteLog("Log",
             "byte dumps of this call reached " + std::to_string(kLogDumpLimit) +
                 " bytes: later ones are counted, not written, until the call ends",
             llInfo);
}

namespace {

// The mode of the host call this thread serves. Switching a logging call
// off still ends the run visibly; selecting a device never does.
void SetCallMode(TLogMode mode) {
  TLogState& s = State();
  const TLogMode old = tCallLog.Mode;
  if (mode == lmOff && IsLogging(old) && s.HeaderWritten.load()) {
    BestEffort([] { WriteFooterLine(); });
    s.HeaderWritten = false;
  }
  tCallLog.Mode = mode;
  s.LastCallMode = mode;
}

// The mode outside host calls.
void SetProcessMode(TLogMode mode) {
  TLogState& s = State();
  const TLogMode old = s.Mode.exchange(mode);
  if (mode == lmSuspended) return;
  if (old != lmOff && mode == lmOff) {
    if (IsLogging(old) && s.HeaderWritten.load()) BestEffort([] { WriteFooterLine(); });
    s.HeaderWritten = false;
  }
}

}  // namespace

void SetLogMode(TLogMode mode) {
  // Within a host call only this call's lines change.
  if (tCallLog.Active)
    SetCallMode(mode);
  else
    SetProcessMode(mode);
}

void SetLogSwitch(bool on) {
  const TLogMode mode = on ? lmAll : lmOff;
  if (tCallLog.Active) SetCallMode(mode);
  SetProcessMode(mode);
}

bool LogSwitchedOn() {
  return State().Mode.load() != lmOff;
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
    State().LogStem = name.empty() ? std::string() : fs::path(name).stem().string();
  }
  WriteLogHeader();
}
