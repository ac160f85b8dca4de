#include "common/Common.BaseSecurity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void GrantEveryoneFullAccess(const std::string& path) {
  // Owner and group may write, others read; the umask must not narrow it.
  // Through a descriptor of the folder itself, never a link put in its place.
  // The result is not checked: a folder we cannot re-mode still works for us.
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fchmod(fd, 0775);
  ::close(fd);
}
