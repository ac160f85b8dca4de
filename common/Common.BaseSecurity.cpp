#include "common/Common.BaseSecurity.h"

#include <sys/stat.h>

void GrantEveryoneFullAccess(const std::string& path) {
  // Owner and group may write, others read; the umask must not narrow it.
  // The result is not checked: a folder we cannot re-mode still works for us.
  (void)::chmod(path.c_str(), 0775);
}
