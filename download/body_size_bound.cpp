#include "download/body_size_bound.h"

namespace pelisto {

bool BodySizeBound::Allows(std::uint64_t received, std::uint64_t written, bool decoded) {
  if (bounds_.max_bytes != 0 && written > bounds_.max_bytes) {
    reason_ = "the body passed " + std::to_string(bounds_.max_bytes) + " bytes (transfer_max_bytes)";
    return false;
  }
  if (decoded && bounds_.max_ratio != 0 && written > kRatioAllowance &&
      (written - kRatioAllowance) / bounds_.max_ratio > received) {
    reason_ = "the decoded body grew past " + std::to_string(written) + " bytes from " + std::to_string(received) +
              " bytes received (transfer_max_ratio " + std::to_string(bounds_.max_ratio) + ")";
    return false;
  }
  return true;
}

}  // namespace pelisto
