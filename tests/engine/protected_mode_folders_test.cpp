#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/protected_mode_folders.h"
#include "os/base/error.h"
#include "os/com/hresult.h"
#include "os/debug/debug_output.h"
#include "os/module/module.h"
#include "os/shell/folders.h"
#include "tests/support/fake_run_context.h"
#include "tests/support/ui_script.h"

namespace pelisto {
namespace {

class FolderSymbolsProtectedMode : public testing::UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    os::ClearDebugOutput();
  }
  void SetProtectedMode(bool on) {
    os::ImageSettings s = machine().settings();
    s.protected_mode = on;
    Reconfigure(s);
  }
  void RemoveSystemLibrary(const std::string& name) {
    os::EnsureSystemModules(machine());
    std::filesystem::remove(Host("C:\\Windows\\system32\\" + name));
  }
  std::vector<std::string> BoxTexts() {
    std::vector<std::string> texts;
    for (const os::ui::BoxRecord& b : ui().Boxes()) texts.push_back(b.text);
    return texts;
  }
};

TEST_F(FolderSymbolsProtectedMode, OutsideProtectedModeTheWritableFolderIsLocalAppData) {
  testing::FakeRunContext context;
  ASSERT_EQ(InitProtectedModeFolders(context), 1);
  EXPECT_EQ(context.protected_mode.protected_mode, os::FALSE);
  EXPECT_EQ(context.protected_mode.local_low_folder, "C:\\Users\\user\\AppData\\LocalLow");
  EXPECT_EQ(context.protected_mode.writable_folder, "C:\\Users\\user\\AppData\\Local");
  EXPECT_EQ(os::DebugOutput(),
            std::vector<std::string>{"non protected is C:\\Users\\user\\AppData\\Local"});
  EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(FolderSymbolsProtectedMode, InProtectedModeTheWritableFolderIsLocalLow) {
  SetProtectedMode(true);
  testing::FakeRunContext context;
  ASSERT_EQ(InitProtectedModeFolders(context), 1);
  EXPECT_EQ(context.protected_mode.protected_mode, os::TRUE);
  EXPECT_EQ(context.protected_mode.local_low_folder, "C:\\Users\\user\\AppData\\LocalLow");
  EXPECT_EQ(context.protected_mode.writable_folder, "C:\\Users\\user\\AppData\\LocalLow");
  EXPECT_TRUE(os::DebugOutput().empty());
}

TEST_F(FolderSymbolsProtectedMode, MissingBrowserLibraryMeansNotProtected) {
  SetProtectedMode(true);
  RemoveSystemLibrary("ieframe.dll");
  testing::FakeRunContext context;
  context.protected_mode.protected_mode = os::TRUE;
  ASSERT_EQ(InitProtectedModeFolders(context), 1);
  EXPECT_EQ(context.protected_mode.protected_mode, os::FALSE);
  EXPECT_EQ(context.protected_mode.writable_folder, "C:\\Users\\user\\AppData\\Local");
}

TEST_F(FolderSymbolsProtectedMode, MissingKnownFolderCallShowsItsFailureCode) {
  RemoveSystemLibrary("shell32.dll");
  testing::FakeRunContext context;
  context.settings.self_ui = os::FALSE;  // the box is shown all the same
  context.protected_mode.local_low_folder = "kept";
  EXPECT_EQ(InitProtectedModeFolders(context), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Vista KnownFolder error 8007007e"});
  EXPECT_EQ(context.protected_mode.local_low_folder, "kept");
  EXPECT_TRUE(context.messages.empty()) << "not a ShowMessage box";
}

TEST_F(FolderSymbolsProtectedMode, LookupsOnAnOlderSystemFailWithProcNotFound) {
  SetOsMajor(5);
  std::string path = "untouched";
  EXPECT_EQ(LookupKnownFolderPath(os::FOLDERID_LocalAppDataLow, 0, nullptr, &path),
            os::HRESULT_FROM_WIN32(os::ERROR_PROC_NOT_FOUND));
  os::BOOL is_protected = -1;
  EXPECT_TRUE(os::FAILED(LookupProtectedModeProcess(&is_protected)));
  EXPECT_EQ(path, "untouched");
  EXPECT_EQ(is_protected, -1);
}

TEST_F(FolderSymbolsProtectedMode, WriteableFolderLookupAnswersForTheInternetCache) {
  std::string path;
  ASSERT_EQ(LookupWriteableFolderPath(os::FOLDERID_InternetCache, &path), os::S_OK);
  EXPECT_EQ(path, "C:\\Users\\user\\AppData\\Local\\Microsoft\\Windows\\Temporary Internet Files");
}

TEST(FolderSymbolsLastError, FailureCodeIsMadeFromTheLastError) {
  os::SetLastError(os::ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(HResultFromLastError(), static_cast<os::HRESULT>(0x8007007E));
  os::SetLastError(0x80004005);
  EXPECT_EQ(HResultFromLastError(), os::E_FAIL);
  os::SetLastError(0x8123ABCD);
  EXPECT_EQ(HResultFromLastError(), static_cast<os::HRESULT>(0x8123ABCD)) << "kept unchanged";
  os::SetLastError(0);
  EXPECT_EQ(HResultFromLastError(), os::E_FAIL) << "never a success code";
}

}  // namespace
}  // namespace pelisto
