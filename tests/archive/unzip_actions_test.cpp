// The two control-level actions: the silent one (NoUIUnZip) with its events, texts and
// cancel, and the "Pelisto Unzipper" dialog.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/no_ui_unzip.h"
#include "archive/unzip_actions.h"
#include "os/com/com_error.h"
#include "resources/resource_ids.h"
#include "tests/archive/zip_builder.h"
#include "tests/archive/zip_test_fixture.h"

namespace {
using namespace pelisto::testing;
using pelisto::RunError;
using pelisto::UnZipWithDialog;
using pelisto::UnZipWithoutDialog;

constexpr char kArchive[] = "C:\\Temp\\pkg\\a.zip";
constexpr char kDialog[] = "Pelisto Unzipper";

std::vector<ZipMember> Five() {
  std::vector<ZipMember> out;
  for (int i = 1; i <= 5; ++i) {
    out.push_back({.name = "m" + std::to_string(i) + ".txt", .data = "member " + std::to_string(i)});
  }
  return out;
}

class ZipSilent : public ZipTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    ZipTest::SetUp();
    Context(GetParam());
  }
};

INSTANTIATE_TEST_SUITE_P(Windows, ZipSilent, ::testing::Values(5, 6),
                         [](const auto& info) { return "Windows" + std::to_string(info.param); });

TEST_P(ZipSilent, ExtractsWithEventsAndLogLines) {
  PutZip(kArchive, BuildZip({{.name = "a.txt", .data = "a"}, {.name = "sub/b.txt", .data = "b"}}));
  EXPECT_EQ(UnZipWithoutDialog(context(), kArchive), 1);
  EXPECT_EQ(context().events,
            (std::vector<std::string>{"IsDownload(8,C:\\Temp\\pkg\\a.zip)", "UnZipFileNumber(2)",
                                      "UnZipping(C:\\Temp\\pkg\\a.txt)",
                                      "UnZipping(C:\\Temp\\pkg\\sub\\b.txt)"}));
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "0:[2024-01-02_03:04:05] Start unzip file - C:\\Temp\\pkg\\a.zip",
                            "0:[2024-01-02_03:04:05] End unzip file - C:\\Temp\\pkg\\a.zip"}));
  EXPECT_EQ(GetFile("C:\\Temp\\pkg\\sub\\b.txt"), "b");
}

TEST_P(ZipSilent, AnEmptyArchiveFailsBeforeAnyEvent) {
  PutZip(kArchive, BuildZip({}));
  EXPECT_EQ(UnZipWithoutDialog(context(), kArchive), 0);
  EXPECT_EQ(context().events, std::vector<std::string>{"IsDownload(8,C:\\Temp\\pkg\\a.zip)"});
  EXPECT_TRUE(context().Logged("Failed UnZip C:\\Temp\\pkg\\a.zipNo Have File"));
}

struct FailureCase {
  const char* name;
  std::string bytes;
  const char* error;
};

TEST_P(ZipSilent, FailuresEndWithTheirText) {
  const std::string good = BuildZip({{.name = "ok.txt", .data = "ok"}});
  const std::vector<FailureCase> cases = {
      {"not zip", "plain text, no archive", "Not a valid zip file"},
      {"truncated", good.substr(0, good.size() / 2), "Not a valid zip file"},
      {"method", BuildZip({{.name = "ok.txt", .data = "ok"}, {.name = "lzma.bin", .data = "?", .method = 14}}),
       "Failed UnZip :lzma.bin"},
      {"crc", BuildZip({{.name = "c.txt", .data = "crc", .bad_crc = true}}), "Failed UnZip :c.txt"},
  };
  for (const FailureCase& c : cases) {
    context().log.clear();
    PutZip(kArchive, c.bytes);
    EXPECT_EQ(UnZipWithoutDialog(context(), kArchive), 0) << c.name;
    const std::string line = std::string("Failed UnZip ") + kArchive + c.error;
    EXPECT_TRUE(context().Logged(line)) << c.name;
    for (const auto& l : context().log) {
      if (l.text.find("Failed UnZip ") != std::string::npos) {
        EXPECT_EQ(l.level, 2u) << c.name;
      }
    }
  }
}

TEST_P(ZipSilent, ACancelAtTheThirdMemberStillWritesIt) {
  PutZip(kArchive, BuildZip(Five()));
  context().cancel_at_unzipping = 3;
  EXPECT_EQ(UnZipWithoutDialog(context(), kArchive), 0);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(GetFile("C:\\Temp\\pkg\\m" + std::to_string(i) + ".txt"), "member " + std::to_string(i));
  }
  EXPECT_FALSE(HostExists("C:\\Temp\\pkg\\m4.txt"));
  EXPECT_EQ(context().unzipping_count, 3);
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "1:[2024-01-02_03:04:05] UnZipping User Cancel..");
  EXPECT_EQ(lines[2], "1:[2024-01-02_03:04:05]Canceled UnZipping C:\\Temp\\pkg\\a.zip");
}

TEST_P(ZipSilent, TheStatusDialogHearsAndMayCancelWhenItStaysOpen) {
  PutZip(kArchive, BuildZip(Five()));
  RecordingSink sink;
  sink.cancel_at = 2;
  context().sink = &sink;
  // Without dlgNotClose the dialog is not told.
  EXPECT_EQ(UnZipWithoutDialog(context(), kArchive), 1);
  EXPECT_TRUE(sink.calls.empty());
  context().settings.dlg_not_close = os::TRUE;
  EXPECT_EQ(UnZipWithoutDialog(context(), kArchive), 0);
  EXPECT_EQ(sink.calls, (std::vector<std::string>{"UnZipFileNumber(5)", "UnZipping(C:\\Temp\\pkg\\m1.txt)",
                                                  "UnZipping(C:\\Temp\\pkg\\m2.txt)"}));
}

TEST_P(ZipSilent, ACancelOfTheWorkItemEndsTheRun) {
  PutZip(kArchive, BuildZip(Five()));
  context().page_cancel = 1;
  try {
    UnZipWithoutDialog(context(), kArchive);
    ADD_FAILURE() << "no RunError";
  } catch (const RunError& e) {
    EXPECT_STREQ(e.what(), "Canceled By User Status is 8");
  }
  EXPECT_FALSE(HostExists("C:\\Temp\\pkg\\m1.txt"));
}

// An archive in or below the system folder goes into the system folder itself; "patch" in
// the folder cuts it there.
TEST_P(ZipSilent, TheTargetFolderRule) {
  const std::string system = context().Folders().system;
  PutZip(system + "\\pkg\\a.zip", BuildZip({{.name = "sys.txt", .data = "s"}}));
  EXPECT_EQ(UnZipWithoutDialog(context(), system + "\\pkg\\a.zip"), 1);
  EXPECT_EQ(GetFile(system + "\\sys.txt"), "s");
  EXPECT_FALSE(HostExists(system + "\\pkg\\sys.txt"));

  PutZip("C:\\Temp\\App\\patch\\v2\\a.zip", BuildZip({{.name = "p.txt", .data = "p"}}));
  EXPECT_EQ(UnZipWithoutDialog(context(), "C:\\Temp\\App\\patch\\v2\\a.zip"), 1);
  EXPECT_EQ(GetFile("C:\\Temp\\App\\p.txt"), "p");

  PutZip("C:\\Temp\\App\\Patch\\a.zip", BuildZip({{.name = "q.txt", .data = "q"}}));
  EXPECT_EQ(UnZipWithoutDialog(context(), "C:\\Temp\\App\\Patch\\a.zip"), 1);
  EXPECT_EQ(GetFile("C:\\Temp\\App\\Patch\\q.txt"), "q");
}

TEST_P(ZipSilent, ExtractAllWithoutAControlFiresNothing) {
  PutZip(kArchive, BuildZip(Five()));
  pelisto::NoUIUnZip unzip(context());
  EXPECT_EQ(unzip.UnZip(kArchive, context().Folders().system), 1);
  EXPECT_TRUE(context().events.empty());
  EXPECT_EQ(unzip.ErrorText(), "");
}

class ZipDialog : public ZipTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    ZipTest::SetUp();
    Context(GetParam());
  }
};

INSTANTIATE_TEST_SUITE_P(Windows, ZipDialog, ::testing::Values(5, 6),
                         [](const auto& info) { return "Windows" + std::to_string(info.param); });

TEST_P(ZipDialog, ShowsEachMemberAndSteps) {
  PutZip(kArchive, BuildZip({{.name = "a.txt", .data = "a"}, {.name = "dir/b.txt", .data = "b"}}));
  EXPECT_EQ(UnZipWithDialog(context(), kArchive), 1);
  EXPECT_EQ(ui().PositionsOf(kDialog, pelisto::res::kUnzipProgress), (std::vector<int>{1, 2}));
  EXPECT_EQ(ui().TextsPainted(kDialog), (std::vector<std::string>{"a.txt", "dir\\b.txt"}));
  EXPECT_EQ(context().events, std::vector<std::string>{"IsDownload(8,C:\\Temp\\pkg\\a.zip)"});
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "0:[2024-01-02_03:04:05] Start unzip file - C:\\Temp\\pkg\\a.zip",
                            "0:[2024-01-02_03:04:05] End unzip file - C:\\Temp\\pkg\\a.zip"}));
  EXPECT_TRUE(context().messages.empty());
  EXPECT_EQ(GetFile("C:\\Temp\\pkg\\dir\\b.txt"), "b");
}

TEST_P(ZipDialog, FailuresAreToldAndStopTheInstallation) {
  PutZip(kArchive, "not an archive");
  EXPECT_EQ(UnZipWithDialog(context(), kArchive), 0);
  EXPECT_EQ(context().messages, (std::vector<std::string>{"Not a valid zip file", "Stop installation"}));
  EXPECT_EQ(LogLines().back(), "1:[2024-01-02_03:04:05] User stop installation zip.");

  context().messages.clear();
  PutZip(kArchive, BuildZip({{.name = "a.txt", .data = "a"}, {.name = "b.txt", .data = "b", .bad_crc = true}}));
  EXPECT_EQ(UnZipWithDialog(context(), kArchive), 0);
  EXPECT_EQ(context().messages,
            (std::vector<std::string>{"'C:\\Temp\\pkg\\a.zip' Unable to unzip file", "Stop installation"}));

  context().messages.clear();
  PutZip(kArchive, BuildZip({}));
  EXPECT_EQ(UnZipWithDialog(context(), kArchive), 0);
  EXPECT_EQ(context().messages,
            (std::vector<std::string>{"'C:\\Temp\\pkg\\a.zip' Unable to unzip file", "Stop installation"}));
}

class ZipActionsBroker : public ZipTest {};

TEST_F(ZipActionsBroker, AFailedFolderCreationReachesTheRunAsAComError) {
  Context(6);
  os::ImageSettings s = machine().settings();
  s.refuse_elevation = true;
  Reconfigure(s);
  PutZip(kArchive, BuildZip({{.name = "new/a.txt", .data = "a"}}));
  EXPECT_THROW(UnZipWithoutDialog(context(), kArchive), os::ComError);
  EXPECT_THROW(UnZipWithDialog(context(), kArchive), os::ComError);
  EXPECT_EQ(ui().Count(os::ui::UiEventKind::kDialogEnded, kDialog), 1);
  EXPECT_FALSE(HostExists("C:\\Temp\\pkg\\new"));
}

}  // namespace
