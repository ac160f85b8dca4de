// Time for the whole system behind one replaceable clock: the steady clock
// that bounds waits, local wall time for logs and register dates, and sleep.
// Production uses the system clock; tests install a TManualClock so that the
// fixed pauses and time limits cost nothing while the logic still counts them.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>

// A local calendar date and time. All fields zero means "no date".
struct TDateTime {
  int Year = 0, Month = 0, Day = 0;
  int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;

  bool IsEmpty() const { return Year == 0 && Month == 0 && Day == 0; }
  static bool IsValidDate(int year, int month, int day);
  static bool IsValidTime(int hour, int minute, int second);
  // From and to a local time_t (mktime/localtime_r).
  static TDateTime FromTimeT(std::time_t t, int millisecond = 0);
  std::time_t ToTimeT() const;
  // This moment moved by whole seconds (across days, months and years).
  TDateTime AddSeconds(long long seconds) const;
  // "yyyy-mm-ddThh:nn:ss", the form of the host's XML documents.
  std::string ToXml() const;
  friend bool operator==(const TDateTime&, const TDateTime&) = default;
};

// Days between 1970-01-01 and a proleptic Gregorian date, and back: calendar
// arithmetic that does not depend on the time zone.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);
void CivilFromDays(int64_t days, int& year, int& month, int& day);

class TClock {
 public:
  virtual ~TClock() = default;
  virtual std::chrono::steady_clock::time_point SteadyNow() = 0;
  virtual TDateTime LocalNow() = 0;
  virtual void Sleep(std::chrono::milliseconds duration) = 0;
};

// The system's clocks and a real sleep.
class TSystemClock : public TClock {
 public:
  std::chrono::steady_clock::time_point SteadyNow() override;
  TDateTime LocalNow() override;
  void Sleep(std::chrono::milliseconds duration) override;
};

// A clock that moves only when told to or when something sleeps on it.
// Sleeping advances both the steady time and the wall time, so code that
// waits "until a limit" by sleeping terminates at once in tests.
class TManualClock : public TClock {
 public:
  explicit TManualClock(TDateTime start = {2024, 3, 5, 10, 0, 0, 0});
  std::chrono::steady_clock::time_point SteadyNow() override;
  TDateTime LocalNow() override;
  void Sleep(std::chrono::milliseconds duration) override;
  void Advance(std::chrono::milliseconds duration);
  void SetLocal(TDateTime now);
  // Total time spent in Sleep since construction.
  std::chrono::milliseconds Slept() const;

 private:
  mutable std::mutex FLock;
  std::chrono::steady_clock::time_point FSteady;
  std::time_t FWall;
  int FWallMs;
  std::chrono::milliseconds FSlept{0};
};

// The process-wide clock. SetClock(nullptr) restores the system clock; the
// caller keeps ownership of what it installs.
TClock& Clock();
void SetClock(TClock* clock);

// Installs a clock for the lifetime of a scope (tests).
class TScopedClock {
 public:
  explicit TScopedClock(TClock& clock) { SetClock(&clock); }
  ~TScopedClock() { SetClock(nullptr); }
  TScopedClock(const TScopedClock&) = delete;
  TScopedClock& operator=(const TScopedClock&) = delete;
};
