#include <gtest/gtest.h>

#include <string>

#include "download/content_hash.h"
#include "tests/support/image_test.h"

namespace pelisto {
namespace {

TEST(ContentEntryHash, TextIsSixtyFourHexDigitsOfEitherCase) {
  EXPECT_TRUE(IsSha256Text(std::string(64, 'a')));
  EXPECT_TRUE(IsSha256Text("BA7816BF8F01CFEA414140DE5DAE2223b00361a396177a9cb410ff61f20015ad"));
  for (const std::string& bad : {std::string(), std::string(63, 'a'), std::string(65, 'a'),
                                 std::string(63, 'a') + "g", " " + std::string(63, 'a'), std::string(64, ' ')}) {
    EXPECT_FALSE(IsSha256Text(bad)) << bad;
  }
}

class ContentEntryFileHash : public testing::ImageTest {};

TEST_F(ContentEntryFileHash, IsTheDigestOfTheWholeFile) {
  PutFile("C:\\d\\abc", "abc");
  PutFile("C:\\d\\empty", "");
  PutFile("C:\\d\\big", std::string(200000, 'x') + "end");
  std::string digest = "untouched";
  ASSERT_TRUE(FileSha256("C:\\d\\abc", &digest));
  EXPECT_EQ(digest, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  ASSERT_TRUE(FileSha256("C:\\d\\empty", &digest));
  EXPECT_EQ(digest, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  ASSERT_TRUE(FileSha256("C:\\d\\big", &digest));
  EXPECT_EQ(digest.size(), 64u);
  digest = "untouched";
  EXPECT_FALSE(FileSha256("C:\\d\\missing", &digest));
  EXPECT_FALSE(FileSha256("C:\\d", &digest));
  EXPECT_EQ(digest, "untouched");
}

}  // namespace
}  // namespace pelisto
