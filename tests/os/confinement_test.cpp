// Links planted in the image, races and long link targets never lead a file call outside the
// drive; the integrity rule judges the place a path really reaches.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "os/base/error.h"
#include "os/fs/file_api.h"
#include "os/fs/file_descriptor.h"
#include "os/fs/file_util.h"
#include "os/image/integrity.h"
#include "os/module/module.h"
#include "os/process/process.h"
#include "tests/fixtures/fixture_ids.h"
#include "tests/support/image_test.h"
#include "tests/support/link_escapes.h"

namespace {
namespace fs = std::filesystem;
using pelisto::testing::Escape;
using pelisto::testing::ImageTest;
using pelisto::testing::kEscapes;
using pelisto::testing::TempDir;
using namespace os;

constexpr DWORD kSentinel = 0xDEADBEEF;

// An entry point that takes a path: `write` makes or changes the file at the path, `read`
// reads (or deletes) what is there. Each returns true on success. Calls that act on a link
// itself when it is the last component (a folder's creation, a move, a deletion) are given a
// path below the link.
struct EntryPoint {
  const char* name;
  bool (*write)(const std::string& path);  // null: the entry point only reads
  bool (*read)(const std::string& path);   // null: the entry point only writes
};

bool Closed(std::FILE* f) { return f != nullptr && std::fclose(f) == 0; }
bool Closed(HANDLE h) { return IsValidHandle(h) && CloseHandle(h); }
bool Closed(int descriptor) {
  if (descriptor < 0) return false;
  CloseFileDescriptor(descriptor);
  return true;
}

// Starts the program at `path` (from the folder `folder` when given) and waits for it.
bool Ran(const std::string& path, const char* folder = nullptr) {
  STARTUPINFOA si{};
  PROCESS_INFORMATION pi;
  if (!CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, folder, &si, &pi)) {
    return false;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

bool Loaded(const std::string& path) {
  HMODULE module = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  return module != nullptr && FreeLibrary(module);
}

const EntryPoint kEntryPoints[] = {
    {"CreateFileA",
     [](const std::string& p) {
       return Closed(CreateFileA(p, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
     },
     [](const std::string& p) {
       return Closed(CreateFileA(p, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
     }},
    {"CreateFileOpenAlways",
     [](const std::string& p) {
       return Closed(CreateFileA(p, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr));
     },
     nullptr},
    {"FileOpenW", [](const std::string& p) { return Closed(FileOpen(p, "w")); },
     [](const std::string& p) { return Closed(FileOpen(p, "r")); }},
    {"FileOpenAppend", [](const std::string& p) { return Closed(FileOpen(p, "a+")); },
     [](const std::string& p) { return Closed(FileOpen(p, "r+")); }},
    {"CopyFileA", [](const std::string& p) { return CopyFileA("C:\\src.txt", p, FALSE) != FALSE; },
     [](const std::string& p) { return CopyFileA(p, "C:\\copied.txt", FALSE) != FALSE; }},
    {"MoveFileExA",
     [](const std::string& p) {
       return MoveFileExA("C:\\src.txt", p + "\\x", MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != FALSE;
     },
     [](const std::string& p) {
       return MoveFileExA(p + "\\x", "C:\\moved.txt", MOVEFILE_COPY_ALLOWED) != FALSE;
     }},
    {"CreateDirectoryA", [](const std::string& p) { return CreateDirectoryA(p + "\\x", nullptr) != FALSE; },
     nullptr},
    {"DeleteFileA", nullptr, [](const std::string& p) { return DeleteFileA(p + "\\x") != FALSE; }},
    {"SetFileAttributesA", nullptr,
     [](const std::string& p) { return SetFileAttributesA(p, FILE_ATTRIBUTE_READONLY) != FALSE; }},
    {"GetFileAttributesA", nullptr,
     [](const std::string& p) { return GetFileAttributesA(p) != INVALID_FILE_ATTRIBUTES; }},
    {"OpenFileDescriptor", [](const std::string& p) { return Closed(OpenFileDescriptor(p, "wb")); },
     [](const std::string& p) { return Closed(OpenFileDescriptor(p, "rb")); }},
    {"CreateProcessA", nullptr, [](const std::string& p) { return Ran(p); }},
    {"LoadLibraryExA", nullptr, [](const std::string& p) { return Loaded(p); }},
    {"WriteFileAtomically",
     [](const std::string& p) { return WriteFileAtomically(p + "\\x", "planted") != FALSE; },
     [](const std::string& p) {
       std::string bytes;
       return ReadWholeFile(p, &bytes) != FALSE;
     }},
};

void PrintTo(const EntryPoint& e, std::ostream* out) { *out << e.name; }

class FileCallEscape : public ImageTest,
                       public ::testing::WithParamInterface<std::tuple<EntryPoint, Escape>> {
 protected:
  void SetUp() override {
    ImageTest::SetUp();
    outside_ = std::make_unique<TempDir>();
    pelisto::testing::WriteHostFile(outside_->path() + "/secret", "secret");
    PutFile("C:\\src.txt", "planted");
    std::get<1>(GetParam()).plant(prefix() + "/drive_c", outside_->path());
  }
  void TearDown() override {
    outside_.reset();
    ImageTest::TearDown();
  }

  std::vector<std::string> Outside() const { return pelisto::testing::FilesBelow(outside_->path()); }

  std::unique_ptr<TempDir> outside_;
};

TEST_P(FileCallEscape, IsRefusedAndTouchesNothingOutside) {
  const auto& [entry, escape] = GetParam();
  const std::vector<std::string> before = Outside();
  struct stat secret_before;
  ASSERT_EQ(stat((outside_->path() + "/secret").c_str(), &secret_before), 0);
  for (bool elevated : {false, true}) {
    ImpersonationScope scope(Token{elevated ? IntegrityLevel::kHigh : IntegrityLevel::kMedium});
    if (entry.write != nullptr) {
      SetLastError(kSentinel);
      EXPECT_FALSE(entry.write(escape.fresh)) << escape.fresh;
      EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << escape.fresh;
    }
    if (entry.read != nullptr) {
      SetLastError(kSentinel);
      EXPECT_FALSE(entry.read(escape.existing)) << escape.existing;
      EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << escape.existing;
    }
  }
  EXPECT_EQ(Outside(), before) << "a file outside the image was made or changed";
  struct stat secret_after;
  ASSERT_EQ(stat((outside_->path() + "/secret").c_str(), &secret_after), 0);
  EXPECT_EQ(secret_after.st_mode, secret_before.st_mode) << "its attributes were changed";
}

INSTANTIATE_TEST_SUITE_P(
    Links, FileCallEscape, ::testing::Combine(::testing::ValuesIn(kEntryPoints), ::testing::ValuesIn(kEscapes)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
    });

class ConfinementTest : public ImageTest {};

// Links that stay inside the drive work as on Windows, and are judged by where they lead.
TEST_F(ConfinementTest, LinksInsideTheDriveAreFollowedAndJudgedWhereTheyLead) {
  const std::string drive = prefix() + "/drive_c";
  machine().FolderPath(KnownFolder::kWindows);
  machine().FolderPath(KnownFolder::kDesktop);
  machine().FolderPath(KnownFolder::kLocalAppDataLow);
  PutFile("C:\\Data\\in.txt", "inside");
  fs::create_directory_symlink("../../../Data", drive + "/Users/user/Desktop/data");
  fs::create_directory_symlink(drive + "/Windows", drive + "/Users/user/Desktop/win");
  fs::create_directory_symlink("../../../../Windows", drive + "/Users/user/AppData/LocalLow/win");
  fs::create_symlink("in.txt", drive + "/Data/alias.txt");

  std::string bytes;
  ASSERT_TRUE(ReadWholeFile("C:\\Users\\user\\Desktop\\data\\alias.txt", &bytes));
  EXPECT_EQ(bytes, "inside");
  ASSERT_TRUE(WriteFileAtomically("C:\\Users\\user\\Desktop\\data\\new.txt", "made"));
  EXPECT_EQ(GetFile("C:\\Data\\new.txt"), "made");

  // A medium caller may not write C:\Windows by way of its Desktop, a low caller by way of
  // LocalLow; reading there is allowed.
  PutFile("C:\\Windows\\win.ini", "[windows]");
  SetLastError(kSentinel);
  EXPECT_FALSE(WriteFileAtomically("C:\\Users\\user\\Desktop\\win\\x.txt", "x"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(CreateDirectoryA("C:\\Users\\user\\Desktop\\win\\Sub", nullptr));
  EXPECT_FALSE(DeleteFileA("C:\\Users\\user\\Desktop\\win\\win.ini"));
  EXPECT_TRUE(ReadWholeFile("C:\\Users\\user\\Desktop\\win\\win.ini", &bytes));
  {
    ImpersonationScope low(Token{IntegrityLevel::kLow});
    SetLastError(kSentinel);
    EXPECT_EQ(FileOpen("C:\\Users\\user\\AppData\\LocalLow\\win\\x.txt", "w"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    std::FILE* own = FileOpen("C:\\Users\\user\\AppData\\LocalLow\\own.txt", "w");
    EXPECT_NE(own, nullptr) << "the low folder itself stays writable";
    if (own) std::fclose(own);
  }
  EXPECT_FALSE(HostExists("C:\\Windows\\x.txt"));
  EXPECT_FALSE(HostExists("C:\\Windows\\Sub"));
  // A link itself is deleted, never what it leads to.
  ASSERT_TRUE(DeleteFileA("C:\\Data\\alias.txt"));
  EXPECT_EQ(GetFile("C:\\Data\\in.txt"), "inside");
}

// A link planted as the last component, inside the drive, and a dangling one: a move onto
// it replaces the link, whatever it pointed at (the destination's attributes are read only
// where it exists).
TEST_F(ConfinementTest, MoveOntoADanglingLinkReplacesTheLink) {
  const std::string drive = prefix() + "/drive_c";
  PutFile("C:\\a.txt", "a");
  fs::create_symlink("missing.txt", drive + "/dangle.txt");
  SetLastError(kSentinel);
  EXPECT_FALSE(MoveFileExA("C:\\a.txt", "C:\\dangle.txt", 0));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  ASSERT_TRUE(MoveFileExA("C:\\a.txt", "C:\\dangle.txt", MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(fs::is_symlink(drive + "/dangle.txt"));
  EXPECT_EQ(GetFile("C:\\dangle.txt"), "a");
  EXPECT_FALSE(HostExists("C:\\missing.txt"));
}

// One thread swaps a folder of the path between a link inside the drive and a link out while
// another creates files through it: nothing ever lands outside, whatever the timing.
TEST_F(ConfinementTest, SwappingALinkDuringOpensNeverLandsOutside) {
  constexpr int kSwaps = 2000;
  TempDir outside;
  const std::string drive = prefix() + "/drive_c";
  PutFile("C:\\inside\\keep", "");
  fs::create_directory_symlink(drive + "/inside", drive + "/in-link");
  fs::create_directory_symlink(outside.path(), drive + "/out-link");
  fs::create_directory_symlink(drive + "/inside", drive + "/race");

  std::atomic<bool> done{false};
  std::thread swapper([&] {
    const std::string race = drive + "/race", tmp = drive + "/race.tmp";
    for (int swap = 0; swap < kSwaps; ++swap) {
      // A prepared link renamed over "race" in one step, as an attacker would swap it.
      fs::copy_symlink(drive + (swap % 2 == 0 ? "/out-link" : "/in-link"), tmp);
      std::rename(tmp.c_str(), race.c_str());
    }
    done = true;
  });
  int made = 0;
  for (int i = 0; !done.load() || i < kSwaps; ++i) {
    const std::string path = "C:\\race\\f" + std::to_string(i);
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (IsValidHandle(h)) {
      ++made;
      CloseHandle(h);
    } else {
      EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << path;
    }
  }
  swapper.join();
  EXPECT_TRUE(fs::is_empty(outside.path())) << "files were created outside the image";
  int inside = 0;
  for (const auto& e : fs::directory_iterator(drive + "/inside")) inside += e.path().filename() != "keep";
  EXPECT_EQ(inside, made);
}

// A drive that maps a folder above the image (the host's root, or the prefix itself) reaches
// neither the prefix's own files nor C: under another name: the path is judged as the C: path
// it really is.
TEST_F(ConfinementTest, ADriveAboveTheImageNeverReachesItsOwnFilesAndIsJudgedAsC) {
  os::ImageSettings s = machine().settings();
  s.drives['Z'] = "/";
  s.drives['P'] = ".";
  Reconfigure(s);
  machine().FolderPath(KnownFolder::kWindows);
  machine().FolderPath(KnownFolder::kDesktop);
  for (const std::string& root : {"Z:" + prefix(), std::string("P:")}) {
    std::string win = root;
    for (char& c : win) c = c == '/' ? '\\' : c;
    for (const char* own : {"\\registry.db", "\\image.conf", "\\registry.db-journal", "\\windows\\x"}) {
      SetLastError(kSentinel);
      EXPECT_EQ(FileOpen(win + own, "w"), nullptr) << win + own;
      EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << win + own;
      ImpersonationScope high(Token{IntegrityLevel::kHigh});
      EXPECT_EQ(GetFileAttributesA(win + own), INVALID_FILE_ATTRIBUTES) << win + own;
      EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << win + own;
      EXPECT_FALSE(CopyFileA(win + "\\image.conf", "C:\\copy.conf", FALSE)) << win;
    }
    SetLastError(kSentinel);
    EXPECT_FALSE(WriteFileAtomically(win + "\\drive_c\\Windows\\x.txt", "x")) << win;
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << win;
    EXPECT_TRUE(WriteFileAtomically(win + "\\drive_c\\Users\\user\\Desktop\\x.txt", "mine")) << win;
    EXPECT_EQ(GetFile("C:\\Users\\user\\Desktop\\x.txt"), "mine");
  }
  EXPECT_FALSE(HostExists("C:\\Windows\\x.txt"));
  EXPECT_FALSE(fs::exists(prefix() + "/windows/x"));
}

// An image whose user name would move the profile (and with it the low folders) is refused;
// and were such a name ever in force, the low rule refuses rather than counting the whole
// drive as the low folder.
TEST_F(ConfinementTest, AUserNameThatMovesTheProfileIsRefusedAndTheRuleFailsClosed) {
  for (const std::string& user : {std::string("a|b"), std::string(260, 'u'), std::string(".."),
                                  std::string("a\\..\\..\\Windows"), std::string("x.")}) {
    pelisto::testing::WriteHostFile(prefix() + "/image.conf", "user=" + user + "\n");
    std::string error;
    EXPECT_EQ(Machine::Open(prefix(), &error), nullptr) << user;
    EXPECT_NE(error.find("bad value for user"), std::string::npos) << error;
  }
  os::ImageSettings s = machine().settings();
  s.user = "a|b";
  machine().mutable_settings() = s;
  WinPath system32;
  ASSERT_EQ(ParseWinPath("C:\\Windows\\system32\\evil.dll", &system32), ERROR_SUCCESS);
  EXPECT_EQ(CheckFileWrite(machine(), Token{IntegrityLevel::kLow}, system32), ERROR_ACCESS_DENIED);
  EXPECT_EQ(CheckFileWrite(machine(), Token{IntegrityLevel::kMedium}, system32), ERROR_ACCESS_DENIED);
}

// image.conf names programs that are run: an image that another user could change is not
// used, nor an image.conf that is a link.
TEST_F(ConfinementTest, AnImageOthersCanWriteIsRefused) {
  const std::string conf = prefix() + "/image.conf";
  std::string error;
  struct Case {
    const char* name;
    std::function<void()> arrange;
    const char* says;
  };
  const Case cases[] = {
      {"conf_group_writable", [&] { chmod(conf.c_str(), 0664); }, "other users can write it"},
      {"conf_world_writable", [&] { chmod(conf.c_str(), 0646); }, "other users can write it"},
      {"prefix_world_writable", [&] { chmod(prefix().c_str(), 0777); }, "other users can write it"},
      {"conf_is_a_link",
       [&] {
         fs::rename(conf, prefix() + "/real.conf");
         fs::create_symlink(prefix() + "/real.conf", conf);
       },
       "it is a link"},
  };
  for (const Case& c : cases) {
    c.arrange();
    EXPECT_EQ(Machine::Open(prefix(), &error), nullptr) << c.name;
    EXPECT_NE(error.find(c.says), std::string::npos) << c.name << ": " << error;
    chmod(prefix().c_str(), 0700);
    if (fs::is_symlink(conf)) {
      fs::remove(conf);
      fs::rename(prefix() + "/real.conf", conf);
    }
    chmod(conf.c_str(), 0644);
    EXPECT_NE(Machine::Open(prefix(), &error), nullptr) << c.name << ": " << error;
  }
  if (geteuid() == 0) {
    // Another user's image is not root's to trust (unless root serves that user).
    ASSERT_EQ(chown(conf.c_str(), 4242, 4242), 0);
    EXPECT_EQ(Machine::Open(prefix(), &error), nullptr);
    EXPECT_NE(error.find("owned by user 4242"), std::string::npos) << error;
  }
}

// Only regular files are read, copied, run or loaded: a pipe planted in the image would hang
// the caller (and a device never end); a folder link out is no folder to start a program in.
TEST_F(ConfinementTest, PipesAreNeitherReadNorRunNorLoadedAndNoProgramStartsOutside) {
  const std::string vendor = prefix() + "/drive_c/Vendor";
  PutFile("C:\\Vendor\\run.exe", "#!/bin/sh\necho ran > ran.txt\n");
  for (const char* name : {"pipe.txt", "pipe.exe", "pipe.dll"}) {
    ASSERT_EQ(mkfifo((vendor + "/" + name).c_str(), 0644), 0) << name;
  }
  const std::vector<std::pair<std::string, std::function<bool()>>> calls = {
      {"CopyFileA", [] { return CopyFileA("C:\\Vendor\\pipe.txt", "C:\\copy.txt", FALSE) != FALSE; }},
      {"FileOpen", [] { return Closed(FileOpen("C:\\Vendor\\PIPE.TXT", "r")); }},
      {"CreateProcessA", [] { return Ran("C:\\Vendor\\pipe.exe"); }},
      {"LoadLibraryExA", [] { return Loaded("C:\\Vendor\\pipe.dll"); }},
  };
  for (const auto& [name, call] : calls) {
    SetLastError(kSentinel);
    EXPECT_FALSE(call()) << name;
    EXPECT_NE(GetLastError(), kSentinel) << name;
  }
  EXPECT_FALSE(HostExists("C:\\copy.txt"));

  TempDir outside;
  fs::create_directory_symlink(outside.path(), vendor + "/out");
  SetLastError(kSentinel);
  EXPECT_FALSE(Ran("C:\\Vendor\\run.exe", "C:\\Vendor\\out"));
  EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
  EXPECT_TRUE(fs::is_empty(outside.path()));
  ASSERT_TRUE(Ran("C:\\Vendor\\run.exe", "C:\\Vendor"));
  EXPECT_EQ(GetFile("C:\\Vendor\\ran.txt"), "ran\n");
}

// A component's needed library is looked for in the image's folders only: a link there that
// leads out fails the load rather than bringing in the library it points at.
TEST_F(ConfinementTest, ANeededLibraryReachedThroughALinkOutIsNeverLoaded) {
  TempDir outside;
  const std::string vendor = prefix() + "/drive_c/Vendor";
  fs::create_directories(vendor);
  const std::string fixtures = PELISTO_FIXTURE_DIR;
  fs::copy_file(fixtures + "/" + pelisto::fixtures::kDepUserDll, vendor + "/depuser.dll");
  fs::copy_file(fixtures + "/" + pelisto::fixtures::kDependDll, outside.path() + "/depend.dll");
  fs::create_symlink(outside.path() + "/depend.dll", vendor + "/depend.dll");
  ClearLoadedComponentFiles();
  SetLastError(kSentinel);
  EXPECT_EQ(LoadLibraryExA("C:\\Vendor\\depuser.dll", nullptr, LOAD_WITH_ALTERED_SEARCH_PATH), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(LoadedComponentFiles().empty());
  EXPECT_EQ(pelisto::testing::ReadHostFile("/proc/self/maps").find(outside.path()), std::string::npos)
      << "the library outside was mapped";
}

// A folder searched without regard to case sees what other programs did to it since.
TEST_F(ConfinementTest, NamesFoundWithoutCaseFollowChangesMadeFromOutside) {
  PutFile("C:\\Box\\keep.txt", "");
  const std::string box = prefix() + "/drive_c/Box";
  EXPECT_FALSE(FileExists("C:\\Box\\README.TXT"));
  pelisto::testing::WriteHostFile(box + "/ReadMe.txt", "made outside");
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile("C:\\Box\\README.TXT", &bytes));
  EXPECT_EQ(bytes, "made outside");
  fs::rename(box + "/ReadMe.txt", box + "/Other.txt");
  EXPECT_FALSE(FileExists("C:\\Box\\readme.txt"));
  EXPECT_TRUE(FileExists("C:\\Box\\OTHER.TXT"));
  fs::remove_all(box);
  fs::create_directories(box);
  pelisto::testing::WriteHostFile(box + "/New.txt", "");
  EXPECT_TRUE(FileExists("C:\\BOX\\new.TXT")) << "a folder made again under its old name";
  // A new file keeps the case given, next to none of another case.
  ASSERT_TRUE(WriteFileAtomically("C:\\Box\\Fresh.Txt", "x"));
  EXPECT_TRUE(fs::exists(box + "/Fresh.Txt"));
}

}  // namespace
