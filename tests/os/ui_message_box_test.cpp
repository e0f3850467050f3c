#include <gtest/gtest.h>

#include <filesystem>

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/ui/headless_front_end.h"
#include "os/ui/headless_script.h"
#include "os/ui/message_box.h"
#include "tests/support/ui_script.h"

namespace {
using pelisto::testing::HeadlessUi;
using pelisto::testing::UiTest;

struct DefaultCase {
  os::UINT type;
  int answer;
};

void PrintTo(const DefaultCase& c, std::ostream* out) { *out << "type 0x" << std::hex << c.type; }

class UiModelMessageBoxDefault : public ::testing::TestWithParam<DefaultCase> {};

TEST_P(UiModelMessageBoxDefault, UnscriptedBoxTakesItsDefaultButton) {
  HeadlessUi ui;
  os::SetLastError(0xDEAD);
  EXPECT_EQ(os::MessageBoxA(nullptr, "text", "caption", GetParam().type), GetParam().answer)
      << std::hex << GetParam().type;
}

INSTANTIATE_TEST_SUITE_P(
    Types, UiModelMessageBoxDefault,
    ::testing::Values(DefaultCase{os::MB_OK, os::IDOK},
                      DefaultCase{os::MB_OKCANCEL | os::MB_ICONEXCLAMATION, os::IDOK},
                      DefaultCase{os::MB_YESNO | os::MB_DEFBUTTON2, os::IDNO},
                      DefaultCase{os::MB_YESNOCANCEL | os::MB_DEFBUTTON3, os::IDCANCEL},
                      DefaultCase{os::MB_RETRYCANCEL | os::MB_DEFBUTTON4, os::IDRETRY},
                      DefaultCase{os::MB_CANCELTRYCONTINUE | os::MB_DEFBUTTON2, os::IDTRYAGAIN},
                      DefaultCase{os::MB_ABORTRETRYIGNORE | os::MB_DEFBUTTON3, os::IDIGNORE}));

TEST(UiModelMessageBox, UnknownButtonSetFailsWithoutAskingAnyone) {
  HeadlessUi ui;
  os::SetLastError(0);
  EXPECT_EQ(os::MessageBoxA(nullptr, "x", "y", 7), 0);
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(ui.Boxes().empty());
}

TEST(UiModelMessageBox, EveryBoxIsRecordedWithTextCaptionAndFlags) {
  HeadlessUi ui;
  os::MessageBoxA(nullptr, "Pelisto Log File Create Error!", "", os::MB_OK);
  os::MessageBoxA(nullptr, "Error\n\a\tCode = 80004005\n", "CPelistoCtrl::StartParse",
                  os::MB_OK | os::MB_ICONEXCLAMATION);
  std::vector<os::ui::BoxRecord> boxes = ui.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "Pelisto Log File Create Error!");
  EXPECT_EQ(boxes[0].answer, os::IDOK);
  EXPECT_EQ(boxes[0].rule_line, 0);
  EXPECT_EQ(boxes[1].caption, "CPelistoCtrl::StartParse");
  EXPECT_EQ(boxes[1].text, "Error\n\a\tCode = 80004005\n");
  EXPECT_EQ(boxes[1].type, os::MB_OK | os::MB_ICONEXCLAMATION);
}

TEST(UiModelMessageBox, NoneFrontEndTakesTheDefaultButton) {
  os::ui::SetFrontEnd(nullptr);
  EXPECT_EQ(os::MessageBoxA(nullptr, "q", "c", os::MB_YESNO | os::MB_DEFBUTTON2), os::IDNO);
}

TEST(UiModelMessageBoxScript, RulesMatchByTextCaptionAndCount) {
  HeadlessUi ui(R"(
# the registry-mode confirmation: refuse the second one only
box no if "version" caption "Pelisto/Check" nth 2
box retry if "in use" repeat
box yes
)");
  auto ask = [](const char* text, const char* caption, os::UINT type) {
    return os::MessageBoxA(nullptr, text, caption, type);
  };
  EXPECT_EQ(ask("New [a] version 1 found!", "Pelisto/Check", os::MB_YESNO), os::IDYES);  // line 5
  EXPECT_EQ(ask("New [b] version 2 found!", "Pelisto/Check", os::MB_YESNO), os::IDNO);   // nth 2
  EXPECT_EQ(ask("New [c] version 3 found!", "Pelisto/Check", os::MB_YESNO), os::IDYES);  // no rule left
  EXPECT_EQ(ask("file in use", "x", os::MB_RETRYCANCEL | os::MB_DEFBUTTON2), os::IDRETRY);
  EXPECT_EQ(ask("still in use", "x", os::MB_RETRYCANCEL | os::MB_DEFBUTTON2), os::IDRETRY);
  std::vector<os::ui::BoxRecord> boxes = ui.Boxes();
  ASSERT_EQ(boxes.size(), 5u);
  EXPECT_EQ(boxes[0].rule_line, 5);
  EXPECT_EQ(boxes[1].rule_line, 3);
  EXPECT_EQ(boxes[2].rule_line, 0);
  EXPECT_EQ(boxes[4].rule_line, 4);
}

TEST(UiModelMessageBoxScript, AnswerTheBoxDoesNotOfferGivesTheDefault) {
  HeadlessUi ui("box yes\n");
  EXPECT_EQ(os::MessageBoxA(nullptr, "Stop installation", "", os::MB_OK), os::IDOK);
  EXPECT_EQ(ui.Boxes().at(0).rule_line, 0);
}

struct BadScript {
  const char* text;
  const char* error;
};

void PrintTo(const BadScript& c, std::ostream* out) { *out << '"' << c.text << '"'; }

class UiModelHeadlessScriptErrors : public ::testing::TestWithParam<BadScript> {};

TEST_P(UiModelHeadlessScriptErrors, NameTheLineAndLeaveTheScriptAlone) {
  os::ui::HeadlessScript script;
  script.timeout_ms = 7;
  std::string error;
  EXPECT_FALSE(os::ui::ParseHeadlessScript(GetParam().text, &script, &error)) << GetParam().text;
  EXPECT_EQ(error, GetParam().error);
  EXPECT_EQ(script.timeout_ms, 7u);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, UiModelHeadlessScriptErrors,
    ::testing::Values(BadScript{"box maybe", "line 1: unknown answer 'maybe'"},
                      BadScript{"\n\nbox ok if unquoted", "line 3: expected a quoted text"},
                      BadScript{"press 2 \"File Download\"", "line 1: expected on"},
                      BadScript{"press 2 on \"open", "line 1: unterminated quoted text"},
                      BadScript{"press x on \"t\"", "line 1: expected a button id or esc"},
                      BadScript{"box ok nth 0", "line 1: expected a count from 1"},
                      BadScript{"fail \"t\" twice", "line 1: unknown word 'twice'"},
                      BadScript{"timeout soon", "line 1: expected milliseconds"},
                      BadScript{"press esc on \"t\" percent 1003 101", "line 1: expected a percent from 0 to 100"},
                      BadScript{"box ok if \"a\\q\"", "line 1: unknown escape \\q"},
                      BadScript{"launch", "line 1: unknown directive 'launch'"}));

TEST(UiModelHeadlessScript, ParsesEveryDirective) {
  os::ui::HeadlessScript s;
  std::string error;
  ASSERT_TRUE(os::ui::ParseHeadlessScript(
      "press 221 on \"Install Failed!\" appear 2 repeat  # skip the second prompt\n"
      "press esc on \"File Download\" progress 218 66\n"
      "fail \"File Download\" nth 1\n"
      "timeout 150\n"
      "transcript stderr\n"
      "box 6 if \"a\\\"b\\\\c\\n\"\n",
      &s, &error))
      << error;
  ASSERT_EQ(s.presses.size(), 2u);
  EXPECT_EQ(s.presses[0].button, 221);
  EXPECT_EQ(s.presses[0].title, "Install Failed!");
  EXPECT_EQ(s.presses[0].appear, 2);
  EXPECT_TRUE(s.presses[0].repeat);
  EXPECT_EQ(s.presses[1].button, os::ui::kPressEscape);
  EXPECT_TRUE(s.presses[1].has_progress);
  EXPECT_EQ(s.presses[1].progress_control, 218);
  EXPECT_EQ(s.presses[1].progress_position, 66);
  ASSERT_EQ(s.fails.size(), 1u);
  EXPECT_EQ(s.fails[0].nth, 1);
  EXPECT_EQ(s.timeout_ms, 150u);
  EXPECT_EQ(s.transcript, "-");
  ASSERT_EQ(s.boxes.size(), 1u);
  EXPECT_EQ(s.boxes[0].answer, os::IDYES);
  EXPECT_EQ(s.boxes[0].text, "a\"b\\c\n");
}

class UiModelMessageBoxImage : public UiTest {};

TEST_F(UiModelMessageBoxImage, KoreanScriptTextMatchesBoxesInTheImageCodePage) {
  os::ImageSettings s = machine().settings();
  s.code_page = os::CP_KOREAN;
  Reconfigure(s);
  Script("box cancel if \"옮기지 못했\"\n");  // parsed after the switch: converted to CP949
  std::string text = os::Utf8ToAnsi("파일을 옮기지 못했습니다.");
  ASSERT_NE(text, "파일을 옮기지 못했습니다.");  // really CP949 bytes now
  EXPECT_EQ(os::MessageBoxA(nullptr, text, "", os::MB_OKCANCEL), os::IDCANCEL);
  EXPECT_EQ(ui().Boxes().at(0).text, text);
}

TEST_F(UiModelMessageBoxImage, TranscriptGetsOneUtf8LinePerBox) {
  std::string path = prefix() + "/transcript.txt";
  Script("transcript \"" + path + "\"\nbox no if \"install\"\n");
  os::MessageBoxA(nullptr, "New version found! install?", "Pelisto/Check", os::MB_YESNO | os::MB_ICONEXCLAMATION);
  os::MessageBoxA(nullptr, "two\nlines", "", os::MB_OK);
  EXPECT_EQ(pelisto::testing::ReadHostFile(path),
            "box \"Pelisto/Check\" \"New version found! install?\" 0x34 -> 7 (line 2)\n"
            "box \"\" \"two\\nlines\" 0x0 -> 1\n");
}

}  // namespace
