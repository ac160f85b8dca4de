#include "driver/uDesktop.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <stdexcept>

#include "common/uClock.h"
#include "resources/uResources.h"

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

void OpenFolderOnDesktop(const std::string& Folder) {
  if (!HasGraphicalSession()) throw std::runtime_error(ResFormat("ViewLogNoDisplay", {Folder}));
  const char* argv[] = {"sh", "-c", kLaunchScript, "sh", Folder.c_str(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0)
    throw std::runtime_error(ResFormat("ViewLogFailed", {Folder}));
  int status = 0;
  const auto deadline = Clock().SteadyNow() + kLaunchLimit;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) throw std::runtime_error(ResFormat("ViewLogFailed", {Folder}));
    if (Clock().SteadyNow() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      throw std::runtime_error(ResFormat("ViewLogFailed", {Folder}));
    }
    Clock().Sleep(std::chrono::milliseconds(10));
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
    throw std::runtime_error(ResFormat("ViewLogNoXdgOpen", {Folder}));
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(ResFormat("ViewLogFailed", {Folder}));
}
