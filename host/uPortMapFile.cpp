#include "host/uPortMapFile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace {

// As large as a lookup reads a map; anything larger is no map.
constexpr off_t cMaxMapBytes = 64 * 1024;

std::string Why(int AErrno) {
  return std::generic_category().message(AErrno);
}

[[noreturn]] void Refuse(const std::string& AText) {
  throw std::runtime_error(AText);
}

// "user 1000 (alice)", or "user 1000" for a number without a name.
std::string UserText(uid_t AUid) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  std::string text = "user " + std::to_string(AUid);
  if (getpwuid_r(AUid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
    text += std::string(" (") + found->pw_name + ")";
  return text;
}

// A folder that another user owns could be changed under us (a link put in
// place of a name we are about to use), so only root's and our own are used.
void CheckOwner(int AFd, const std::string& APath) {
  struct stat st {};
  if (::fstat(AFd, &st) != 0) Refuse("cannot examine " + APath + ": " + Why(errno));
  const uid_t me = ::geteuid();
  if (st.st_uid == 0 || st.st_uid == me) return;
  if (me == 0)
    Refuse(APath + " belongs to " + UserText(st.st_uid) +
           "; as root only a map in root's own folders is written (the machine's map: --system)");
  Refuse(APath + " belongs to " + UserText(st.st_uid) + ", neither to root nor to this user");
}

// Folder AName in AParent, made when missing; a link in its place is refused.
TFd OpenFolder(int AParent, const std::string& AName, const std::string& APath) {
  for (int attempt = 0;; ++attempt) {
    TFd fd(::openat(AParent, AName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd) return fd;
    const int error = errno;
    struct stat st {};
    if ((error == ELOOP || error == ENOTDIR) &&
        ::fstatat(AParent, AName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
      Refuse(APath + (S_ISLNK(st.st_mode) ? " is a symbolic link; a port map is never written "
                                            "through a link"
                                          : " is not a folder"));
    if (error != ENOENT || attempt > 0)
      Refuse("cannot open the folder " + APath + ": " + Why(error));
    if (::mkdirat(AParent, AName.c_str(), 0755) != 0 && errno != EEXIST)
      Refuse("cannot make " + APath + ": " + Why(errno));
  }
}

}  // namespace

TPortMapFile::TPortMapFile(const std::string& APath) : FPath(APath) {
  const size_t slash = APath.rfind('/');
  if (APath.empty() || APath.front() != '/' || slash + 1 == APath.size())
    Refuse("the port map " + APath + " is not named by a full path");
  FFolder = slash == 0 ? "/" : APath.substr(0, slash);
  FName = APath.substr(slash + 1);
  FDir.Reset(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!FDir) Refuse("cannot open /: " + Why(errno));
  CheckOwner(FDir.Get(), "/");
  std::string walked;
  for (size_t at = 1; at <= slash;) {
    const size_t end = APath.find('/', at);
    const std::string name = APath.substr(at, end - at);
    at = end + 1;
    if (name.empty() || name == ".") continue;
    walked += "/" + name;
    TFd next = OpenFolder(FDir.Get(), name, walked);
    CheckOwner(next.Get(), walked);
    FDir = std::move(next);
  }
}

std::optional<std::string> TPortMapFile::Read() {
  // Non-blocking, so that a FIFO in the map's place is refused, not waited on.
  TFd fd(::openat(FDir.Get(), FName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    if (errno == ENOENT) return std::nullopt;
    if (errno == ELOOP)
      Refuse("the port map " + FPath +
             " is a symbolic link; a port map is never read or written through a link");
    Refuse("cannot read the port map " + FPath + ": " + Why(errno));
  }
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) Refuse("cannot read the port map " + FPath + ": " + Why(errno));
  if (!S_ISREG(st.st_mode)) Refuse("the port map " + FPath + " is not a regular file");
  if (st.st_size > cMaxMapBytes)
    Refuse("the port map " + FPath + " is longer than " + std::to_string(cMaxMapBytes) +
           " bytes; it is no map");
  FMode = st.st_mode & 0777;
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Refuse("cannot read the port map " + FPath + ": " + Why(errno));
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > static_cast<size_t>(cMaxMapBytes))
      Refuse("the port map " + FPath + " grew while it was read");
  }
  return text;
}

void TPortMapFile::Write(const std::string& AText) {
  // A name of our own in the map's folder: O_EXCL never opens what is there.
  std::random_device seed;
  std::mt19937_64 random(seed());
  std::string temp;
  TFd fd;
  for (int attempt = 0; attempt < 16 && !fd; ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%016llx", static_cast<unsigned long long>(random()));
    temp = FName + suffix;
    fd.Reset(::openat(FDir.Get(), temp.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd && errno != EEXIST) Refuse("cannot write in " + FFolder + ": " + Why(errno));
  }
  if (!fd) Refuse("cannot write in " + FFolder + ": " + Why(EEXIST));
  int error = ::fchmod(fd.Get(), FMode) == 0 ? 0 : errno;
  for (size_t at = 0; error == 0 && at < AText.size();) {
    const ssize_t n = ::write(fd.Get(), AText.data() + at, AText.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) error = n < 0 ? errno : EIO;
    if (n > 0) at += static_cast<size_t>(n);
  }
  if (error == 0 && ::fsync(fd.Get()) != 0) error = errno;
  fd.Reset();
  if (error == 0 && ::renameat(FDir.Get(), temp.c_str(), FDir.Get(), FName.c_str()) != 0)
    error = errno;
  if (error == 0) {
    ::fsync(FDir.Get());  // the rename itself on disk; the map is whole either way
    return;
  }
  ::unlinkat(FDir.Get(), temp.c_str(), 0);
  Refuse("cannot write " + FPath + ": " + Why(error));
}
