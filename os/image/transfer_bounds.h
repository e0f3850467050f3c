// The bounds every HTTP transfer of an image keeps, as image.conf sets them ("transfer_*"
// keys). A server decides how much it sends and how slowly; these decide how much of that
// is taken. Each bound is off when set to 0.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace os {

struct TransferBounds {
  // Bytes one transfer may write (after decoding): 16 GiB.
  std::uint64_t max_bytes = std::uint64_t{16} << 30;
  // A decoded body may outgrow the bytes received by this factor, past a first 16 MiB.
  std::uint32_t max_ratio = 100;
  // Bytes per second the server must keep up, judged over each rate window spent waiting
  // for it (headers included, so headers that drip end the transfer too).
  std::uint32_t min_rate = 64;
  std::uint32_t rate_window_ms = 60000;
  // One exchange (a request, its answer and its body) ends within this: 24 hours.
  std::uint32_t timeout_ms = 86400000;
};

// Reads `value` into the bound that `key` names. False when `key` is none of the transfer
// keys; throws std::invalid_argument for a value that is not a decimal number in range.
bool ParseTransferSetting(const std::string& key, const std::string& value, TransferBounds* bounds);

// Writes every transfer key as an image.conf line.
void WriteTransferSettings(std::ostream& out, const TransferBounds& bounds);

}  // namespace os
