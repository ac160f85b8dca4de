#include "common/uClock.h"

#include <atomic>
#include <cstdio>
#include <new>
#include <thread>

// H. Hinnant's algorithms.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (month <= 2));
}

bool TDateTime::IsValidDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

bool TDateTime::IsValidTime(int hour, int minute, int second) {
  return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60;
}

TDateTime TDateTime::FromTimeT(std::time_t t, int millisecond) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
          tm.tm_min,         tm.tm_sec,     millisecond};
}

std::time_t TDateTime::ToTimeT() const {
  std::tm tm{};
  tm.tm_year = Year - 1900;
  tm.tm_mon = Month - 1;
  tm.tm_mday = Day;
  tm.tm_hour = Hour;
  tm.tm_min = Minute;
  tm.tm_sec = Second;
  tm.tm_isdst = -1;
  return mktime(&tm);
}

TDateTime TDateTime::AddSeconds(long long seconds) const {
  return FromTimeT(ToTimeT() + static_cast<std::time_t>(seconds), Millisecond);
}

std::string TDateTime::ToXml() const {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", Year, Month, Day, Hour, Minute,
                Second);
  return buf;
}

std::chrono::steady_clock::time_point TSystemClock::SteadyNow() {
  return std::chrono::steady_clock::now();
}

TDateTime TSystemClock::LocalNow() {
  const auto now = std::chrono::system_clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
  return TDateTime::FromTimeT(std::chrono::system_clock::to_time_t(now),
                              static_cast<int>(ms.count() % 1000));
}

void TSystemClock::Sleep(std::chrono::milliseconds duration) {
  if (duration.count() > 0) std::this_thread::sleep_for(duration);
}

TManualClock::TManualClock(TDateTime start)
    : FSteady(std::chrono::steady_clock::time_point{} + std::chrono::hours(1)),
      FWall(start.ToTimeT()),
      FWallMs(start.Millisecond) {}

std::chrono::steady_clock::time_point TManualClock::SteadyNow() {
  std::lock_guard lock(FLock);
  return FSteady;
}

TDateTime TManualClock::LocalNow() {
  std::lock_guard lock(FLock);
  return TDateTime::FromTimeT(FWall, FWallMs);
}

void TManualClock::Sleep(std::chrono::milliseconds duration) {
  Advance(duration);
  std::lock_guard lock(FLock);
  FSlept += duration;
}

void TManualClock::Advance(std::chrono::milliseconds duration) {
  std::lock_guard lock(FLock);
  FSteady += duration;
  const long long total = FWallMs + duration.count();
  FWall += static_cast<std::time_t>(total / 1000);
  FWallMs = static_cast<int>(total % 1000);
}

void TManualClock::SetLocal(TDateTime now) {
  std::lock_guard lock(FLock);
  FWall = now.ToTimeT();
  FWallMs = now.Millisecond;
}

std::chrono::milliseconds TManualClock::Slept() const {
  std::lock_guard lock(FLock);
  return FSlept;
}

namespace {
// Never destroyed: the log's stop line at exit still asks for the time.
TSystemClock& SystemClock() {
  alignas(TSystemClock) static unsigned char storage[sizeof(TSystemClock)];
  static TSystemClock* clock = new (storage) TSystemClock;
  return *clock;
}
std::atomic<TClock*> gClock{nullptr};
}  // namespace

TClock& Clock() {
  TClock* c = gClock.load(std::memory_order_acquire);
  return c != nullptr ? *c : SystemClock();
}

void SetClock(TClock* clock) {
  gClock.store(clock, std::memory_order_release);
}
