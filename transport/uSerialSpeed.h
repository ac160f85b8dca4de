// Line rates for termios. The usual rates have B-constants; 14400 and 56000
// do not, and are set through the kernel's arbitrary-rate interface. Kept in a
// file of their own because that interface's header clashes with <termios.h>.
#pragma once

#include <termios.h>

// Sets a rate that has a B-constant; false when `rate` has none.
bool SetStandardSpeed(termios& tio, int rate);
// Sets any rate on an open descriptor; false with errno on failure.
bool SetCustomSpeed(int fd, int rate);
