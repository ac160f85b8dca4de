#include "ui/uDesktop.h"

#include <dlfcn.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "common/uClock.h"
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

// One private folder (mode 0700) per process for the rendered pages; made
// again when something removed it. The browser reads a page after the call
// has returned, so pages stay until the system clears its temporary files.
std::string HelpPageFolder() {
  namespace fs = std::filesystem;
  static std::string folder;
  std::error_code ec;
  if (!folder.empty() && fs::is_directory(folder, ec)) return folder;
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = (tmp != nullptr && *tmp != '\0' ? std::string(tmp) : std::string("/tmp")) +
                        "/quarnel-help-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error(ResFormat("HelpWriteFailed", {pattern}));
  folder = pattern;
  return folder;
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
