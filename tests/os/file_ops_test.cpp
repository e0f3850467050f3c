#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "os/base/error.h"
#include "os/fs/file_api.h"
#include "os/fs/file_util.h"
#include "os/image/integrity.h"
#include "tests/support/image_test.h"

namespace {
using pelisto::testing::ImageTest;
using pelisto::testing::ReadHostFile;
using pelisto::testing::WriteHostFile;
using namespace os;

constexpr DWORD kSentinel = 0xDEADBEEF;

class FileOpsTest : public ImageTest {
 protected:
  // Seeds the last error so that a test proves the call set it.
  static void Seed() { SetLastError(kSentinel); }
};

TEST_F(FileOpsTest, CreateDirectoryReportsAnExistingFolderAsItsOwnError) {
  Seed();
  ASSERT_TRUE(CreateDirectoryA("C:\\work", nullptr));
  Seed();
  EXPECT_FALSE(CreateDirectoryA("c:\\WORK", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  Seed();
  EXPECT_FALSE(CreateDirectoryA("C:\\missing\\child", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_TRUE(IsDirectory("C:\\Work"));
}

TEST_F(FileOpsTest, LinksShowAsReparsePoints) {
  PutFile("C:\\target\\file.txt", "x");
  std::filesystem::create_directory_symlink(Host("C:\\target"), Host("C:\\dirlink"));
  std::filesystem::create_symlink(Host("C:\\target\\file.txt"), Host("C:\\filelink"));
  EXPECT_EQ(GetFileAttributesA("C:\\dirlink"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_EQ(GetFileAttributesA("C:\\filelink"), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_EQ(GetFileAttributesA("C:\\target"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesA("C:\\dirlink\\file.txt"), FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(FileOpsTest, BadPathsGiveTheWindowsErrorAndTouchNothing) {
  struct Case {
    std::string path;
    DWORD error;
  };
  const std::vector<Case> cases = {
      {"", ERROR_PATH_NOT_FOUND},
      {"relative\\dir", ERROR_PATH_NOT_FOUND},
      {"C:\\" + std::string(300, 'x'), ERROR_FILENAME_EXCED_RANGE},
      {"C:\\bad|name", ERROR_INVALID_NAME},
      {"Q:\\unmapped", ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    Seed();
    EXPECT_FALSE(CreateDirectoryA(c.path, nullptr)) << c.path;
    EXPECT_EQ(GetLastError(), c.error) << c.path;
    Seed();
    EXPECT_EQ(GetFileAttributesA(c.path), INVALID_FILE_ATTRIBUTES) << c.path;
    EXPECT_EQ(GetLastError(), c.error) << c.path;
  }
  // ".." stops at the drive root: the folder is made inside drive_c, never beside it.
  ASSERT_TRUE(CreateDirectoryA("C:\\..\\..\\outside", nullptr));
  EXPECT_TRUE(HostExists("C:\\outside"));
}

TEST_F(FileOpsTest, CopyFileHonoursFailIfExistsAndKeepsTheTime) {
  PutFile("C:\\src.txt", "new content");
  PutFile("C:\\dst.txt", "old");
  Seed();
  EXPECT_FALSE(CopyFileA("C:\\src.txt", "C:\\dst.txt", TRUE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_EQ(GetFile("C:\\dst.txt"), "old");
  ASSERT_TRUE(CopyFileA("C:\\SRC.TXT", "C:\\dst.txt", FALSE));
  EXPECT_EQ(GetFile("C:\\dst.txt"), "new content");

  Seed();
  EXPECT_FALSE(CopyFileA("C:\\nothing.txt", "C:\\x.txt", FALSE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  Seed();
  EXPECT_FALSE(CopyFileA("C:\\src.txt", "C:\\no\\such\\dir\\x.txt", FALSE));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FileOpsTest, CopyOntoAFileInUseIsASharingViolationAndLeavesItIntact) {
  PutFile("C:\\src.txt", "new");
  PutFile("C:\\busy.txt", "busy");
  HANDLE h = CreateFileA("C:\\busy.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_TRUE(IsValidHandle(h));
  Seed();
  EXPECT_FALSE(CopyFileA("C:\\src.txt", "C:\\busy.txt", FALSE));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  CloseHandle(h);
  EXPECT_TRUE(CopyFileA("C:\\src.txt", "C:\\busy.txt", FALSE));
  EXPECT_EQ(GetFile("C:\\busy.txt"), "new");
}

TEST_F(FileOpsTest, MoveAndDeleteFollowWindowsRules) {
  PutFile("C:\\a.txt", "a");
  PutFile("C:\\b.txt", "b");
  Seed();
  EXPECT_FALSE(MoveFileA("C:\\a.txt", "C:\\b.txt"));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  ASSERT_TRUE(MoveFileExA("C:\\a.txt", "C:\\b.txt", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetFile("C:\\b.txt"), "a");
  EXPECT_FALSE(HostExists("C:\\a.txt"));

  Seed();
  EXPECT_FALSE(DeleteFileA("C:\\a.txt"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  Seed();
  EXPECT_FALSE(DeleteFileA("C:\\nodir\\a.txt"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  ASSERT_TRUE(SetFileAttributesA("C:\\b.txt", FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(GetFileAttributesA("C:\\b.txt") & FILE_ATTRIBUTE_READONLY);
  Seed();
  EXPECT_FALSE(DeleteFileA("C:\\b.txt"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(SetFileAttributesA("C:\\b.txt", FILE_ATTRIBUTE_NORMAL));

  HANDLE h = CreateFileA("C:\\b.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  Seed();
  EXPECT_FALSE(DeleteFileA("C:\\b.txt"));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  CloseHandle(h);
  EXPECT_TRUE(DeleteFileA("C:\\b.txt"));
}

TEST_F(FileOpsTest, ShareModesDecideWhetherASecondOpenSucceeds) {
  PutFile("C:\\f.bin", "data");
  HANDLE writer = CreateFileA("C:\\f.bin", GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_TRUE(IsValidHandle(writer));
  // Readers that allow the writer get in; a second writer does not.
  HANDLE reader = CreateFileA("C:\\f.bin", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  EXPECT_TRUE(IsValidHandle(reader));
  Seed();
  EXPECT_EQ(CreateFileA("C:\\f.bin", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        CREATE_ALWAYS, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(GetFile("C:\\f.bin"), "data") << "a refused open must not truncate";
  Seed();
  EXPECT_EQ(FileOpen("C:\\f.bin", "wb"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  CloseHandle(reader);
  CloseHandle(writer);
  std::FILE* f = FileOpen("C:\\f.bin", "wb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
}

TEST_F(FileOpsTest, HandlesReadWriteSeekAndKeepTimes) {
  HANDLE h = CreateFileA("C:\\t.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_TRUE(IsValidHandle(h));
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "hello world", 11, &n, nullptr));
  EXPECT_EQ(n, 11u);
  EXPECT_EQ(SetFilePointer(h, 6, nullptr, FILE_BEGIN), 6u);
  char buf[16] = {};
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "world");
  EXPECT_EQ(GetFileSize(h, nullptr), 11u);

  SYSTEMTIME st;
  st.wYear = 2026;
  st.wMonth = 12;
  st.wDay = 7;
  st.wHour = 5;
  st.wMinute = 30;
  FILETIME ft, back;
  ASSERT_TRUE(SystemTimeToFileTime(st, &ft));
  ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &ft));
  ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &back));
  EXPECT_EQ(back.dwLowDateTime, ft.dwLowDateTime);
  EXPECT_EQ(back.dwHighDateTime, ft.dwHighDateTime);
  CloseHandle(h);

  Seed();
  EXPECT_EQ(CreateFileA("C:\\t.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  Seed();
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(FileOpsTest, FileOpenModesAppendTruncateAndRead) {
  std::FILE* f = FileOpen("C:\\log.txt", "a+");
  ASSERT_NE(f, nullptr);
  std::fputs("one\r\n", f);
  std::fclose(f);
  f = FileOpen("C:\\log.txt", "a+");
  std::fputs("two\r\n", f);
  std::fclose(f);
  EXPECT_EQ(GetFile("C:\\log.txt"), "one\r\ntwo\r\n");
  f = FileOpen("C:\\log.txt", "w");
  std::fclose(f);
  EXPECT_EQ(GetFile("C:\\log.txt"), "");
  Seed();
  EXPECT_EQ(FileOpen("C:\\absent.txt", "rb"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FileOpsTest, TempFileNamesAreUniqueAcrossThreads) {
  ASSERT_TRUE(CreateDirectoryA("C:\\tmpdir", nullptr));
  std::vector<std::vector<std::string>> names(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 100; ++i) {
        std::string name;
        if (GetTempFileNameA("C:\\tmpdir", "tmpfile", 0, &name) != 0) names[t].push_back(name);
      }
    });
  }
  for (auto& th : threads) th.join();
  std::set<std::string> all;
  for (const auto& v : names) {
    EXPECT_EQ(v.size(), 100u);
    for (const auto& n : v) {
      EXPECT_TRUE(all.insert(n).second) << "duplicate " << n;
      EXPECT_EQ(n.rfind("C:\\tmpdir\\tmp", 0), 0u) << n;
      EXPECT_EQ(n.substr(n.size() - 4), ".tmp") << n;
      EXPECT_TRUE(FileExists(n)) << n;
    }
  }
  Seed();
  std::string out = "untouched";
  EXPECT_EQ(GetTempFileNameA("C:\\nowhere", "tmp", 0, &out), 0u);
  EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
  EXPECT_EQ(out, "untouched");
}

struct IntegrityCase {
  int os_major;
  IntegrityLevel level;
  const char* path;
  bool allowed;
};

void PrintTo(const IntegrityCase& c, std::ostream* out) {
  *out << "v" << c.os_major << " level " << static_cast<int>(c.level) << " " << c.path;
}

class FileOpsIntegrity : public ImageTest, public ::testing::WithParamInterface<IntegrityCase> {};

TEST_P(FileOpsIntegrity, WritesFollowTheCallersLevel) {
  const IntegrityCase& c = GetParam();
  SetOsMajor(c.os_major);
  machine().FolderPath(KnownFolder::kProgramFiles);
  machine().FolderPath(KnownFolder::kWindows);
  machine().FolderPath(KnownFolder::kLocalAppDataLow);
  machine().FolderPath(KnownFolder::kDesktop);
  ImpersonationScope scope(Token{c.level});
  SetLastError(kSentinel);
  BOOL ok = CreateDirectoryA(c.path, nullptr);
  EXPECT_EQ(ok != FALSE, c.allowed);
  if (!c.allowed) {
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  }
  EXPECT_EQ(HostExists(c.path), c.allowed);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, FileOpsIntegrity,
    ::testing::Values(
        IntegrityCase{6, IntegrityLevel::kMedium, "C:\\Program Files\\Vendor", false},
        IntegrityCase{6, IntegrityLevel::kMedium, "C:\\WINDOWS\\x", false},
        IntegrityCase{6, IntegrityLevel::kMedium, "C:\\Users\\user\\Desktop\\x", true},
        IntegrityCase{6, IntegrityLevel::kHigh, "C:\\Program Files\\Vendor", true},
        IntegrityCase{6, IntegrityLevel::kLow, "C:\\Users\\user\\Desktop\\x", false},
        IntegrityCase{6, IntegrityLevel::kLow, "C:\\Users\\user\\AppData\\LocalLow\\x", true},
        IntegrityCase{5, IntegrityLevel::kMedium, "C:\\Program Files\\Vendor", true},
        IntegrityCase{5, IntegrityLevel::kLow, "C:\\Windows\\x", true}));

TEST_F(FileOpsTest, ProtectedModeMakesTheProcessLowIntegrity) {
  ImageSettings s = machine().settings();
  s.protected_mode = true;
  Reconfigure(s);
  EXPECT_EQ(CurrentToken().level, IntegrityLevel::kLow);
  std::string temp;
  ASSERT_GT(GetTempPathA(&temp), 0u);
  EXPECT_EQ(temp, "C:\\Users\\user\\AppData\\Local\\Temp\\Low\\");
  std::string name;
  EXPECT_NE(GetTempFileNameA(temp, "tmp", 0, &name), 0u);
}

TEST_F(FileOpsTest, WholeFileWritesReplaceAtOnceAndLeaveNoTemporaryFile) {
  ASSERT_TRUE(CreateDirectoryA("C:\\cfg", nullptr));
  ASSERT_TRUE(WriteFileAtomically("C:\\cfg\\a.xml", "first"));
  ASSERT_TRUE(WriteFileAtomically("C:\\cfg\\a.xml", std::string(100000, 'x')));
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile("C:\\CFG\\A.XML", &bytes));
  EXPECT_EQ(bytes, std::string(100000, 'x'));
  std::string name;
  EXPECT_EQ(GetTempFileNameA("C:\\cfg", "pel", 0, &name) != 0, true);
  DeleteFileA(name);
  // Only the target is left in the folder.
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(Host("C:\\cfg"))) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1);

  Seed();
  EXPECT_FALSE(WriteFileAtomically("C:\\nope\\a.xml", "x"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  bytes = "untouched";
  Seed();
  EXPECT_FALSE(ReadWholeFile("C:\\cfg\\missing.xml", &bytes));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(bytes, "untouched");
}

// A part file left by a writer that died is taken over by the next write of the same target,
// whatever case names it; other targets have part files of their own.
TEST_F(FileOpsTest, APartFileLeftBehindIsTakenOverByTheNextWriteOfItsTarget) {
  ASSERT_TRUE(CreateDirectoryA("C:\\cfg", nullptr));
  const std::string part = PartFilePath("C:\\cfg\\a.xml");
  EXPECT_EQ(part.rfind("C:\\cfg\\pel", 0), 0u) << part;
  EXPECT_EQ(part.substr(part.size() - 4), ".tmp");
  EXPECT_EQ(PartFilePath("C:\\cfg\\A.XML"), part);
  EXPECT_NE(PartFilePath("C:\\cfg\\b.xml"), part);
  EXPECT_EQ(PartFilePath("a.xml"), "");
  PutFile(part, "torn");
  ASSERT_TRUE(WriteFileAtomically("C:\\cfg\\A.XML", "whole"));
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(Host("C:\\cfg"))) names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"A.XML"});
  // A part file another writer holds open is never taken from it.
  AtomicFileWriter first;
  ASSERT_TRUE(first.Open("C:\\cfg\\a.xml"));
  AtomicFileWriter second;
  EXPECT_FALSE(second.Open("C:\\cfg\\a.xml"));
  ASSERT_TRUE(first.Write("first"));
  EXPECT_TRUE(first.Commit());
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile("C:\\cfg\\a.xml", &bytes));
  EXPECT_EQ(bytes, "first");
}

// A whole-file write replaces its target on Commit only: dropped before it, the target keeps
// its old content and the temporary file goes.
TEST_F(FileOpsTest, UncommittedWholeFileWriteLeavesTheTargetAndNoTemporaryFile) {
  ASSERT_TRUE(CreateDirectoryA("C:\\cfg", nullptr));
  ASSERT_TRUE(WriteFileAtomically("C:\\cfg\\a.xml", "old"));
  {
    AtomicFileWriter writer;
    ASSERT_TRUE(writer.Open("C:\\cfg\\a.xml"));
    ASSERT_TRUE(writer.Write("new content"));
    EXPECT_EQ(writer.Size(), 11u);
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile("C:\\cfg\\a.xml", &bytes));
    EXPECT_EQ(bytes, "old");
  }
  AtomicFileWriter writer;
  ASSERT_TRUE(writer.Open("C:\\cfg\\a.xml"));
  ASSERT_TRUE(writer.Write("first"));
  ASSERT_TRUE(writer.Open("C:\\cfg\\b.xml")) << "a second open drops the first write";
  ASSERT_TRUE(writer.Commit());
  EXPECT_FALSE(writer.Commit()) << "committed once";
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile("C:\\cfg\\a.xml", &bytes));
  EXPECT_EQ(bytes, "old");
  ASSERT_TRUE(ReadWholeFile("C:\\cfg\\b.xml", &bytes));
  EXPECT_EQ(bytes, "");
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(Host("C:\\cfg"))) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.xml", "b.xml"}));
}


// Copies go through the target's part file where no unnamed file can be made, and for an
// instant even where one can (a target that exists is replaced by a rename). Either way a
// leftover of a copy that was killed is taken over, and nothing else of that name is.
class CopyPartFile : public FileOpsTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    FileOpsTest::SetUp();
    os::ImageSettings s = machine().settings();
    s.unnamed_files = GetParam();
    Reconfigure(s);
    ASSERT_TRUE(CreateDirectoryA("C:\\app", nullptr));
    PutFile("C:\\src.bin", std::string(200000, 'n'));
    PutFile("C:\\app\\t.bin", "old");
    part_ = Host(PartFilePath("C:\\app\\t.bin"));
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(Host("C:\\app"))) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string part_;
};

TEST_P(CopyPartFile, ALeftoverIsTakenOverAndOnlyTheTargetRemains) {
  WriteHostFile(part_, "torn half of an earlier copy");
  ASSERT_TRUE(CopyFileA("C:\\src.bin", "C:\\APP\\T.BIN", FALSE));
  EXPECT_EQ(GetFile("C:\\app\\t.bin"), std::string(200000, 'n'));
  EXPECT_EQ(Names(), std::vector<std::string>{"t.bin"});
  ASSERT_TRUE(MoveFileExA("C:\\app\\t.bin", "C:\\src.bin", MOVEFILE_REPLACE_EXISTING));
}

TEST_P(CopyPartFile, APartFileStillInUseIsNotTakenAndTheTargetIsKept) {
  WriteHostFile(part_, "a copy running elsewhere");
  {
    // Another copy holds its part file locked while it writes.
    const int held = ::open(part_.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    Seed();
    EXPECT_FALSE(CopyFileA("C:\\src.bin", "C:\\app\\t.bin", FALSE));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    ::close(held);
  }
  EXPECT_EQ(GetFile("C:\\app\\t.bin"), "old");
  EXPECT_EQ(ReadHostFile(part_), "a copy running elsewhere");
  {
    // A whole-file write of this process has it open.
    AtomicFileWriter writer;
    ASSERT_TRUE(writer.Open("C:\\app\\t.bin"));
    Seed();
    EXPECT_FALSE(CopyFileA("C:\\src.bin", "C:\\app\\t.bin", FALSE));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    ASSERT_TRUE(writer.Write("written"));
    ASSERT_TRUE(writer.Commit());
  }
  EXPECT_EQ(GetFile("C:\\app\\t.bin"), "written");
  EXPECT_EQ(Names(), std::vector<std::string>{"t.bin"});
}

TEST_P(CopyPartFile, ALinkOfThatNameIsRemovedUnfollowedAndAFolderStopsTheCopy) {
  pelisto::testing::TempDir outside;
  const std::string victim = outside.path() + "/victim";
  WriteHostFile(victim, "outside");
  std::filesystem::create_symlink(victim, part_);
  ASSERT_TRUE(CopyFileA("C:\\src.bin", "C:\\app\\t.bin", FALSE));
  EXPECT_EQ(ReadHostFile(victim), "outside");
  EXPECT_EQ(GetFile("C:\\app\\t.bin"), std::string(200000, 'n'));
  EXPECT_EQ(Names(), std::vector<std::string>{"t.bin"});

  std::filesystem::create_directory(part_);
  PutFile("C:\\app\\t.bin", "old");
  Seed();
  EXPECT_FALSE(CopyFileA("C:\\src.bin", "C:\\app\\t.bin", FALSE));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetFile("C:\\app\\t.bin"), "old");
  EXPECT_TRUE(std::filesystem::is_directory(part_));
}

INSTANTIATE_TEST_SUITE_P(UnnamedFiles, CopyPartFile, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Unnamed" : "Named"; });
}  // namespace
