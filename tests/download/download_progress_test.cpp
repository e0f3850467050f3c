#include "download/download_progress.h"

#include <gtest/gtest.h>

#include "os/base/text.h"
#include "resources/resources.h"
#include "tests/support/image_test.h"

namespace pelisto::testing {
namespace {

class DownloadDialogProgress : public ImageTest {
 protected:
  void SetUp() override {
    ImageTest::SetUp();
    SetLanguage("ENG");
  }
};

TEST_F(DownloadDialogProgress, SizesTimesAndRatesAreWordedByTheirThresholds) {
  EXPECT_EQ(DownloadSizeText(1023), "1023 Bytes");
  EXPECT_EQ(DownloadSizeText(1536), "1.5 KB");
  EXPECT_EQ(DownloadSizeText(1048575), "1024.0 KB");
  EXPECT_EQ(DownloadSizeText(3355443), "3.20 MB");
  EXPECT_EQ(DownloadTimeText(59), "59 sec");
  EXPECT_EQ(DownloadTimeText(60), "1 min");
  EXPECT_EQ(DownloadTimeText(61), "1 min 1 sec");
  EXPECT_EQ(DownloadTimeText(90), "1 min 30 sec");
  EXPECT_EQ(DownloadRateText(10.0), "10 KB/Sec");
  EXPECT_EQ(DownloadRateText(0.5), "512 Bytes/Sec");
  EXPECT_EQ(DownloadRateText(1.0), "1.00 KB/Sec");
  EXPECT_EQ(DownloadRateText(9.999), "10.00 KB/Sec");
  EXPECT_EQ(ProgressUpperBound(2047), 2);
  EXPECT_EQ(ProgressUpperBound(1535), 1);
  EXPECT_EQ(ProgressUpperBound(1536), 2);
}

TEST_F(DownloadDialogProgress, TheKoreanTableWordsTheSameNumbers) {
  SetLanguage("KOR");
  EXPECT_EQ(DownloadTimeText(61), os::Utf8ToAnsi("1분 1초"));
  EXPECT_EQ(DownloadSizeText(1536), "1.5KB");
}

TEST_F(DownloadDialogProgress, CaptionAndBarChangeOnlyWithTheWholePercent) {
  DownloadProgress progress("setup.zip", 2047, 1000);
  ProgressChange first = progress.Update(1024, 1010);
  EXPECT_TRUE(first.percent_changed);
  EXPECT_EQ(first.caption, "50% of setup.zip Completed");
  EXPECT_EQ(first.position, 1);
  EXPECT_FALSE(first.rate_changed) << "not a second yet";
  ProgressChange last = progress.Update(2047, 1020);
  EXPECT_EQ(last.caption, "100% of setup.zip Completed");
  EXPECT_EQ(last.position, 1) << "2,047 bytes end at position 1 of a range of 2";

  DownloadProgress slow("big.bin", 1000000, 0);
  EXPECT_TRUE(slow.Update(1024, 5).percent_changed);  // 0 %: the first caption
  EXPECT_FALSE(slow.Update(2048, 6).percent_changed) << "still 0 %";
  EXPECT_TRUE(slow.Update(10000, 7).percent_changed);
}

TEST_F(DownloadDialogProgress, RateAndTimeLeftAtMostOnceASecond) {
  DownloadProgress progress("f", 100000, 0);
  EXPECT_FALSE(progress.Update(5000, 1000).rate_changed) << "1000 ms is not more than a second";
  ProgressChange change = progress.Update(10240, 1024);
  ASSERT_TRUE(change.rate_changed);
  EXPECT_EQ(change.rate, "10 KB/Sec");
  // 89,760 bytes left at 1024 ms per 10,240 bytes: 8.976 s, shown as whole seconds.
  EXPECT_EQ(change.time_left, "8 sec (10.0 KB of 97.7 KB copied)");
  EXPECT_FALSE(progress.Update(20000, 2000).rate_changed);
  change = progress.Update(17240, 2049);  // 7,000 bytes in 1025 ms
  EXPECT_EQ(change.rate, "6.83 KB/Sec");
}

TEST_F(DownloadDialogProgress, SixtyAndSixtyOneSecondsLeft) {
  // 1001 bytes in 1001 ms: one millisecond a byte.
  DownloadProgress at60("f", 1001 + 60000, 0);
  EXPECT_EQ(at60.Update(1001, 1001).time_left, "1 min (1001 Bytes of 59.6 KB copied)");
  DownloadProgress at61("f", 1001 + 61000, 0);
  EXPECT_EQ(at61.Update(1001, 1001).time_left, "1 min 1 sec (1001 Bytes of 60.5 KB copied)");
}

TEST_F(DownloadDialogProgress, WithoutALengthOnlyTheRateIsShown) {
  DownloadProgress progress("f", -1, 0);
  ProgressChange change = progress.Update(512, 2000);
  EXPECT_FALSE(change.percent_changed);
  EXPECT_FALSE(change.time_changed);
  ASSERT_TRUE(change.rate_changed);
  EXPECT_EQ(change.rate, "262 Bytes/Sec");
  DownloadProgress empty("f", 0, 0);
  EXPECT_FALSE(empty.Update(10, 5000).percent_changed) << "a zero length divides nothing";
}

}  // namespace
}  // namespace pelisto::testing
