// The download dialog's archive step: a file of type "zip" unpacked beside its target before
// the dialog closes.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "os/fs/file_api.h"
#include "os/module/module.h"
#include "os/ui/dialog.h"
#include "os/ui/window.h"
#include "resources/resource_ids.h"
#include "tests/archive/zip_builder.h"
#include "tests/download/download_dialog_fixture.h"

namespace pelisto::testing {
namespace {

const std::string kZipTarget = "C:\\Program Files\\Vendor\\pkg.zip";

// Stored members of `size` bytes: the archive is as long as its data, so the bar's range
// (kept from the transfer) has room for a position per member.
ZipMember Stored(const std::string& name, const std::string& data) {
  ZipMember m{name, data};
  m.method = kStored;
  return m;
}

class DownloadDialogArchive : public DownloadDialogTest {
 protected:
  void ServeZip(const std::string& path, const std::vector<ZipMember>& members) {
    const std::string body = BuildZip(members);
    server_.Route(path, [body](const httplib::Request&, httplib::Response& res) { ServeBytes(res, body); });
    zip_ = body;
  }
  // Nothing but the control's own folder (Windows 6) is left among the work files.
  bool NoWorkFileLeft() { return WorkFiles().empty() || WorkFiles() == std::vector<std::string>{"Veltrane"}; }
  std::string zip_;
};

TEST_P(DownloadDialogArchive, UnpacksBesideTheTargetShowingEachMember) {
  ServeZip("/pkg.zip", {Stored("a.txt", std::string(1500, 'a')), Folder("sub/"),
                        Stored("sub/b.txt", std::string(1500, 'b'))});
  ASSERT_EQ(Entry(server_.Url("/pkg.zip"), kZipTarget, "zip"), 1) << ::testing::PrintToString(BoxTexts());
  EXPECT_EQ(GetFile("C:\\Program Files\\Vendor\\a.txt"), std::string(1500, 'a'));
  EXPECT_EQ(GetFile("C:\\Program Files\\Vendor\\sub\\b.txt"), std::string(1500, 'b'));
  EXPECT_TRUE(GetFile(kZipTarget) == zip_) << "the archive itself is at the target";
  EXPECT_TRUE(NoWorkFileLeft());
  if (Windows6()) {
    EXPECT_TRUE(GetFile(WorkFolder() + "\\Veltrane\\pkg.zip") == zip_) << "unpacked from the control's own folder";
  }
  EXPECT_TRUE(BoxTexts().empty());

  const std::vector<std::string> captions = Texts(0);
  ASSERT_FALSE(captions.empty());
  EXPECT_EQ(captions.back(), "Unzipping");
  const std::vector<std::string> lines = Texts(res::kDownloadTimeLeft);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
            (std::vector<std::string>{"", "a.txt", "sub\\", "sub\\b.txt"}));
  ASSERT_EQ(Ranges(), std::vector<int>{static_cast<int>((zip_.size() + 512) / 1024)}) << "the transfer's range stays";
  ASSERT_GE(Ranges()[0], 2);
  const std::vector<int> positions = Positions();
  ASSERT_GE(positions.size(), 3u);
  EXPECT_EQ(std::vector<int>(positions.end() - 3, positions.end()), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(ui().Count(os::ui::UiEventKind::kHidden, "Unzipping", res::kDownloadStatusLine), 1);
  EXPECT_EQ(ui().Count(os::ui::UiEventKind::kHidden, "Unzipping", res::kDownloadRate), 1);

}

// The time line moves down while the members are written. It is looked at while the
// file-in-use prompt for a member holds the dialog in the archive step.
TEST_P(DownloadDialogArchive, TheTimeLineMovesDownFivePixels) {
  if (Windows6()) GTEST_SKIP() << "a member in use is prompted for by the direct write";
  const std::string busy = "C:\\Program Files\\Vendor\\busy.txt";
  PutFile(busy, "in use");
  ServeZip("/pkg.zip", {{"busy.txt", "new"}});
  os::HANDLE held =
      os::CreateFileA(busy, os::GENERIC_READ, 0, nullptr, os::OPEN_EXISTING, os::FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, os::INVALID_HANDLE_VALUE);
  Script("press 1 on \"Install Failed!\" repeat\n");
  os::RECT label{}, line{};
  std::thread look([&] {
    ui().WaitFor(os::ui::UiEventKind::kDialogReady, "Install Failed!");
    os::HWND dialog = os::FindWindowA("", "Unzipping");
    // The label beside the line stays where the template put both.
    os::GetWindowRect(os::GetDlgItem(dialog, os::IDC_STATIC), &label);
    os::GetWindowRect(os::GetDlgItem(dialog, res::kDownloadTimeLeft), &line);
    os::CloseHandle(held);
  });
  EXPECT_EQ(Entry(server_.Url("/pkg.zip"), kZipTarget, "zip"), 1);
  look.join();
  EXPECT_EQ(line.top, label.top + 5);
  EXPECT_GT(line.bottom, line.top);
  EXPECT_EQ(GetFile(busy), "new") << "Retry wrote the member once it was free";
}

TEST_P(DownloadDialogArchive, AFolderWithPatchIsUnpackedAboveIt) {
  ServeZip("/patch.zip", {{"fix.txt", "fixed"}});
  std::filesystem::create_directories(Host("C:\\Program Files\\Vendor\\patch"));
  ASSERT_EQ(Entry(server_.Url("/patch.zip"), "C:\\Program Files\\Vendor\\patch\\patch.zip", "zip"), 1);
  EXPECT_EQ(GetFile("C:\\Program Files\\Vendor\\fix.txt"), "fixed");
  EXPECT_FALSE(HostExists("C:\\Program Files\\Vendor\\patch\\fix.txt"));
}

// An archive from the server names where its members go: none may leave the folder.
TEST_P(DownloadDialogArchive, AMemberNamedOutOfTheFolderIsNotWritten) {
  ServeZip("/evil.zip", {{"..\\..\\evil.txt", "x"}, {"/abs.txt", "x"}, {"C:\\Windows\\drive.txt", "x"},
                         {"good.txt", "fine"}});
  ASSERT_EQ(Entry(server_.Url("/evil.zip"), kZipTarget, "zip"), 1);
  EXPECT_EQ(GetFile("C:\\Program Files\\Vendor\\good.txt"), "fine");
  EXPECT_FALSE(HostExists("C:\\evil.txt"));
  EXPECT_FALSE(HostExists("C:\\Program Files\\evil.txt"));
  EXPECT_FALSE(HostExists("C:\\abs.txt"));
  EXPECT_FALSE(HostExists("C:\\Windows\\drive.txt"));
  EXPECT_TRUE(control_->Logged(" Unsafe name in zip file, member skipped - "));
}

TEST_P(DownloadDialogArchive, ABodyThatIsNoZipIsShownAndLeavesNothing) {
  EXPECT_EQ(Entry(server_.Url("/pattern/3000"), kZipTarget, "zip"), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Not a valid zip file"});
  EXPECT_FALSE(HostExists(kZipTarget));
  EXPECT_TRUE(NoWorkFileLeft());
  EXPECT_TRUE(control_->Logged(" Failed to download '"));
}

TEST_P(DownloadDialogArchive, AMemberThatDoesNotCheckOutFailsTheDownload) {
  PutFile("C:\\Program Files\\Vendor\\b.txt", "installed before");
  ZipMember broken{"b.txt", "new data"};
  broken.bad_crc = true;
  ServeZip("/crc.zip", {{"a.txt", "alpha"}, broken, {"c.txt", "gamma"}});
  EXPECT_EQ(Entry(server_.Url("/crc.zip"), kZipTarget, "zip"), 0);
  const std::string archive = Windows6() ? WorkFolder() + "\\Veltrane\\pkg.zip" : kZipTarget;
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"'" + archive + "' Unable to unzip file"});
  EXPECT_EQ(GetFile("C:\\Program Files\\Vendor\\a.txt"), "alpha") << "members written before stay";
  EXPECT_EQ(GetFile("C:\\Program Files\\Vendor\\b.txt"), "installed before");
  EXPECT_FALSE(HostExists("C:\\Program Files\\Vendor\\c.txt"));
  EXPECT_FALSE(HostExists(kZipTarget)) << "a download that failed is not placed";
  EXPECT_TRUE(NoWorkFileLeft());
}

TEST_P(DownloadDialogArchive, EscDuringTheArchiveStepStopsBetweenMembers) {
  std::vector<ZipMember> members;
  for (int i = 0; i < 60; ++i) members.push_back(Stored("m" + std::to_string(i) + ".txt", std::string(2000, 'x')));
  ServeZip("/many.zip", members);
  Script("press esc on \"Unzipping\" progress 1003 2\n");
  EXPECT_EQ(Entry(server_.Url("/many.zip"), kZipTarget, "zip"), 0);
  EXPECT_TRUE(HostExists("C:\\Program Files\\Vendor\\m0.txt")) << "members written before the cancel stay";
  EXPECT_FALSE(HostExists("C:\\Program Files\\Vendor\\m59.txt"));
  EXPECT_FALSE(HostExists(kZipTarget));
  EXPECT_TRUE(NoWorkFileLeft());
  EXPECT_TRUE(BoxTexts().empty());
}

// The copy rule leaves only a lower-case ".zip" to the archive step; an upper-case one of type
// "zip" is placed by the step, and the copy rule must not try again with the moved work file.
TEST_P(DownloadDialogArchive, AnUpperCaseZipTargetIsPlacedOnce) {
  ServeZip("/setup.ZIP", {{"a.txt", "alpha"}});
  const std::string target = "C:\\Program Files\\Vendor\\setup.ZIP";
  ASSERT_EQ(Entry(server_.Url("/setup.ZIP"), target, "zip"), 1) << ::testing::PrintToString(BoxTexts());
  EXPECT_TRUE(BoxTexts().empty());
  EXPECT_TRUE(GetFile(target) == zip_);
  EXPECT_EQ(GetFile("C:\\Program Files\\Vendor\\a.txt"), "alpha");
  EXPECT_TRUE(NoWorkFileLeft());
}

TEST_P(DownloadDialogArchive, WithoutTheKnownFolderCallNothingIsUnpacked) {
  if (!Windows6()) GTEST_SKIP() << "the control's own folder is used from Windows 6 on";
  ServeZip("/pkg.zip", {{"a.txt", "alpha"}});
  os::EnsureSystemModules(machine());
  std::filesystem::remove(Host("C:\\Windows\\system32\\shell32.dll"));
  EXPECT_EQ(Entry(server_.Url("/pkg.zip"), kZipTarget, "zip"), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Failed to Get Known Folder"});
  EXPECT_FALSE(HostExists("C:\\Program Files\\Vendor\\a.txt"));
  EXPECT_FALSE(HostExists(kZipTarget));
  EXPECT_TRUE(WorkFiles().empty());
}

INSTANTIATE_TEST_SUITE_P(Versions, DownloadDialogArchive, ::testing::Values(5, 6), PrintOsMajor);

}  // namespace
}  // namespace pelisto::testing
