// FindWindowA across processes of one machine image: the test program starts itself again
// as the child that owns the window.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "os/base/error.h"
#include "os/image/machine.h"
#include "os/ui/window_list.h"
#include "os/ui/window.h"
#include "tests/support/image_test.h"
#include "tests/support/link_escapes.h"
#include "tests/support/ui_script.h"

extern char** environ;

namespace {
using pelisto::testing::TempDir;
using pelisto::testing::UiTest;
namespace fs = std::filesystem;

constexpr char kChildVariable[] = "PELISTO_UI_WINDOW_CHILD";

// The child: opens the image named in the variable, makes one top-level window, says
// "ready <handle>" and then either waits for its input to close (and cleans up) or ends at
// once without cleaning up ("vanish").
TEST(UiModelFindWindowChild, OwnsAWindow) {
  const char* setup = std::getenv(kChildVariable);
  if (setup == nullptr) GTEST_SKIP() << "runs only as the child of UiModelFindWindow";
  std::string s = setup;
  size_t a = s.find('\t'), b = s.find('\t', a + 1), c = s.find('\t', b + 1);
  std::string prefix = s.substr(0, a), mode = s.substr(a + 1, b - a - 1);
  std::string cls = s.substr(b + 1, c - b - 1), title = s.substr(c + 1);
  std::string error;
  std::unique_ptr<os::Machine> machine = os::Machine::Open(prefix, &error);
  ASSERT_TRUE(machine) << error;
  os::SetCurrentMachine(machine.get());
  os::WNDCLASSA wc;
  wc.lpfnWndProc = os::DefWindowProcA;
  wc.lpszClassName = cls;
  os::RegisterClassA(&wc);
  os::HWND hwnd = os::CreateWindowExA(0, cls, title, 0, 0, 0, 10, 10, nullptr, 0, nullptr);
  ASSERT_NE(hwnd, nullptr);
  std::cout << "ready " << std::hex << reinterpret_cast<std::uintptr_t>(hwnd) << std::endl;
  if (mode == "vanish") std::_Exit(0);
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  os::DestroyWindow(hwnd);
  os::SetCurrentMachine(nullptr);
}

class Child {
 public:
  Child(const std::string& prefix, const std::string& mode, const std::string& cls, const std::string& title) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string variable = std::string(kChildVariable) + "=" + prefix + "\t" + mode + "\t" + cls + "\t" + title;
    std::vector<char*> env;
    for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
    env.push_back(variable.data());
    env.push_back(nullptr);
    std::string exe = "/proc/self/exe";
    std::string filter = "--gtest_filter=UiModelFindWindowChild.OwnsAWindow";
    char* argv[] = {exe.data(), filter.data(), nullptr};
    if (posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv, env.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    to_child_ = in[1];
    from_child_ = fdopen(out[0], "r");
  }
  ~Child() {
    Release();
    if (from_child_ != nullptr) fclose(from_child_);
  }
  // The handle the child printed; 0 when it did not get that far.
  std::uintptr_t WaitReady() {
    char line[256];
    while (from_child_ != nullptr && fgets(line, sizeof line, from_child_) != nullptr) {
      std::string l = line;
      if (l.rfind("ready ", 0) == 0) return std::stoull(l.substr(6), nullptr, 16);
    }
    return 0;
  }
  // Lets a waiting child clean up and end; returns its exit status.
  int Release() {
    if (to_child_ >= 0) close(to_child_);
    to_child_ = -1;
    int status = 0;
    if (pid_ > 0) waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
  int to_child_ = -1;
  FILE* from_child_ = nullptr;
};

class UiModelFindWindow : public UiTest {};

TEST_F(UiModelFindWindow, FindsALiveWindowOfAnotherProcessUntilItGoes) {
  Child child(prefix(), "stay", "StartDownload", "File Download");
  std::uintptr_t handle = child.WaitReady();
  ASSERT_NE(handle, 0u);
  os::HWND found = os::FindWindowA("", "File Download");
  ASSERT_EQ(reinterpret_cast<std::uintptr_t>(found), handle);
  EXPECT_EQ(os::FindWindowA("startdownload", ""), found);  // class compares without case
  std::string cls;
  EXPECT_EQ(os::GetClassNameA(found, &cls, 256), 13);
  EXPECT_EQ(cls, "StartDownload");
  EXPECT_TRUE(os::IsWindow(found));
  // Our own newer window of the same title is found first.
  os::HWND mine = os::CreateWindowExA(0, "STATIC", "File Download", 0, 0, 0, 1, 1, nullptr, 0, nullptr);
  EXPECT_EQ(os::FindWindowA("", "File Download"), mine);
  os::DestroyWindow(mine);
  EXPECT_EQ(child.Release(), 0);
  EXPECT_EQ(os::FindWindowA("", "File Download"), nullptr);
  EXPECT_FALSE(os::IsWindow(found));
}

TEST_F(UiModelFindWindow, IgnoresWindowsOfAProcessThatEndedWithoutCleaningUp) {
  Child child(prefix(), "vanish", "StartDownload", "File Download");
  std::uintptr_t handle = child.WaitReady();
  ASSERT_NE(handle, 0u);
  child.Release();
  ASSERT_FALSE(std::filesystem::is_empty(prefix() + "/windows")) << "the child's entry should be left behind";
  os::SetLastError(0);
  EXPECT_EQ(os::FindWindowA("StartDownload", "File Download"), nullptr);
  EXPECT_EQ(os::GetLastError(), os::ERROR_FILE_NOT_FOUND);
  std::string cls = "untouched";
  EXPECT_EQ(os::GetClassNameA(reinterpret_cast<os::HWND>(handle), &cls, 256), 0);
}

// The window lists live in the prefix, where any process of the image can plant links: a
// list is never written or read through one (an elevated broker publishing its windows would
// otherwise write wherever the link points), and a pipe among them hangs nobody.
TEST_F(UiModelFindWindow, TheWindowListIsNeitherWrittenNorReadThroughALink) {
  TempDir outside;
  const std::string folder = prefix() + "/windows";
  const std::string victim = outside.path() + "/victim";
  pelisto::testing::WriteHostFile(victim, "keep");

  // The folder itself planted as a link out.
  fs::remove_all(folder);
  fs::create_directory_symlink(outside.path(), folder);
  os::HWND mine = os::CreateWindowExA(0, "STATIC", "Planted", 0, 0, 0, 1, 1, nullptr, 0, nullptr);
  ASSERT_NE(mine, nullptr);
  os::DestroyWindow(mine);
  EXPECT_EQ(pelisto::testing::FilesBelow(outside.path()), std::vector<std::string>{"victim=keep"});

  // This process's work file planted as a link to a file outside.
  fs::remove(folder);
  fs::create_directory(folder);
  const std::string own = folder + "/" + std::to_string(os::ui::internal::CurrentProcessNumber());
  fs::create_symlink(victim, own + ".list.tmp");
  mine = os::CreateWindowExA(0, "STATIC", "Planted", 0, 0, 0, 1, 1, nullptr, 0, nullptr);
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(os::FindWindowA("", "Planted"), mine);
  os::DestroyWindow(mine);
  EXPECT_EQ(pelisto::testing::FilesBelow(outside.path()), std::vector<std::string>{"victim=keep"});

  // Another process's list moved out and replaced by a link to it is not read; nor is a pipe.
  Child child(prefix(), "stay", "StartDownload", "File Download");
  ASSERT_NE(child.WaitReady(), 0u);
  std::string list;
  for (const auto& e : fs::directory_iterator(folder)) {
    if (e.path().extension() == ".list") list = e.path().string();
  }
  ASSERT_FALSE(list.empty());
  ASSERT_NE(os::FindWindowA("", "File Download"), nullptr);
  fs::rename(list, outside.path() + "/moved");
  fs::create_symlink(outside.path() + "/moved", list);
  ASSERT_EQ(mkfifo((folder + "/pipe.list").c_str(), 0600), 0);
  EXPECT_EQ(os::FindWindowA("", "File Download"), nullptr);
  fs::remove(list);
  fs::remove(folder + "/pipe.list");
  EXPECT_EQ(child.Release(), 0);
}

}  // namespace
