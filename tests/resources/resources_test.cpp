#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>

#include "os/base/text.h"
#include "os/module/module.h"
#include "os/sysinfo/version.h"
#include "resources/resource_ids.h"
#include "resources/resources.h"
#include "tests/support/image_test.h"

namespace {
using pelisto::testing::ImageTest;

constexpr int kTemplates[] = {124, 202, 203, 204, 205};
constexpr unsigned kStrings[] = {102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113, 114, 115,
                                 116, 117, 118, 119, 120, 121, 123, 125, 127, 128, 129, 130, 131, 132};

class ResourcesTemplates : public ImageTest, public ::testing::WithParamInterface<int> {};

TEST_P(ResourcesTemplates, BothLanguagesShareCaptionClassAndLayout) {
  os::DialogTemplate en, ko;
  ASSERT_TRUE(pelisto::LoadDialogTemplate(GetParam(), &en, os::kLangEnglish));
  ASSERT_TRUE(pelisto::LoadDialogTemplate(GetParam(), &ko, os::kLangKorean));
  EXPECT_EQ(en.title, ko.title);
  EXPECT_EQ(en.class_name, ko.class_name);
  EXPECT_EQ(en.cx, ko.cx);
  EXPECT_EQ(en.cy, ko.cy);
  EXPECT_EQ(en.font_size, ko.font_size);
  EXPECT_NE(en.font, ko.font);
  ASSERT_EQ(en.controls.size(), ko.controls.size());
  for (size_t i = 0; i < en.controls.size(); ++i) {
    const os::ControlTemplate &a = en.controls[i], &b = ko.controls[i];
    EXPECT_EQ(a.id, b.id) << i;
    EXPECT_EQ(a.kind, b.kind) << a.id;
    EXPECT_EQ(std::tie(a.x, a.y, a.cx, a.cy, a.visible), std::tie(b.x, b.y, b.cx, b.cy, b.visible)) << a.id;
    EXPECT_EQ(a.text.empty(), b.text.empty()) << a.id;
  }
}

INSTANTIATE_TEST_SUITE_P(Ids, ResourcesTemplates, ::testing::ValuesIn(kTemplates));

class ResourcesStrings : public ImageTest, public ::testing::WithParamInterface<unsigned> {};

// Catches a translation that drops or invents a placeholder.
TEST_P(ResourcesStrings, KoreanKeepsThePlaceholdersOfEnglish) {
  std::string en, ko;
  ASSERT_TRUE(pelisto::LoadResourceString(GetParam(), &en, os::kLangEnglish));
  ASSERT_TRUE(pelisto::LoadResourceString(GetParam(), &ko, os::kLangKorean));
  EXPECT_FALSE(ko.empty());
  EXPECT_NE(en, ko);
  auto placeholders = [](const std::string& s) {
    std::multiset<std::string> found;
    std::regex re("%[0-9s]");
    for (std::sregex_iterator it(s.begin(), s.end(), re), end; it != end; ++it) found.insert(it->str());
    return found;
  };
  EXPECT_EQ(placeholders(en), placeholders(ko)) << en << " / " << os::AnsiToUtf8(ko);
}

INSTANTIATE_TEST_SUITE_P(Ids, ResourcesStrings, ::testing::ValuesIn(kStrings));

class ResourcesTest : public ImageTest {};

TEST_F(ResourcesTest, EnglishTextsAreTheSystemsOwn) {
  std::string s;
  ASSERT_TRUE(pelisto::LoadResourceString(130, &s, os::kLangEnglish));
  EXPECT_EQ(s, "The file '%1' already exists.\nDo you want to replace it?");
  ASSERT_TRUE(pelisto::LoadResourceString(131, &s, os::kLangEnglish));
  EXPECT_EQ(s, "An error occured while opening the file to be downloaded, Error:%1");
  EXPECT_FALSE(pelisto::LoadResourceString(122, &s, os::kLangEnglish));
  EXPECT_EQ(s, "");
  os::DialogTemplate t;
  ASSERT_TRUE(pelisto::LoadDialogTemplate(pelisto::res::kUnGzipDialog, &t, os::kLangEnglish));
  EXPECT_EQ(t.title, "Pelisto UnGZip; ");
  EXPECT_FALSE(pelisto::LoadDialogTemplate(206, &t, os::kLangEnglish));
  EXPECT_EQ(t.title, "Pelisto UnGZip; ");
}

TEST_F(ResourcesTest, FileInUseTemplateCarriesTheGivenKoreanTexts) {
  os::DialogTemplate t;
  ASSERT_TRUE(pelisto::LoadDialogTemplate(pelisto::res::kFileInUseDialog, &t, os::kLangKorean));
  std::vector<std::string> texts;
  for (const os::ControlTemplate& c : t.controls) texts.push_back(c.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"파일이 사용 중 입니다.", "익스플로러를 모두 종료 후 재시도 버튼을 누르십시오.", "",
                                             "생략(&k)", "재시도(&r)", "중지(&s)"}));
  EXPECT_EQ(t.controls[4].kind, os::ControlKind::kDefaultButton);
}

TEST_F(ResourcesTest, TextsComeInTheImageCodePage) {
  os::ImageSettings s = machine().settings();
  s.code_page = os::CP_KOREAN;
  Reconfigure(s);
  os::DialogTemplate t;
  ASSERT_TRUE(pelisto::LoadDialogTemplate(pelisto::res::kStatusDialog, &t, os::kLangKorean));
  EXPECT_EQ(t.controls[0].text, os::Utf8ToAnsi("상태:"));
  EXPECT_EQ(t.controls[0].text, "\xBB\xF3\xC5\xC2:");  // EUC-KR bytes
  EXPECT_EQ(t.font, "\xB1\xBC\xB8\xB2");
  EXPECT_EQ(t.class_name, "StartDownload");
  std::string str;
  ASSERT_TRUE(pelisto::LoadResourceString(118, &str, os::kLangKorean));
  EXPECT_EQ(os::AnsiToUtf8(str), "%1초");
}

TEST_F(ResourcesTest, FormattingReplacesNumberedPlaceholdersInTheirOwnOrder) {
  EXPECT_EQ(pelisto::FormatResourceString(115, {"33", "setup.zip"}, os::kLangEnglish), "33% of setup.zip Completed");
  EXPECT_EQ(pelisto::FormatResourceString(102, {"a.zip", "host"}, os::kLangKorean), "host에서 a.zip");
  EXPECT_EQ(pelisto::FormatResourceString(127, {"1 min 30 sec", "1.5 KB of 3.20 MB"}, os::kLangEnglish),
            "1 min 30 sec (1.5 KB of 3.20 MB copied)");
  EXPECT_EQ(pelisto::FormatPlaceholders("%2 %3 100%", {"a", "b"}), "b %3 100%");
}

struct LanguageCase {
  const char* text;
  int os_major;
  os::LANGID expected;  // 0: unchanged
};

void PrintTo(const LanguageCase& c, std::ostream* out) { *out << c.text << "_v" << c.os_major; }

class ResourcesLanguage : public ImageTest, public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(ResourcesLanguage, SelectsTheThreadsResourceSet) {
  if (GetParam().os_major != 6) SetOsMajor(GetParam().os_major);
  os::SetThreadUILanguage(os::kLangKorean);
  EXPECT_EQ(pelisto::SetLanguage(GetParam().text), GetParam().expected != 0);
  os::LANGID now = GetParam().expected ? GetParam().expected : os::kLangKorean;
  EXPECT_EQ(os::GetThreadUILanguage(), now);
  std::string s;
  pelisto::LoadResourceString(118, &s);
  EXPECT_EQ(s, now == os::kLangEnglish ? "%1 sec" : "%1초");
}

TEST_F(ResourcesTest, WithoutKernel32TheLanguageCannotBeSetOnWindows6) {
  os::EnsureSystemModules(machine());
  ASSERT_TRUE(HostExists("C:\\Windows\\system32\\kernel32.dll"));
  std::filesystem::remove(Host("C:\\Windows\\system32\\kernel32.dll"));
  os::SetThreadUILanguage(os::kLangKorean);
  EXPECT_FALSE(pelisto::SetLanguage("ENG"));
  EXPECT_EQ(os::GetThreadUILanguage(), os::kLangKorean);
  SetOsMajor(5);  // the older call needs no library
  EXPECT_TRUE(pelisto::SetLanguage("ENG"));
  EXPECT_EQ(os::GetThreadUILanguage(), os::kLangEnglish);
}

INSTANTIATE_TEST_SUITE_P(Texts, ResourcesLanguage,
                         ::testing::Values(LanguageCase{"eng", 6, os::kLangEnglish},
                                           LanguageCase{"Eng", 6, os::kLangEnglish},
                                           LanguageCase{"ENG", 5, os::kLangEnglish},
                                           LanguageCase{"ENG", 10, os::kLangEnglish},
                                           LanguageCase{"kor", 6, os::kLangKorean},
                                           LanguageCase{"EN", 6, 0}, LanguageCase{"JPN", 6, 0},
                                           LanguageCase{"", 6, 0}));

}  // namespace
