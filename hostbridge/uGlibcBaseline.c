/* What keeps libquarnel.so loadable with the C library of glibc 2.17.
 *
 * The add-in carries the C++ runtime (libstdc++, libgcc) inside it, and that
 * runtime, built against this machine's glibc, asks for functions under the
 * versions the newest glibc gives them. A library that asks for a version the
 * machine's glibc lacks does not load. Each function below is defined here,
 * hidden, so that every caller in the add-in (the runtime and our own code)
 * binds to it instead of the C library's newest version: either a jump to
 * the same function under its old version, or a private definition where old
 * systems have no such function at all. None of them is exported.
 *
 * scripts/check-linux-so lists the versions the library asks for: a new
 * toolchain that pulls in another function shows up there. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <link.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#define QUARNEL_HIDDEN __attribute__((visibility("hidden")))

/* NAME jumps to NAME@VERSION, the same function under its old version. */
/* clang-format off */
#define QUARNEL_PIN(name, version)                                  \
  __asm__(".pushsection .text\n"                                    \
          ".globl " #name "\n"                                      \
          ".hidden " #name "\n"                                     \
          ".type " #name ", @function\n"                            \
          #name ":\n"                                               \
          "  jmp quarnel_old_" #name "@PLT\n"                       \
          ".size " #name ", . - " #name "\n"                        \
          ".symver quarnel_old_" #name ", " #name "@" version "\n"  \
          ".popsection\n");
/* clang-format on */

/* glibc 2.34 moved libpthread into libc and gave these functions new
 * versions there; the 2.2.5 versions are the same functions, in libpthread
 * on older systems (the library names libpthread as needed for them). The
 * C++ runtime uses them for its locks, once-initialisation and thread keys;
 * __pthread_key_create is how it tells whether threads are in use. */
QUARNEL_PIN(pthread_once, "GLIBC_2.2.5")
QUARNEL_PIN(pthread_key_create, "GLIBC_2.2.5")
QUARNEL_PIN(__pthread_key_create, "GLIBC_2.2.5")
QUARNEL_PIN(pthread_key_delete, "GLIBC_2.2.5")
QUARNEL_PIN(pthread_getspecific, "GLIBC_2.2.5")
QUARNEL_PIN(pthread_setspecific, "GLIBC_2.2.5")
QUARNEL_PIN(pthread_rwlock_rdlock, "GLIBC_2.2.5")
QUARNEL_PIN(pthread_rwlock_wrlock, "GLIBC_2.2.5")
QUARNEL_PIN(pthread_rwlock_unlock, "GLIBC_2.2.5")

/* The same move for libdl (2.34): the library finds its own file with it. */
QUARNEL_PIN(dladdr, "GLIBC_2.2.5")

/* stat, lstat and fstat are functions of libc only since 2.33; before, the
 * headers turned them into calls of the __xstat family, which every glibc
 * still has, with the layout version of struct stat as first argument. */
enum { kStatLayout = 1 }; /* _STAT_VER_LINUX on x86-64 */

extern int quarnel_old_xstat(int, const char*, struct stat*);
extern int quarnel_old_lxstat(int, const char*, struct stat*);
extern int quarnel_old_fxstat(int, int, struct stat*);
__asm__(".symver quarnel_old_xstat, __xstat@GLIBC_2.2.5");
__asm__(".symver quarnel_old_lxstat, __lxstat@GLIBC_2.2.5");
__asm__(".symver quarnel_old_fxstat, __fxstat@GLIBC_2.2.5");

QUARNEL_HIDDEN int stat(const char* path, struct stat* out) {
  return quarnel_old_xstat(kStatLayout, path, out);
}
QUARNEL_HIDDEN int lstat(const char* path, struct stat* out) {
  return quarnel_old_lxstat(kStatLayout, path, out);
}
QUARNEL_HIDDEN int fstat(int fd, struct stat* out) {
  return quarnel_old_fxstat(kStatLayout, fd, out);
}
/* On x86-64 struct stat64 is struct stat. */
QUARNEL_HIDDEN int fstat64(int fd, struct stat64* out) {
  return quarnel_old_fxstat(kStatLayout, fd, (struct stat*)out);
}

/* glibc 2.32 tells through this variable that the process has one thread, so
 * that reference counts may skip atomic operations. Zero ("maybe several
 * threads") is always true; the platform runs many threads anyway. */
QUARNEL_HIDDEN char __libc_single_threaded = 0;

/* libgcc's unwinder, built against glibc 2.35 or newer, asks _dl_find_object
 * (2.35) for the exception frame table of the object that holds a code
 * address, and ends the throw when it gets none: it has no other way
 * compiled in, so answering -1 would make every exception end the process.
 * Found here from the program headers of the loaded objects, as unwinders
 * built against older glibc do. Only the unwinder calls it; it reads the
 * table's address, and the mapping is given too (the link map is not). */
struct TFindRequest {
  uintptr_t Pc;
  struct dl_find_object* Result;
};

static int FindObjectOf(struct dl_phdr_info* info, size_t size, void* data) {
  (void)size;
  struct TFindRequest* request = data;
  uintptr_t low = UINTPTR_MAX, high = 0;
  const ElfW(Phdr)* frames = NULL;
  int holds = 0;
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)* segment = &info->dlpi_phdr[i];
    if (segment->p_type == PT_LOAD) {
      const uintptr_t start = info->dlpi_addr + segment->p_vaddr;
      const uintptr_t end = start + segment->p_memsz;
      if (start < low) low = start;
      if (end > high) high = end;
      if (request->Pc >= start && request->Pc < end) holds = 1;
    } else if (segment->p_type == PT_GNU_EH_FRAME) {
      frames = segment;
    }
  }
  if (!holds) return 0;
  memset(request->Result, 0, sizeof *request->Result);
  request->Result->dlfo_map_start = (void*)low;
  request->Result->dlfo_map_end = (void*)high;
  if (frames != NULL) request->Result->dlfo_eh_frame = (void*)(info->dlpi_addr + frames->p_vaddr);
  return 1;
}

QUARNEL_HIDDEN int _dl_find_object(void* pc, struct dl_find_object* result) {
  struct TFindRequest request = {(uintptr_t)pc, result};
  return dl_iterate_phdr(FindObjectOf, &request) == 1 ? 0 : -1;
}

/* getentropy (2.25) and arc4random (2.36) are referenced by the runtime's
 * std::random_device, which the driver does not use; the device identifier
 * takes its random bytes from getentropy. Both read the kernel's random
 * source: the getrandom call, or /dev/urandom where there is no such call
 * (kernels older than 3.17) or a sandbox's system-call filter refuses it
 * (EPERM), as it may refuse calls it does not know. */
QUARNEL_HIDDEN int getentropy(void* buffer, size_t length) {
  if (length > 256) {
    errno = EIO;
    return -1;
  }
  unsigned char* out = buffer;
  size_t done = 0;
  while (done < length) {
    const long n = syscall(SYS_getrandom, out + done, length - done, 0);
    if (n > 0) {
      done += (size_t)n;
    } else if (n < 0 && (errno == ENOSYS || errno == EPERM)) {
      break;
    } else if (n == 0 || errno != EINTR) {
      errno = EIO;
      return -1;
    }
  }
  if (done == length) return 0;
  const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  while (done < length) {
    const ssize_t n = read(fd, out + done, length - done);
    if (n > 0) {
      done += (size_t)n;
    } else if (n == 0 || errno != EINTR) {
      close(fd);
      errno = EIO;
      return -1;
    }
  }
  close(fd);
  return 0;
}

QUARNEL_HIDDEN uint32_t arc4random(void) {
  uint32_t value;
  /* It cannot report a failure; glibc's own ends the process as well. */
  if (getentropy(&value, sizeof value) != 0) abort();
  return value;
}
