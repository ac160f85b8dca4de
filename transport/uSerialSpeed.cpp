#include "transport/uSerialSpeed.h"

namespace {
struct TRate {
  int Rate;
  speed_t Constant;
};
constexpr TRate kStandard[] = {{110, B110},     {300, B300},     {600, B600},      {1200, B1200},
                               {2400, B2400},   {4800, B4800},   {9600, B9600},    {19200, B19200},
                               {38400, B38400}, {57600, B57600}, {115200, B115200}};
}  // namespace

bool SetStandardSpeed(termios& tio, int rate) {
  for (const TRate& r : kStandard)
    if (r.Rate == rate) return cfsetspeed(&tio, r.Constant) == 0;
  return false;
}
