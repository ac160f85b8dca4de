#include "ui/uDesktop.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>

#include "common/uClock.h"
#include "common/uFd.h"
#include "resources/uResources.h"
#include "ui/ufmDocView.h"

extern char** environ;

namespace {

bool HasGraphicalSession() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

// The shell starts xdg-open in the background and ends at once, so the host
// call never waits for the file manager; 127 means xdg-open is missing.
constexpr char kLaunchScript[] =
    "command -v xdg-open >/dev/null 2>&1 || exit 127; "
    "xdg-open \"$1\" </dev/null >/dev/null 2>&1 &";

constexpr std::chrono::seconds kLaunchLimit{5};

}  // namespace

TDesktopOpen OpenOnDesktop(const std::string& APath) {
  if (!HasGraphicalSession()) return TDesktopOpen::NoDisplay;
  const char* argv[] = {"sh", "-c", kLaunchScript, "sh", APath.c_str(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0)
    return TDesktopOpen::Failed;
  int status = 0;
  const auto deadline = Clock().SteadyNow() + kLaunchLimit;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return TDesktopOpen::Failed;
    if (Clock().SteadyNow() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return TDesktopOpen::Failed;
    }
    Clock().Sleep(std::chrono::milliseconds(10));
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) return TDesktopOpen::NoOpener;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return TDesktopOpen::Failed;
  return TDesktopOpen::Opened;
}

namespace {

std::mutex GHelpLock;
std::string GHelpFolder;  // the folder this process made last; under GHelpLock

// The folder at APath while it is still the one this process made: a folder
// (not a link) of this user that no one else may enter. A tmp cleaner may
// have removed ours, and another user may have made one of the same name.
TFd OpenOwnFolder(const std::string& APath) {
  TFd fd(::open(APath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (!fd || ::fstat(fd.Get(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
      (st.st_mode & 07777) != 0700)
    return TFd();
  return fd;
}

// One private folder per process for the rendered pages, made afresh when
// the old one is gone or no longer ours. The browser reads a page after the
// call has returned, so pages stay until the system clears its temporary
// files.
TFd HelpPageFolder(std::string& APath) {
  if (!GHelpFolder.empty())
    if (TFd fd = OpenOwnFolder(GHelpFolder)) {
      APath = GHelpFolder;
      return fd;
    }
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = (tmp != nullptr && *tmp != '\0' ? std::string(tmp) : std::string("/tmp")) +
                        "/quarnel-help-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error(ResFormat("HelpWriteFailed", {pattern}));
  // mkdtemp's 0700 may have lost bits to the umask.
  ::chmod(pattern.c_str(), 0700);
  TFd fd = OpenOwnFolder(pattern);
  if (!fd) throw std::runtime_error(ResFormat("HelpWriteFailed", {pattern}));
  GHelpFolder = APath = pattern;
  return fd;
}

}  // namespace

std::string WriteHelpPage(std::string_view AName, std::string_view AContent) {
  std::lock_guard lock(GHelpLock);
  std::string folder;
  const TFd dir = HelpPageFolder(folder);
  const std::string name = std::string(AName) + ".html";
  const std::string page = folder + "/" + name;
  auto failed = [&] { return std::runtime_error(ResFormat("HelpWriteFailed", {page})); };
  // The page of an earlier call goes first: a new file made with O_EXCL is
  // never one that a name planted in the folder leads to.
  if (::unlinkat(dir.Get(), name.c_str(), 0) != 0 && errno != ENOENT) throw failed();
  const TFd fd(::openat(dir.Get(), name.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd) throw failed();
  for (size_t at = 0; at < AContent.size();) {
    const ssize_t n = ::write(fd.Get(), AContent.data() + at, AContent.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw failed();
    at += static_cast<size_t>(n);
  }
  return page;
}

std::string HelpArchivePath() {
  namespace fs = std::filesystem;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&HelpArchivePath), &info) == 0 || info.dli_fname == nullptr)
    return "md.zip";
  std::error_code ec;
  const fs::path library = fs::absolute(info.dli_fname, ec);
  return (library.parent_path() / "md.zip").string();
}
