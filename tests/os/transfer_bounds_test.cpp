// The transfer bounds as image.conf holds them: written with the image, read back, and a
// value that is no number in range refuses the whole image, as any other bad setting does.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "os/image/machine.h"
#include "tests/support/image_test.h"

namespace pelisto::testing {
namespace {

class TransferBoundsSettings : public ImageTest {
 protected:
  // Opens the image again after `line` was added to its image.conf.
  std::unique_ptr<os::Machine> ReopenWith(const std::string& line, std::string* error) {
    std::ofstream(prefix() + "/image.conf", std::ios::app) << line << "\n";
    return os::Machine::Open(prefix(), error);
  }
};

TEST_F(TransferBoundsSettings, DefaultsLetARealSlowLinkThrough) {
  const os::TransferBounds& b = machine().settings().transfer;
  EXPECT_EQ(b.max_bytes, std::uint64_t{16} << 30);
  EXPECT_EQ(b.max_ratio, 100u);
  EXPECT_LE(b.min_rate, 64u) << "a 1 kbit/s link passes";
  EXPECT_GE(b.rate_window_ms, 30000u) << "longer than the idle timeout, so a pause is not judged twice";
  EXPECT_GE(b.timeout_ms, 3600000u);
}

TEST_F(TransferBoundsSettings, SavedWithTheImageAndReadBack) {
  os::ImageSettings s = machine().settings();
  s.transfer = {17179869185u, 0, 10, 5000, 1};
  Reconfigure(s);
  const os::TransferBounds& b = machine().settings().transfer;
  EXPECT_EQ(b.max_bytes, 17179869185u);
  EXPECT_EQ(b.max_ratio, 0u);
  EXPECT_EQ(b.min_rate, 10u);
  EXPECT_EQ(b.rate_window_ms, 5000u);
  EXPECT_EQ(b.timeout_ms, 1u);
}

class TransferBoundsBadValue : public TransferBoundsSettings, public ::testing::WithParamInterface<const char*> {};

INSTANTIATE_TEST_SUITE_P(Values, TransferBoundsBadValue,
                         ::testing::Values("transfer_min_rate=-1", "transfer_min_rate=", "transfer_max_ratio=12x",
                                           "transfer_rate_window_ms=0x10", "transfer_timeout_ms=4294967296",
                                           "transfer_max_bytes=18446744073709551616"));

TEST_P(TransferBoundsBadValue, RefusesTheImage) {
  std::string error;
  EXPECT_EQ(ReopenWith(GetParam(), &error), nullptr) << GetParam();
  const std::string key = std::string(GetParam()).substr(0, std::string(GetParam()).find('='));
  EXPECT_NE(error.find("bad value for " + key), std::string::npos) << error;
}

}  // namespace
}  // namespace pelisto::testing
