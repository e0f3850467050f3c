#include "os/image/transfer_bounds.h"

#include <charconv>
#include <limits>
#include <stdexcept>

namespace os {
namespace {

template <typename T>
T Number(const std::string& value) {
  T out = 0;
  auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), out);
  if (value.empty() || ec != std::errc() || end != value.data() + value.size()) {
    throw std::invalid_argument("not a number in range");
  }
  return out;
}

}  // namespace

bool ParseTransferSetting(const std::string& key, const std::string& value, TransferBounds* bounds) {
  if (key == "transfer_max_bytes") {
    bounds->max_bytes = Number<std::uint64_t>(value);
  } else if (key == "transfer_max_ratio") {
    bounds->max_ratio = Number<std::uint32_t>(value);
  } else if (key == "transfer_min_rate") {
    bounds->min_rate = Number<std::uint32_t>(value);
  } else if (key == "transfer_rate_window_ms") {
    bounds->rate_window_ms = Number<std::uint32_t>(value);
  } else if (key == "transfer_timeout_ms") {
    bounds->timeout_ms = Number<std::uint32_t>(value);
  } else {
    return false;
  }
  return true;
}

void WriteTransferSettings(std::ostream& out, const TransferBounds& bounds) {
  out << "transfer_max_bytes=" << bounds.max_bytes << "\n"
      << "transfer_max_ratio=" << bounds.max_ratio << "\n"
      << "transfer_min_rate=" << bounds.min_rate << "\n"
      << "transfer_rate_window_ms=" << bounds.rate_window_ms << "\n"
      << "transfer_timeout_ms=" << bounds.timeout_ms << "\n";
}

}  // namespace os
