#include "download/download_progress.h"

#include <cstdio>

#include "resources/resource_ids.h"
#include "resources/resources.h"

namespace pelisto {
namespace {

std::string Printf(const char* format, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, value);
  return buf;
}

constexpr os::DWORD kRateIntervalMs = 1000;

}  // namespace

std::string DownloadSizeText(std::int64_t bytes) {
  if (bytes < 1024) return FormatResourceString(res::kIdsBytes, {std::to_string(bytes)});
  if (bytes < 1048576) {
    return FormatResourceString(res::kIdsKilobytes, {Printf("%0.1f", static_cast<double>(bytes) / 1024.0)});
  }
  return FormatResourceString(res::kIdsMegabytes, {Printf("%0.2f", static_cast<double>(bytes) / 1048576.0)});
}

std::string DownloadTimeText(std::int64_t seconds) {
  if (seconds < 60) return FormatResourceString(res::kIdsSeconds, {std::to_string(seconds)});
  const std::string minutes = std::to_string(seconds / 60);
  const std::int64_t rest = seconds % 60;
  if (rest == 0) return FormatResourceString(res::kIdsMinutes, {minutes});
  return FormatResourceString(res::kIdsMinutesSeconds, {minutes, std::to_string(rest)});
}

std::string DownloadRateText(double rate) {
  if (rate < 1.0) return FormatResourceString(res::kIdsBytesPerSecond, {Printf("%0.0f", rate * 1024.0)});
  return FormatResourceString(res::kIdsKilobytesPerSecond, {Printf(rate < 10.0 ? "%0.2f" : "%0.0f", rate)});
}

std::int64_t ProgressUpperBound(std::int64_t length) { return (length + 512) / 1024; }

DownloadProgress::DownloadProgress(std::string file_name, std::int64_t length, os::DWORD start_tick)
    : file_name_(std::move(file_name)), length_(length), start_tick_(start_tick), rate_tick_(start_tick) {}

ProgressChange DownloadProgress::Update(std::int64_t received, os::DWORD now) {
  ProgressChange change;
  // A length of 0 has no body to count against.
  const bool known = length_ > 0;
  if (known) {
    const int percent = static_cast<int>(received * 100 / length_);
    if (percent != last_percent_) {
      change.percent_changed = true;
      change.caption = FormatResourceString(res::kIdsPercentCompleted, {std::to_string(percent), file_name_});
      change.position = static_cast<int>(received / 1024);
      last_percent_ = percent;
    }
  }
  // Tick counts wrap after 49 days; the unsigned difference stays right across the wrap.
  const os::DWORD elapsed = now - rate_tick_;
  if (elapsed <= kRateIntervalMs) return change;
  const double rate = static_cast<double>(received - rate_bytes_) / static_cast<double>(elapsed);
  change.rate_changed = true;
  change.rate = DownloadRateText(rate);
  rate_tick_ = now;
  rate_bytes_ = received;
  if (known && received != 0) {
    const double per_byte = static_cast<double>(now - start_tick_) / static_cast<double>(received);
    std::int64_t left = static_cast<std::int64_t>(static_cast<double>(length_ - received) * per_byte / 1000.0);
    if (left < 0) left = 0;  // a server that sends more than it announced
    change.time_changed = true;
    change.time_left = FormatResourceString(
        res::kIdsTimeCopied,
        {DownloadTimeText(left),
         FormatResourceString(res::kIdsSizeOfTotal, {DownloadSizeText(received), DownloadSizeText(length_)})});
  }
  return change;
}

}  // namespace pelisto
