#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "os/base/error.h"
#include "os/base/handle.h"
#include "os/image/integrity.h"
#include "os/process/command_line.h"
#include "os/process/process.h"
#include "tests/support/image_test.h"

namespace {
namespace fs = std::filesystem;
using pelisto::testing::ImageTest;

constexpr os::DWORD kSentinel = 0xDEADBEEF;

// ---------------------------------------------------------------------------------------------
// Command-line splitting

struct SplitCase {
  const char* line;
  std::vector<std::string> args;
};

void PrintTo(const SplitCase& c, std::ostream* out) { *out << c.line; }

class ProcessCommandLine : public ::testing::TestWithParam<SplitCase> {};

TEST_P(ProcessCommandLine, SplitsAsTheRuntimeDoes) {
  EXPECT_EQ(os::SplitCommandLine(GetParam().line), GetParam().args) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ProcessCommandLine,
    ::testing::Values(
        SplitCase{"", {}},
        SplitCase{"   ", {}},
        SplitCase{"setup.exe", {"setup.exe"}},
        SplitCase{"\"C:\\Program Files\\A\\a.exe\" /s x", {"C:\\Program Files\\A\\a.exe", "/s", "x"}},
        // The program's backslashes are never escapes, even before its closing quote.
        SplitCase{"\"C:\\dir\\\" arg", {"C:\\dir\\", "arg"}},
        SplitCase{"a.exe \"two words\"\tthree", {"a.exe", "two words", "three"}},
        SplitCase{"a.exe a\\\\b c\\d", {"a.exe", "a\\\\b", "c\\d"}},
        SplitCase{"a.exe a\\\"b", {"a.exe", "a\"b"}},
        SplitCase{"a.exe a\\\\\"b c\"", {"a.exe", "a\\b c"}},
        SplitCase{"a.exe \"a\"\"b\"", {"a.exe", "a\"b"}},
        SplitCase{"a.exe \"\"", {"a.exe", ""}},
        SplitCase{"a.exe x\"y z\"w", {"a.exe", "xy zw"}},
        SplitCase{"a.exe \"unclosed arg", {"a.exe", "unclosed arg"}}));

// ---------------------------------------------------------------------------------------------
// Starting programs

class ProcessTest : public ImageTest {
 protected:
  // A shell script at `win_path`; the file is written without the execute permission, as
  // every downloaded file is.
  void PutScript(const std::string& win_path, const std::string& body) {
    PutFile(win_path, "#!/bin/sh\n" + body);
  }

  os::PROCESS_INFORMATION Start(const char* application, const char* command_line,
                                const char* folder = nullptr, const void* environment = nullptr) {
    os::STARTUPINFOA si{};
    si.cb = 68;
    os::PROCESS_INFORMATION pi;
    os::SetLastError(kSentinel);
    EXPECT_EQ(os::CreateProcessA(application, command_line, nullptr, nullptr, os::FALSE, 0,
                                 environment, folder, &si, &pi),
              os::TRUE)
        << "error " << os::GetLastError();
    return pi;
  }

  os::DWORD Finish(const os::PROCESS_INFORMATION& pi) {
    EXPECT_EQ(os::WaitForSingleObject(pi.hProcess, os::INFINITE), os::WAIT_OBJECT_0);
    os::DWORD code = 12345;
    EXPECT_EQ(os::GetExitCodeProcess(pi.hProcess, &code), os::TRUE);
    EXPECT_EQ(os::CloseHandle(pi.hThread), os::TRUE);
    EXPECT_EQ(os::CloseHandle(pi.hProcess), os::TRUE);
    return code;
  }
};

TEST_F(ProcessTest, RunsAProgramOfTheImageAndReportsItsExitCode) {
  const std::string path = "C:\\Program Files\\Vendor\\setup.exe";
  PutScript(path, "exit 7\n");
  os::PROCESS_INFORMATION pi = Start(path.c_str(), nullptr);
  ASSERT_TRUE(os::IsValidHandle(pi.hProcess));
  EXPECT_NE(pi.dwProcessId, 0u);
  EXPECT_EQ(os::GetProcessId(pi.hProcess), pi.dwProcessId);
  EXPECT_EQ(Finish(pi), 7u);
}

TEST_F(ProcessTest, StillActiveUntilTheProgramEnds) {
  const std::string path = "C:\\Vendor\\wait.exe";
  PutScript(path, "while [ ! -e go ]; do sleep 0.01; done\nexit 3\n");
  os::PROCESS_INFORMATION pi = Start(path.c_str(), nullptr);
  os::DWORD code = 0;
  ASSERT_EQ(os::GetExitCodeProcess(pi.hProcess, &code), os::TRUE);
  EXPECT_EQ(code, os::STILL_ACTIVE);
  EXPECT_EQ(os::WaitForSingleObject(pi.hProcess, 0), os::WAIT_TIMEOUT);
  EXPECT_EQ(os::WaitForSingleObject(pi.hThread, 0), os::WAIT_TIMEOUT);

  PutFile("C:\\Vendor\\go", "");
  // The waiting loop callers use: a bounded wait, then the exit code, until it is final.
  do {
    ASSERT_NE(os::WaitForSingleObject(pi.hProcess, 2000), os::WAIT_FAILED);
    code = 0;
    ASSERT_EQ(os::GetExitCodeProcess(pi.hProcess, &code), os::TRUE);
  } while (code == os::STILL_ACTIVE);
  EXPECT_EQ(code, 3u);
  EXPECT_EQ(os::WaitForSingleObject(pi.hThread, 0), os::WAIT_OBJECT_0) << "the thread ended with it";
  EXPECT_EQ(Finish(pi), 3u);
}

TEST_F(ProcessTest, PassesArgumentsEnvironmentAndFolder) {
  const std::string path = "C:\\Program Files\\Vendor\\args.exe";
  PutScript(path,
            "out=out.txt\n"
            "echo \"$#\" > $out\n"
            "for a in \"$@\"; do echo \"[$a]\" >> $out; done\n"
            "echo \"$PELISTO_PREFIX\" >> $out\n"
            "echo \"$EXTRA\" >> $out\n"
            "pwd >> $out\n");
  os::PROCESS_INFORMATION pi =
      Start(nullptr, "\"C:\\Program Files\\Vendor\\args.exe\" one \"two words\" th\\\"ree");
  EXPECT_EQ(Finish(pi), 0u);
  EXPECT_EQ(GetFile("C:\\Program Files\\Vendor\\out.txt"),
            "3\n[one]\n[two words]\n[th\"ree]\n" + prefix() + "\n\n" + Host("C:\\Program Files\\Vendor") + "\n");

  // An explicit environment block and folder; the prefix is added to the block.
  PutFile("C:\\Work\\keep", "");
  const char block[] = "EXTRA=given\0PELISTO_PREFIX=/elsewhere\0";
  pi = Start(path.c_str(), nullptr, "C:\\Work", block);
  EXPECT_EQ(Finish(pi), 0u);
  EXPECT_EQ(GetFile("C:\\Work\\out.txt"), "0\n" + prefix() + "\ngiven\n" + Host("C:\\Work") + "\n");
}

TEST_F(ProcessTest, BareNamesAreFoundInTheSystemFolders) {
  PutScript("C:\\Windows\\system32\\tool.exe", "exit 5\n");
  EXPECT_EQ(Finish(Start(nullptr, "tool /quiet")), 5u);
}

TEST_F(ProcessTest, LowIntegrityCallerMayStartPrograms) {
  os::SetProcessIntegrity(os::IntegrityLevel::kLow);
  PutScript("C:\\Program Files\\Vendor\\setup.exe", "exit 0\n");
  EXPECT_EQ(Finish(Start("C:\\Program Files\\Vendor\\setup.exe", nullptr)), 0u);
}

TEST_F(ProcessTest, TerminateSetsTheExitCodeAndCrashesAreReported) {
  PutScript("C:\\Vendor\\hang.exe", "exec sleep 30\n");
  os::PROCESS_INFORMATION pi = Start("C:\\Vendor\\hang.exe", nullptr);
  EXPECT_EQ(os::TerminateProcess(pi.hProcess, 42), os::TRUE);
  EXPECT_EQ(os::WaitForSingleObject(pi.hProcess, os::INFINITE), os::WAIT_OBJECT_0);
  os::SetLastError(kSentinel);
  EXPECT_EQ(os::TerminateProcess(pi.hProcess, 1), os::FALSE);
  EXPECT_EQ(os::GetLastError(), os::ERROR_ACCESS_DENIED);
  EXPECT_EQ(Finish(pi), 42u);

  PutScript("C:\\Vendor\\crash.exe", "kill -ABRT $$\n");
  EXPECT_EQ(Finish(Start("C:\\Vendor\\crash.exe", nullptr)), 3u) << "abort, as Windows reports it";
}

TEST_F(ProcessTest, ThreadHandleIsNotAProcess) {
  PutScript("C:\\Vendor\\quick.exe", "exit 0\n");
  os::PROCESS_INFORMATION pi = Start("C:\\Vendor\\quick.exe", nullptr);
  os::DWORD code = 0;
  os::SetLastError(kSentinel);
  EXPECT_EQ(os::GetExitCodeProcess(pi.hThread, &code), os::FALSE);
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_HANDLE);
  EXPECT_EQ(Finish(pi), 0u);
}

struct StartFailure {
  const char* name;
  const char* application;  // given as the application name unless null
  const char* command_line;
  const char* content;      // put at `application` when not null
  os::DWORD flags;
  os::DWORD error;
};

void PrintTo(const StartFailure& c, std::ostream* out) { *out << c.name; }

class ProcessStartFailure : public ProcessTest, public ::testing::WithParamInterface<StartFailure> {};

TEST_P(ProcessStartFailure, FailsWithTheSystemsCode) {
  const StartFailure& c = GetParam();
  PutFile("C:\\Vendor\\keep.txt", "the folder exists");
  if (c.content != nullptr) PutFile(c.application, c.content);
  os::STARTUPINFOA si{};
  os::PROCESS_INFORMATION pi;
  os::SetLastError(kSentinel);
  EXPECT_EQ(os::CreateProcessA(c.application, c.command_line, nullptr, nullptr, os::FALSE, c.flags,
                               nullptr, nullptr, &si, &pi),
            os::FALSE);
  EXPECT_EQ(os::GetLastError(), c.error) << c.name;
  EXPECT_EQ(pi.hProcess, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProcessStartFailure,
    ::testing::Values(
        StartFailure{"missing_file", "C:\\Vendor\\missing.exe", nullptr, nullptr, 0, os::ERROR_FILE_NOT_FOUND},
        StartFailure{"missing_folder", "C:\\Nowhere\\setup.exe", nullptr, nullptr, 0, os::ERROR_PATH_NOT_FOUND},
        StartFailure{"relative_path", "setup.exe", nullptr, nullptr, 0, os::ERROR_FILE_NOT_FOUND},
        StartFailure{"folder", "C:\\Vendor", nullptr, nullptr, 0, os::ERROR_ACCESS_DENIED},
        StartFailure{"data_file", "C:\\Vendor\\readme.exe", nullptr, "Just text.\r\n", 0,
                     os::ERROR_BAD_EXE_FORMAT},
        StartFailure{"missing_interpreter", "C:\\Vendor\\odd.exe", nullptr, "#!/no/such/shell\n", 0,
                     os::ERROR_BAD_EXE_FORMAT},
        StartFailure{"unknown_bare_name", nullptr, "notthere /s", nullptr, 0, os::ERROR_FILE_NOT_FOUND},
        StartFailure{"suspended", "C:\\Vendor\\keep.txt", nullptr, nullptr, os::CREATE_SUSPENDED,
                     os::ERROR_NOT_SUPPORTED},
        StartFailure{"nothing_to_run", nullptr, nullptr, nullptr, 0, os::ERROR_INVALID_PARAMETER}));

TEST_F(ProcessTest, BadFolderIsRefused) {
  PutScript("C:\\Vendor\\setup.exe", "exit 0\n");
  os::STARTUPINFOA si{};
  os::PROCESS_INFORMATION pi;
  os::SetLastError(kSentinel);
  EXPECT_EQ(os::CreateProcessA("C:\\Vendor\\setup.exe", nullptr, nullptr, nullptr, os::FALSE, 0, nullptr,
                               "C:\\NoSuchFolder", &si, &pi),
            os::FALSE);
  EXPECT_EQ(os::GetLastError(), os::ERROR_DIRECTORY);
}

}  // namespace
