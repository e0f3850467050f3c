// The time conversions and clocks of the file calls (os/fs/file_api.h): FILETIME, SYSTEMTIME,
// DOS dates, local time from the host's time zone.
#include <time.h>

#include <cstdint>

#include "os/base/error.h"
#include "os/fs/file_api.h"
#include "os/fs/file_time.h"

namespace os {
namespace {

constexpr std::int64_t kUnixEpochInFileTime = 116444736000000000LL;

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

void FillSystemTime(const struct tm& tm, long ms, SYSTEMTIME* s) {
  s->wYear = static_cast<WORD>(tm.tm_year + 1900);
  s->wMonth = static_cast<WORD>(tm.tm_mon + 1);
  s->wDayOfWeek = static_cast<WORD>(tm.tm_wday);
  s->wDay = static_cast<WORD>(tm.tm_mday);
  s->wHour = static_cast<WORD>(tm.tm_hour);
  s->wMinute = static_cast<WORD>(tm.tm_min);
  s->wSecond = static_cast<WORD>(tm.tm_sec);
  s->wMilliseconds = static_cast<WORD>(ms);
}

}  // namespace

FILETIME ToFileTime(const struct timespec& ts) {
  std::int64_t v = kUnixEpochInFileTime + static_cast<std::int64_t>(ts.tv_sec) * 10000000LL +
                   ts.tv_nsec / 100;
  return FILETIME{static_cast<DWORD>(v & 0xFFFFFFFF), static_cast<DWORD>(v >> 32)};
}

struct timespec ToTimespec(const FILETIME& ft) {
  std::int64_t v = (static_cast<std::int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  v -= kUnixEpochInFileTime;
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(v / 10000000LL);
  ts.tv_nsec = static_cast<long>((v % 10000000LL) * 100);
  if (ts.tv_nsec < 0) {
    ts.tv_nsec += 1000000000L;
    ts.tv_sec -= 1;
  }
  return ts;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME& s, FILETIME* ft) {
  if (s.wMonth < 1 || s.wMonth > 12 || s.wDay < 1 || s.wDay > 31 || s.wHour > 23 ||
      s.wMinute > 59 || s.wSecond > 59 || s.wMilliseconds > 999 || s.wYear < 1601) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  struct tm tm {};
  tm.tm_year = s.wYear - 1900;
  tm.tm_mon = s.wMonth - 1;
  tm.tm_mday = s.wDay;
  tm.tm_hour = s.wHour;
  tm.tm_min = s.wMinute;
  tm.tm_sec = s.wSecond;
  struct timespec ts;
  ts.tv_sec = timegm(&tm);
  ts.tv_nsec = static_cast<long>(s.wMilliseconds) * 1000000L;
  *ft = ToFileTime(ts);
  return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME& ft, SYSTEMTIME* s) {
  struct timespec ts = ToTimespec(ft);
  struct tm tm {};
  if (gmtime_r(&ts.tv_sec, &tm) == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  FillSystemTime(tm, ts.tv_nsec / 1000000L, s);
  return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME& local, FILETIME* utc) {
  // The local time's offset from UTC at that moment, as the host's time zone gives it.
  struct timespec ts = ToTimespec(local);
  struct tm tm {};
  gmtime_r(&ts.tv_sec, &tm);
  tm.tm_isdst = -1;
  time_t as_local = mktime(&tm);
  ts.tv_sec = as_local;
  *utc = ToFileTime(ts);
  return TRUE;
}

BOOL DosDateTimeToFileTime(WORD fat_date, WORD fat_time, FILETIME* ft) {
  SYSTEMTIME s;
  s.wYear = static_cast<WORD>(1980 + (fat_date >> 9));
  s.wMonth = static_cast<WORD>((fat_date >> 5) & 0x0F);
  s.wDay = static_cast<WORD>(fat_date & 0x1F);
  s.wHour = static_cast<WORD>(fat_time >> 11);
  s.wMinute = static_cast<WORD>((fat_time >> 5) & 0x3F);
  s.wSecond = static_cast<WORD>((fat_time & 0x1F) * 2);
  return SystemTimeToFileTime(s, ft);
}

void GetLocalTime(SYSTEMTIME* s) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm {};
  localtime_r(&ts.tv_sec, &tm);
  FillSystemTime(tm, ts.tv_nsec / 1000000L, s);
}

void GetSystemTime(SYSTEMTIME* s) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm {};
  gmtime_r(&ts.tv_sec, &tm);
  FillSystemTime(tm, ts.tv_nsec / 1000000L, s);
}

DWORD GetTickCount() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<DWORD>(static_cast<std::uint64_t>(ts.tv_sec) * 1000u + ts.tv_nsec / 1000000L);
}

}  // namespace os
