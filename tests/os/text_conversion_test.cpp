// Conversions between the image's code page and wide text, on texts long enough to fill the
// converter's buffer several times over, with and without a leading ASCII run.
#include <gtest/gtest.h>

#include <string>

#include "os/base/text.h"
#include "tests/support/image_test.h"

namespace pelisto {
namespace {

struct CodePageCase {
  const char* name;
  os::UINT code_page;
  std::string hangul;  // U+D55C in the page
};

class TextConversion : public testing::ImageTest,
                       public ::testing::WithParamInterface<CodePageCase> {};

// `blocks` times: an ASCII run, then one Hangul syllable, so that the converter's output
// buffer ends at every offset in turn.
std::string Mixed(const std::string& hangul, int blocks, std::u16string* wide) {
  std::string text;
  for (int i = 0; i < blocks; ++i) {
    const std::string ascii = "<content name=\"f" + std::to_string(i) + "\" ver=\"1.0\"/>";
    text += ascii + hangul;
    for (char c : ascii) wide->push_back(static_cast<char16_t>(c));
    wide->push_back(u'\uD55C');
  }
  return text;
}

TEST_P(TextConversion, LongTextsRoundTripUnitForUnit) {
  const CodePageCase& c = GetParam();
  std::u16string expected_wide;
  // Plain ASCII first (300 KB), then a mixed tail: both halves longer than one buffer.
  std::string text(300000, 'x');
  text[4095] = '"';
  expected_wide.assign(text.begin(), text.end());
  text += Mixed(c.hangul, 3000, &expected_wide);

  std::u16string wide;
  ASSERT_TRUE(os::MultiByteToWide(text, &wide, c.code_page));
  EXPECT_EQ(wide, expected_wide);
  std::string back;
  ASSERT_TRUE(os::WideToMultiByte(wide, &back, c.code_page));
  EXPECT_EQ(back, text);
}

TEST_P(TextConversion, TextThatStartsBeyondAsciiConvertsWhole) {
  const CodePageCase& c = GetParam();
  std::u16string expected_wide(1, u'\uD55C');
  const std::string text = c.hangul + Mixed(c.hangul, 500, &expected_wide);
  std::u16string wide;
  ASSERT_TRUE(os::MultiByteToWide(text, &wide, c.code_page));
  EXPECT_EQ(wide, expected_wide);
}

TEST_P(TextConversion, AnInvalidByteAfterAsciiFailsTheStrictConversion) {
  const CodePageCase& c = GetParam();
  const std::string text = std::string(5000, 'a') + "\xFF" + "b";
  std::u16string wide = u"untouched";
  EXPECT_FALSE(os::MultiByteToWide(text, &wide, c.code_page));
  EXPECT_EQ(wide, u"untouched");
}

using LossyTextConversion = testing::ImageTest;

// The image's page is UTF-8: one '?' per undecodable byte (or lone surrogate), the rest kept.
TEST_F(LossyTextConversion, OnlyTheBadBytesBecomeQuestionMarks) {
  const std::string text = std::string(5000, 'a') + "\xFF\xFE" + std::string(5000, 'b');
  const std::u16string wide = os::AnsiToWide(text);
  EXPECT_EQ(wide, std::u16string(5000, u'a') + u"??" + std::u16string(5000, u'b'));
  const std::u16string lone = std::u16string(5000, u'c') + u'\xD800' + u"d";
  EXPECT_EQ(os::WideToAnsi(lone), std::string(5000, 'c') + "?d");
}

INSTANTIATE_TEST_SUITE_P(Pages, TextConversion,
                         ::testing::Values(CodePageCase{"Utf8", os::CP_UTF8, "\xED\x95\x9C"},
                                           CodePageCase{"Cp949", os::CP_KOREAN, "\xC7\xD1"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pelisto
