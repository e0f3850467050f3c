// What the user is asked and told while members are written: the file-in-use prompt for a
// target that cannot be written, and on Windows 6 the boxes of the broker's copy and delete.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/unzipper.h"
#include "os/base/handle.h"
#include "os/base/text.h"
#include "os/com/com_error.h"
#include "os/fs/file_api.h"
#include "tests/archive/zip_builder.h"
#include "tests/archive/zip_test_fixture.h"

namespace {
using pelisto::CUnzipper;
using namespace pelisto::testing;

constexpr char kArchive[] = "C:\\Temp\\pkg\\a.zip";
constexpr char kTarget[] = "C:\\Temp\\pkg\\busy.txt";
constexpr char kPrompt[] = "Install Failed!";

class ZipFileInUse : public ZipTest {
 protected:
  void SetUp() override {
    ZipTest::SetUp();
    Context(5);
    PutFile(kTarget, "in use");
    PutZip(kArchive, BuildZip({{.name = "busy.txt", .data = "new"}, {.name = "next.txt", .data = "next"}}));
  }
  // Extracts the whole archive while `kTarget` is held open without sharing.
  bool ExtractWhileBusy() {
    os::HANDLE held = os::CreateFileA(kTarget, os::GENERIC_READ, 0, nullptr, os::OPEN_EXISTING,
                                      os::FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(held, os::INVALID_HANDLE_VALUE);
    CUnzipper unzipper(context());
    bool ok = unzipper.OpenZip(kArchive) && unzipper.Unzip(unzipper.OutputFolder());
    os::CloseHandle(held);
    return ok;
  }
  int Prompts() { return ui().Count(os::ui::UiEventKind::kDialogReady, kPrompt); }
};

// A target in use is not replaced: the prompt comes up with Skip, and without an answer
// (or with Skip) the member is left out while the archive goes on.
TEST_F(ZipFileInUse, ATargetInUseIsPromptedForAndSkipped) {
  for (const char* script : {"", "press 221 on \"Install Failed!\""}) {
    Script(script);
    EXPECT_TRUE(ExtractWhileBusy()) << script;
    EXPECT_EQ(Prompts(), 1) << script;
    EXPECT_EQ(GetFile(kTarget), "in use");
    EXPECT_EQ(GetFile("C:\\Temp\\pkg\\next.txt"), "next");
    const auto texts = ui().TextsOf(kPrompt, 216);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), kTarget);
  }
  // The press was taken: Skip is there to be pressed.
  bool pressed = false;
  for (const auto& e : ui().Events()) {
    if (e.kind == os::ui::UiEventKind::kButtonPressed && e.control_id == 221) pressed = e.value == 1;
  }
  EXPECT_TRUE(pressed);
}

TEST_F(ZipFileInUse, RetryTriesAgain) {
  Script("press 1 on \"Install Failed!\" appear 1\npress 1 on \"Install Failed!\" appear 2\n");
  EXPECT_TRUE(ExtractWhileBusy());
  EXPECT_EQ(Prompts(), 3);
  EXPECT_EQ(GetFile(kTarget), "in use");
}

TEST_F(ZipFileInUse, AFreeTargetIsReplacedWhole) {
  CUnzipper unzipper(context());
  ASSERT_TRUE(unzipper.OpenZip(kArchive));
  ASSERT_TRUE(unzipper.Unzip(unzipper.OutputFolder()));
  EXPECT_EQ(GetFile(kTarget), "new");
  EXPECT_EQ(Prompts(), 0);
}

// A name Windows refuses cannot be created: the prompt decides, and the rest is written.
class ZipInvalidName : public ZipTest, public ::testing::WithParamInterface<int> {};

INSTANTIATE_TEST_SUITE_P(Windows, ZipInvalidName, ::testing::Values(5, 6),
                         [](const auto& info) { return "Windows" + std::to_string(info.param); });

TEST_P(ZipInvalidName, IsPromptedForOrReportedAndSkipped) {
  Context(GetParam());
  PutZip(kArchive, BuildZip({{.name = "bad|name.txt", .data = "x"},
                             {.name = "bad<dir>/a.txt", .data = "y"},
                             {.name = "good.txt", .data = "good"}}));
  const auto before = Tree();
  CUnzipper unzipper(context());
  ASSERT_TRUE(unzipper.OpenZip(kArchive));
  bool ok = false;
  try {
    ok = unzipper.Unzip(unzipper.OutputFolder());
  } catch (const os::ComError& e) {
    // The broker refuses to make the folder "bad<dir>": the run reports the COM error.
    EXPECT_EQ(GetParam(), 6);
    EXPECT_EQ(e.InterfaceName(), "IFileManager");
  }
  if (GetParam() == 5) {
    EXPECT_TRUE(ok);
    EXPECT_EQ(GetFile("C:\\Temp\\pkg\\good.txt"), "good");
    EXPECT_EQ(ui().Count(os::ui::UiEventKind::kDialogReady, kPrompt), 2);
  } else {
    // The work file was made; the broker's copy to the name fails and says so.
    std::vector<std::string> boxes;
    for (const auto& box : ui().Boxes()) boxes.push_back(box.text);
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes[0], os::Utf8ToAnsi("파일을 옮기지 못했습니다."));
  }
  EXPECT_EQ(NewOutside(before, {"C:\\Temp\\pkg"}), std::vector<std::string>{});
}

class ZipBrokerBoxes : public ZipTest {
 protected:
  void SetUp() override {
    ZipTest::SetUp();
    Context(6);
    PutZip(kArchive, BuildZip({{.name = "a.txt", .data = "a"}, {.name = "b.txt", .data = "b"}}));
  }
  std::vector<std::string> Boxes() {
    std::vector<std::string> out;
    for (const auto& box : ui().Boxes()) out.push_back(box.text);
    return out;
  }
};

TEST_F(ZipBrokerBoxes, EachMemberCostsOneReplacingMove) {
  PutFile("C:\\Temp\\pkg\\a.txt", "old");
  CUnzipper unzipper(context());
  ASSERT_TRUE(unzipper.OpenZip(kArchive));
  ASSERT_TRUE(unzipper.Unzip(unzipper.OutputFolder()));
  const auto& calls = context().privileged_calls;
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].rfind("MoveFileReplacing(", 0), 0u) << calls[0];
  EXPECT_NE(calls[0].find("Temporary Internet Files\\tmp"), std::string::npos) << calls[0];
  EXPECT_NE(calls[0].find(",C:\\Temp\\pkg\\\\a.txt)"), std::string::npos) << calls[0];
  EXPECT_EQ(calls[1].rfind("MoveFileReplacing(", 0), 0u) << calls[1];
  EXPECT_TRUE(Boxes().empty());
  // The existing target is replaced, and no work file stays in the cache folder.
  EXPECT_EQ(GetFile("C:\\Temp\\pkg\\a.txt"), "a");
  EXPECT_EQ(GetFile("C:\\Temp\\pkg\\b.txt"), "b");
  const std::string first = calls[0].substr(18, calls[0].find(',') - 18);
  EXPECT_FALSE(HostExists(first)) << first;
}

TEST_F(ZipBrokerBoxes, AFailedCopyIsToldAndFailsTheArchive) {
  context().fail_copy_from = "tmp";
  context().fail_delete_of = "tmp";
  CUnzipper unzipper(context());
  ASSERT_TRUE(unzipper.OpenZip(kArchive));
  EXPECT_FALSE(unzipper.Unzip(unzipper.OutputFolder())) << "a member that is not in place is not installed";
  const std::string moved = os::Utf8ToAnsi("파일을 옮기지 못했습니다.");
  const std::string deleted = os::Utf8ToAnsi("파일을 삭제하지 못했습니다.");
  EXPECT_EQ(Boxes(), (std::vector<std::string>{moved, deleted}));
  EXPECT_FALSE(HostExists("C:\\Temp\\pkg\\a.txt"));
  EXPECT_FALSE(HostExists("C:\\Temp\\pkg\\b.txt"));
}

// A member that moved into place leaves no work file, so a delete that would fail is never
// asked for and shows no box.
TEST_F(ZipBrokerBoxes, APlacedMemberAsksForNoDeleteOfItsWorkFile) {
  context().fail_delete_of = "tmp";
  CUnzipper unzipper(context());
  ASSERT_TRUE(unzipper.OpenZip(kArchive));
  EXPECT_TRUE(unzipper.Unzip(unzipper.OutputFolder()));
  EXPECT_TRUE(Boxes().empty());
  for (const auto& call : context().privileged_calls) EXPECT_NE(call.rfind("DeleteFile(", 0), 0u) << call;
  EXPECT_EQ(GetFile("C:\\Temp\\pkg\\a.txt"), "a");
  EXPECT_EQ(GetFile("C:\\Temp\\pkg\\b.txt"), "b");
}

TEST_F(ZipBrokerBoxes, ARefusedBrokerFailsTheFolderWithAComError) {
  os::ImageSettings s = machine().settings();
  s.refuse_elevation = true;
  Reconfigure(s);
  PutZip("C:\\Temp\\pkg2\\a.zip", BuildZip({{.name = "new/a.txt", .data = "a"}}));
  CUnzipper unzipper(context());
  ASSERT_TRUE(unzipper.OpenZip("C:\\Temp\\pkg2\\a.zip"));
  ASSERT_TRUE(unzipper.GotoFirstFile());
  EXPECT_THROW(unzipper.UnzipFile(), os::ComError);
  EXPECT_FALSE(HostExists("C:\\Temp\\pkg2\\new"));
}

}  // namespace
