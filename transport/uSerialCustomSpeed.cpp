// The arbitrary-rate interface (termios2, BOTHER); see uSerialSpeed.h.
#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cerrno>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

bool SetCustomSpeed(int fd, int rate) {
  struct termios2 tio2 {};
  if (ioctl(fd, TCGETS2, &tio2) != 0) return false;
  tio2.c_cflag &= ~CBAUD;
  tio2.c_cflag |= BOTHER;
  tio2.c_ispeed = static_cast<speed_t>(rate);
  tio2.c_ospeed = static_cast<speed_t>(rate);
  return ioctl(fd, TCSETS2, &tio2) == 0;
}
