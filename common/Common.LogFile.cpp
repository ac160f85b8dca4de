// The log's files on Linux: the folder below $QUARNEL_DATA_DIR, /var/log or
// the user's state folder, owned by us or root, and the day file appended,
// never through a link. The day file is kept open from line to line.
#include "common/Common.LogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <system_error>

#include "common/Common.BaseSecurity.h"
#include "common/Common.Log.h"
#include "common/uFd.h"

namespace fs = std::filesystem;

namespace {

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
}  // namespace

fs::path LogFolderFor(const fs::path& tail) {
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

namespace {

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

}  // namespace

std::string LogPathText(const fs::path& APath) {
  return APath.string();
}

namespace {

// The day file stays open between lines: opening it with the folder's and
// the file's checks for every line cost more than the exchange it logged.
struct TDayFile {
  TFd Fd;
  std::string Folder, Name, Path;  // where it was opened
  dev_t Device = 0;
  ino_t Inode = 0;
};

// Never destroyed: the logger's finaliser may still write while the
// library's statics go away.
TDayFile& DayFile() {
  alignas(TDayFile) static unsigned char storage[sizeof(TDayFile)];
  static TDayFile* file = new (storage) TDayFile;
  return *file;
}

// The open file is still the one at its name: not removed, renamed away or
// replaced by another file or a link (which the next open refuses).
bool StillAtItsName(const TDayFile& AFile) {
  struct stat st {};
  return ::lstat(AFile.Path.c_str(), &st) == 0 && st.st_dev == AFile.Device &&
         st.st_ino == AFile.Inode;
}

}  // namespace

void AppendToLogFile(const fs::path& folder, const std::string& name, const std::string& bytes) {
  TDayFile& day = DayFile();
  // Another day or folder, or the file gone from its name: open afresh.
  if (day.Fd && (day.Name != name || day.Folder != folder.native() || !StillAtItsName(day)))
    day.Fd.Reset();
  if (!day.Fd) {
    TFd fd = OpenDayFile(folder, name);
    struct stat st {};
    const std::string path = (folder / name).string();
    if (::fstat(fd.Get(), &st) != 0)
      throw std::system_error(errno, std::generic_category(), "Открытие журнала " + path);
    day.Fd = std::move(fd);
    day.Folder = folder.native();
    day.Name = name;
    day.Path = path;
    day.Device = st.st_dev;
    day.Inode = st.st_ino;
  }
  // No file lock: anyone who may read the log could hold one and stall every
  // call that logs. A write to a file opened for appending lands whole at its
  // end, whatever other processes append meanwhile.
  try {
    WriteAll(day.Fd.Get(), bytes, day.Path);
  } catch (...) {
    day.Fd.Reset();  // the next line opens the file again
    throw;
  }
}

void CloseLogFile() noexcept {
  DayFile().Fd.Reset();
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
