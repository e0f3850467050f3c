#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "actions/create_directories.h"
#include "actions/execute_file.h"
#include "os/ui/cursor.h"
#include "tests/actions/install_fixture.h"

namespace pelisto {
namespace {
using testing::FakeRunContext;
using Strings = std::vector<std::string>;

constexpr const char* kT = testing::kStamp;

class InstallByTypeProgram : public testing::InstallTest {
 protected:
  // A program that notes its argument count and token, after a pause, beside itself.
  void PutProgram(const std::string& path) {
    PutFile(path, "#!/bin/sh\nsleep 0.3\necho \"$# $PELISTO_INTEGRITY\" > ran.txt\n");
  }
  std::vector<int> Cursors() {
    std::vector<int> ids;
    for (const auto& e : ui().Events()) {
      if (e.kind == os::ui::UiEventKind::kCursorChanged) ids.push_back(e.value);
    }
    return ids;
  }
};

TEST_F(InstallByTypeProgram, ExecuteFileWaitsForTheProgramUnderTheWaitCursor) {
  FakeRunContext& c = Context(5);
  PutProgram("D:\\dl\\setup.exe");
  ExecuteFile(c, "D:\\dl\\setup.exe");
  // Written after the pause: the call waited for the program's end.
  EXPECT_EQ(GetFile("D:\\dl\\ran.txt"), "0 medium\n");
  EXPECT_EQ(Lines(c), (Strings{std::string("0:") + kT + " Start execute file - D:\\dl\\setup.exe",
                            std::string("0:") + kT + " Success create processing - D:\\dl\\setup.exe",
                            std::string("0:") + kT + " End execute file - D:\\dl\\setup.exe"}));
  EXPECT_EQ(Cursors(), (std::vector<int>{32514, 32512}));
  EXPECT_EQ(os::CursorResourceId(os::GetCursor()), 32512);
}

TEST_F(InstallByTypeProgram, ExecuteFileOfAMissingProgramWritesOnlyTheFrame) {
  FakeRunContext& c = Context(5);
  ExecuteFile(c, "D:\\dl\\missing.exe");
  ASSERT_EQ(c.log.size(), 2u);
  EXPECT_EQ(c.log[0].text, std::string(kT) + " Start execute file - D:\\dl\\missing.exe");
  EXPECT_EQ(c.log[1].text, std::string(kT) + " End execute file - D:\\dl\\missing.exe");
}

class ContentEntryFolders : public testing::InstallTest, public ::testing::WithParamInterface<int> {};

// X:\A\B with X:\A present creates B only; the drive part is never made.
TEST_P(ContentEntryFolders, CreatesOnlyTheMissingLevels) {
  FakeRunContext& c = Context(GetParam());
  PutFile("D:\\A\\keep.txt", "k");
  CreateDirectories(c, "D:\\A\\B", os::TRUE);
  EXPECT_TRUE(IsDirectory("D:\\A\\B"));
  EXPECT_EQ(GetFile("D:\\A\\keep.txt"), "k");
  EXPECT_TRUE(c.Logged(" Start create directories - D:\\A\\B"));
  EXPECT_TRUE(c.Logged(" End create directories - D:\\A\\B"));
  EXPECT_TRUE(c.messages.empty());

  // A protected folder, made through the broker from Windows 6 on.
  c.log.clear();
  CreateDirectories(c, "C:\\Program Files\\\\Vendor\\App\\", os::FALSE);
  EXPECT_TRUE(IsDirectory("C:\\Program Files\\Vendor\\App"));
  EXPECT_TRUE(c.log.empty());
}

TEST_P(ContentEntryFolders, StopsAtALevelThatCannotBeAFolder) {
  FakeRunContext& c = Context(GetParam());
  PutFile("D:\\A\\file", "in the way");
  struct Case {
    std::string path, level;
  };
  for (const Case& k : {Case{"D:\\A\\file\\B", "D:\\A\\file"}, Case{"D:\\A\\file", "D:\\A\\file"},
                        Case{"Q:\\unmapped\\B", "Q:\\unmapped"}, Case{"D:\\A\\bad|name\\B", "D:\\A\\bad|name"},
                        Case{"relative\\B", "relative\\B"}}) {
    c.log.clear();
    c.messages.clear();
    CreateDirectories(c, k.path, os::TRUE);
    const std::string text = "Make [" + k.level + "] path error!";
    EXPECT_EQ(c.messages, Strings{text}) << k.path;
    ASSERT_EQ(c.log.size(), 2u) << k.path;
    EXPECT_EQ(c.log[1].text, std::string(kT) + " " + text);
    EXPECT_EQ(c.log[1].level, 2u);
  }
  EXPECT_EQ(GetFile("D:\\A\\file"), "in the way");
  EXPECT_FALSE(IsDirectory("Q:\\unmapped"));
}

INSTANTIATE_TEST_SUITE_P(ContentEntry, ContentEntryFolders, ::testing::Values(5, 6),
                         [](const ::testing::TestParamInfo<int>& i) { return "Windows" + std::to_string(i.param); });

}  // namespace
}  // namespace pelisto
