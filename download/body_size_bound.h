// How much one body may put into its file: the image's transfer bounds on the bytes written
// (max_bytes) and, for a decoded body, on its growth over the bytes received (max_ratio,
// past a first kRatioAllowance, so that small bodies that compress well always pass).
#pragma once

#include <cstdint>
#include <string>

#include "os/image/transfer_bounds.h"

namespace pelisto {

class BodySizeBound {
 public:
  static constexpr std::uint64_t kRatioAllowance = std::uint64_t{16} << 20;

  explicit BodySizeBound(const os::TransferBounds& bounds) : bounds_(bounds) {}

  // True while `written` bytes made from `received` bytes are within the bounds; otherwise
  // false with Reason() saying which bound was passed.
  bool Allows(std::uint64_t received, std::uint64_t written, bool decoded);
  const std::string& Reason() const { return reason_; }

 private:
  os::TransferBounds bounds_;
  std::string reason_;
};

}  // namespace pelisto
