// What the download dialog shows of a running transfer: the percent caption and the bar's
// position (only when the whole percent changes), the transfer rate and the time left with
// the amount copied (at most once a second), worded from the string table in the calling
// thread's UI language.
//
// Pure: the caller passes the tick counts, so the arithmetic can be checked without a clock.
// One object per transfer, used on one thread (the dialog's worker).
#pragma once

#include <cstdint>
#include <string>

#include "os/base/types.h"

namespace pelisto {

// "%1 Bytes" below 1024 bytes, "%1 KB" (one decimal) below 1 MB, else "%1 MB" (two decimals).
std::string DownloadSizeText(std::int64_t bytes);
// "%1 sec" below a minute, else "%1 min" or "%1 min %2 sec".
std::string DownloadTimeText(std::int64_t seconds);
// A rate in bytes per millisecond, which is KB per second: below 1 as "%1 Bytes/Sec" (the
// rate x 1024, no decimals), below 10 as "%1 KB/Sec" with two decimals, else without.
std::string DownloadRateText(double rate);
// The bar's upper bound for a body of `length` bytes: whole KB, rounded to nearest.
std::int64_t ProgressUpperBound(std::int64_t length);

// The lines to change after one chunk; a flag is false when its line stays as it is.
struct ProgressChange {
  bool percent_changed = false;
  std::string caption;  // "45% of setup.zip Completed"
  int position = 0;     // the bar: KB received
  bool rate_changed = false;
  std::string rate;     // line 1005
  bool time_changed = false;
  std::string time_left;  // line 1004: "1 min 30 sec (1.5 KB of 3.20 MB copied)"
};

class DownloadProgress {
 public:
  // `length` -1 when the server gave none: no percent, no bar and no time left, only the rate.
  DownloadProgress(std::string file_name, std::int64_t length, os::DWORD start_tick);

  // After each chunk: `received` bytes so far, `now` the tick count.
  ProgressChange Update(std::int64_t received, os::DWORD now);

 private:
  std::string file_name_;
  std::int64_t length_;
  os::DWORD start_tick_;
  os::DWORD rate_tick_;          // the time of the last rate update
  std::int64_t rate_bytes_ = 0;  // and the bytes received then
  int last_percent_ = -1;
};

}  // namespace pelisto
