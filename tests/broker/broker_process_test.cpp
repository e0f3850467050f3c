#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "actions/registration.h"
#include "os/base/error.h"
#include "os/base/text.h"
#include "os/com/apartment.h"
#include "os/fs/file_api.h"
#include "os/fs/file_util.h"
#include "os/module/module.h"
#include "os/process/channel.h"
#include "os/process/process.h"
#include "os/reg/registry.h"
#include "platform/broker_client.h"
#include "platform/broker_protocol.h"
#include "platform/broker_proxy.h"
#include "tests/fixtures/fixture_ids.h"
#include "tests/support/fake_run_context.h"
#include "tests/support/ui_script.h"

namespace {
namespace fs = std::filesystem;
namespace fx = pelisto::fixtures;
using pelisto::BrokerRef;
using pelisto::IBrokerConnection;
using pelisto::IFileManager;

constexpr char kCreateFailed[] = "Create Brokerprocess failed...[IFileManager]";
constexpr char kBroker[] = PELISTO_BIN_DIR "/pelisto-broker";

std::string Content(const std::string& path) {
  std::string bytes;
  return os::ReadWholeFile(path, &bytes) ? bytes : "<missing>";
}

class BrokerProcessTest : public pelisto::testing::UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    os::CoInitializeEx(nullptr, os::COINIT_MULTITHREADED);
    PutFile("C:\\Program Files\\Vendor\\readme.txt", "");
  }
  void TearDown() override {
    pelisto::ReleaseBroker();
    os::CoUninitialize();
    UiTest::TearDown();
  }

  void Configure(const std::function<void(os::ImageSettings&)>& change) {
    os::ImageSettings s = machine().settings();
    change(s);
    Reconfigure(s);
  }

  int BoxesSaying(const std::string& text) {
    int n = 0;
    for (const auto& box : ui().Boxes()) n += box.text == text;
    return n;
  }

  // The connection behind the broker GetBroker hands this thread (null without one).
  os::ComPtr<IBrokerConnection> Connection() {
    BrokerRef broker;
    pelisto::GetBroker(broker.ReleaseAndGetAddressOf());
    os::ComPtr<IBrokerConnection> connection;
    if (broker) broker->QueryInterface(IBrokerConnection::kIid, connection.ReleaseAndGetVoidAddressOf());
    return connection;
  }

  // An executable shell script beside the image (outside every drive); its host path.
  std::string Script(const std::string& name, const std::string& body) {
    const std::string path = prefix() + "/" + name;
    pelisto::testing::WriteHostFile(path, "#!/bin/sh\n" + body);
    fs::permissions(path, fs::perms::owner_all);
    return path;
  }

  // A host file holding the frame of `message`, for scripts that play a broker.
  std::string FrameFile(const std::string& name, pelisto::BrokerOp op, std::uint32_t id,
                        std::uint32_t number) {
    std::string frame;
    EXPECT_EQ(pelisto::EncodeBrokerMessage({op, true, id, {}, {number}}, &frame),
              pelisto::BrokerStatus::kOk);
    pelisto::testing::WriteHostFile(prefix() + "/" + name, frame);
    return prefix() + "/" + name;
  }
  std::string Hello() { return FrameFile("hello.bin", pelisto::BrokerOp::kHello, 0, 4242); }
};

// ---------------------------------------------------------------------------------------------
// On Windows 6 the control's process may not write program or system folders or the machine's
// registry itself; through the broker process the same steps succeed.

struct PrivilegedStep {
  const char* name;
  os::DWORD (*direct)();  // the last error the control's own attempt leaves
  int (*brokered)();      // 1 on success
  bool (*done)();
};

void PrintTo(const PrivilegedStep& s, std::ostream* out) { *out << s.name; }

os::DWORD ErrorOf(bool ok) { return ok ? os::ERROR_SUCCESS : os::GetLastError(); }

constexpr char kInstalled[] = "C:\\Program Files\\Vendor\\setup.dat";
constexpr char kLog[] = "C:\\Program Files\\Vendor\\Log.log";

const PrivilegedStep kSteps[] = {
    {"CopyIntoProgramFiles",
     [] { return ErrorOf(os::CopyFileA("C:\\Users\\user\\Desktop\\setup.dat", kInstalled, 0)); },
     [] { return pelisto::BrokerCopyFile("C:\\Users\\user\\Desktop\\setup.dat", kInstalled, 0, true); },
     [] { return Content(kInstalled) == "payload"; }},
    {"FolderInWindows",
     [] { return ErrorOf(os::CreateDirectoryA("C:\\Windows\\Vendor", nullptr)); },
     [] { return pelisto::BrokerCreateDirectory("C:\\Windows\\Vendor", nullptr, true); },
     [] { return os::IsDirectory("C:\\Windows\\Vendor"); }},
    {"MachineRegistry",
     [] {
       os::HKEY key = nullptr;
       os::LONG rc = os::RegCreateKeyExA(os::HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", 0, nullptr, 0,
                                         os::KEY_WRITE, nullptr, &key, nullptr);
       if (rc == 0) os::RegCloseKey(key);
       return static_cast<os::DWORD>(rc);
     },
     [] { return pelisto::BrokerWriteRegString(os::HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", "Ver", "2.6"); },
     [] { return pelisto::BrokerReadRegString(os::HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", "Ver") == "2.6"; }},
    // The open file stays open in the broker between the calls, as the update log relies on.
    {"LogInProgramFiles",
     [] {
       std::FILE* f = os::FileOpen(kLog, "a+");
       if (f != nullptr) std::fclose(f);
       return ErrorOf(f != nullptr);
     },
     [] {
       BrokerRef b;
       pelisto::GetBroker(b.ReleaseAndGetAddressOf());
       os::LONG file = 0, size = -1;
       return b->OpenFile(os::AnsiToWide(kLog), u"a+", &file) == os::S_OK &&
                      b->WriteText(u"line one\r\n", file) == os::S_OK &&
                      b->QueryOpenFile(&size) == os::S_OK && size == 10 &&
                      b->WriteText(u"line two\r\n", file) == os::S_OK && b->CloseFile() == os::S_OK
                  ? 1
                  : 0;
     },
     [] { return Content(kLog) == "line one\r\nline two\r\n"; }},
};

class BrokerProcessIntegrity : public BrokerProcessTest,
                               public ::testing::WithParamInterface<PrivilegedStep> {};

TEST_P(BrokerProcessIntegrity, ControlProcessIsRefusedAndTheBrokerProcessSucceeds) {
  PutFile("C:\\Users\\user\\Desktop\\setup.dat", "payload");
  machine().FolderPath(os::KnownFolder::kWindows);
  ASSERT_EQ(machine().settings().os_major, 6);
  os::SetLastError(0xDEADBEEF);
  EXPECT_EQ(GetParam().direct(), os::ERROR_ACCESS_DENIED);
  EXPECT_FALSE(GetParam().done()) << "done by the control's own process";
  EXPECT_EQ(GetParam().brokered(), 1);
  EXPECT_TRUE(GetParam().done());
  os::ComPtr<IBrokerConnection> connection = Connection();
  ASSERT_TRUE(connection);
  EXPECT_NE(connection->BrokerProcessId(), os::GetCurrentProcessId());
}

INSTANTIATE_TEST_SUITE_P(Steps, BrokerProcessIntegrity, ::testing::ValuesIn(kSteps),
                         [](const auto& info) { return std::string(info.param.name); });

// Every operation's result and out values come back as the elevated implementation gives
// them in-process, those not built yet (E_NOTIMPL) included.
TEST_F(BrokerProcessTest, AnswersMatchTheInProcessImplementation) {
  BrokerRef remote, local;
  pelisto::GetBroker(remote.ReleaseAndGetAddressOf());
  ASSERT_TRUE(remote);
  pelisto::CreateLocalFileManager(local.ReleaseAndGetAddressOf());
  auto answers = [](IFileManager* m) {
    std::vector<std::string> out;
    auto add = [&](os::HRESULT hr, os::LONG value) {
      out.push_back(std::to_string(hr) + "/" + std::to_string(value));
    };
    os::LONG v = -7;
    add(m->OpenFile(u"C:\\Program Files\\Vendor\\a", u"rw", &v), v);
    add(m->QueryOpenFile(&v), v);
    add(m->WriteText(u"x", 3), 0);
    add(m->CloseFile(), 0);
    os::BOOL created = 5;
    add(m->CreateDirectory(u"C:\\Program Files\\Vendor", &created), created);
    add(m->CopyFile(u"C:\\none", u"C:\\Program Files\\x", 0), 0);
    add(m->RunProgram(u"C:\\none.exe"), 0);
    add(m->CreateShellLink(u"C:\\t.exe", u"C:\\l", u"d", u"C:\\i.ico", u"/a", &v), v);
    add(m->CreateInternetShortcut(u"http://h/", u"C:\\u", u"d", u"C:\\i.ico", 2, &v), v);
    add(m->UnregisterComponent(u"C:\\none.dll"), 0);
    std::u16string text = u"kept";
    add(m->ReadRegString(0x80000002, u"SOFTWARE\\None", u"v", &text), text == u"kept");
    add(m->WriteRegNumber(0x1234, u"SOFTWARE", u"v", 1), 0);
    return out;
  };
  EXPECT_EQ(answers(remote.Get()), answers(local.Get()));
}

// ---------------------------------------------------------------------------------------------
// Starting the broker.

TEST_F(BrokerProcessTest, FailedStartsShowTheMessageAndTheNextRequestTriesAgain) {
  const std::pair<std::string, std::string> starts[] = {  // broker, elevation command
      {"", ""},                                           // refused elevation
      {prefix() + "/no-such-broker", ""},
      {kBroker, Script("refuse.sh", "echo 'a password is required' >&2\nexit 1\n")},
      {kBroker, "no-such-sudo -n"},
      {Script("garbage.sh", "printf 'no hello here'\nexec sleep 30\n"), ""},
  };
  int boxes = 0;
  for (const auto& [broker, elevation] : starts) {
    Configure([&](os::ImageSettings& s) {
      s.refuse_elevation = broker.empty();
      s.broker_path = broker;
      s.elevation_command = elevation;
    });
    EXPECT_EQ(pelisto::BrokerDeleteFile("C:\\Program Files\\x", true), 0) << broker << elevation;
    EXPECT_EQ(BoxesSaying(kCreateFailed), ++boxes) << broker << elevation;
  }
  Configure([&](os::ImageSettings& s) {
    s.broker_path = kBroker;
    s.elevation_command.clear();
  });
  EXPECT_EQ(pelisto::BrokerCreateDirectory("C:\\Program Files\\A", nullptr, true), 1);
  EXPECT_EQ(BoxesSaying(kCreateFailed), boxes);
}

// The broker is started through the elevation command, which may also start it and return at
// once: the broker is kept as long as its channel is open.
TEST_F(BrokerProcessTest, ElevationCommandStartsTheBroker) {
  const std::string log = prefix() + "/elevation.log";
  // (A shell gives a background command an empty standard input unless told otherwise.)
  Configure([&](os::ImageSettings& s) {
    s.elevation_command = Script("elevate.sh", "echo \"$@\" > '" + log +
                                                   "'\nexec 3<&0\n\"$@\" 0<&3 3<&- &\nexit 0\n");
  });
  os::ComPtr<IBrokerConnection> connection = Connection();
  ASSERT_TRUE(connection);
  EXPECT_EQ(pelisto::testing::ReadHostFile(log),
            std::string(kBroker) + " --prefix " + machine().prefix() + " --stdio\n");
  ASSERT_EQ(os::WaitForSingleObject(connection->ProcessHandle(), 5000), os::WAIT_OBJECT_0);
  EXPECT_EQ(pelisto::BrokerCreateDirectory("C:\\Program Files\\Elevated", nullptr, true), 1);
  EXPECT_EQ(Connection().Get(), connection.Get()) << "a live broker was replaced";
}

// ---------------------------------------------------------------------------------------------
// Faults: the call that meets one fails, the control goes on, the next call gets a new broker.

TEST_F(BrokerProcessTest, BrokerKilledBetweenCallsIsReplaced) {
  os::ComPtr<IBrokerConnection> first = Connection();
  ASSERT_TRUE(first);
  ASSERT_TRUE(os::TerminateProcess(first->ProcessHandle(), 9));
  ASSERT_EQ(os::WaitForSingleObject(first->ProcessHandle(), 5000), os::WAIT_OBJECT_0);
  EXPECT_EQ(pelisto::BrokerCreateDirectory("C:\\Program Files\\Two", nullptr, true), 1);
  os::ComPtr<IBrokerConnection> second = Connection();
  ASSERT_TRUE(second);
  EXPECT_NE(second->BrokerProcessId(), first->BrokerProcessId());
  EXPECT_EQ(BoxesSaying(kCreateFailed), 0);
  BrokerRef old;  // still a valid object, failing every call
  first->QueryInterface(IFileManager::kIid, old.ReleaseAndGetVoidAddressOf());
  EXPECT_EQ(old->DeleteFile(u"C:\\Program Files\\Two"), os::RPC_E_DISCONNECTED);
}

// A whole-file write is the old or the new content, never a part: a broker killed between
// the open and the close leaves the previous file, and the next write replaces it whole.
TEST_F(BrokerProcessTest, WholeFileWriteKilledBeforeItsCloseLeavesThePreviousContent) {
  const std::string target = "C:\\Program Files\\Vendor\\config.xml.old";
  PutFile(target, "<previous/>");
  os::ComPtr<IBrokerConnection> connection = Connection();
  ASSERT_TRUE(connection);
  BrokerRef broker;
  connection->QueryInterface(IFileManager::kIid, broker.ReleaseAndGetVoidAddressOf());
  os::LONG file = 0;
  ASSERT_EQ(broker->OpenFile(os::AnsiToWide(target), u"w", &file), os::S_OK);
  ASSERT_EQ(broker->WriteText(u"<new><half", file), os::S_OK);
  EXPECT_EQ(GetFile(target), "<previous/>") << "the target changed before the close";
  ASSERT_TRUE(os::TerminateProcess(connection->ProcessHandle(), 9));
  ASSERT_EQ(os::WaitForSingleObject(connection->ProcessHandle(), 5000), os::WAIT_OBJECT_0);
  EXPECT_EQ(broker->CloseFile(), os::RPC_E_DISCONNECTED);
  EXPECT_EQ(GetFile(target), "<previous/>");

  pelisto::testing::FakeRunContext context;
  ASSERT_TRUE(context.Privileged().Brokered());
  EXPECT_EQ(context.Privileged().WriteFileAtomically(target, "<new>whole</new>"), 1);
  EXPECT_EQ(GetFile(target), "<new>whole</new>");
}

// Brokers that fail a call: it fails, the broker is ended, and the next request starts a new
// one. Each is a script playing a broker: it greets, reads the start of the request, then does
// `then` (WRONG stands for a file holding an answer to another request).
struct CallFault {
  const char* name;
  const char* then;
  os::HRESULT result;
};

void PrintTo(const CallFault& f, std::ostream* out) { *out << f.name; }

class BrokerProcessCallFault : public BrokerProcessTest,
                               public ::testing::WithParamInterface<CallFault> {};

TEST_P(BrokerProcessCallFault, FailsTheCallAndTheNextRequestGetsANewBroker) {
  const std::string wrong = FrameFile("wrong.bin", pelisto::BrokerOp::kMoveFile, 99, 0);
  std::string then = GetParam().then;
  if (std::size_t at = then.find("WRONG"); at != std::string::npos) then.replace(at, 5, wrong);
  Configure([&](os::ImageSettings& s) {
    s.broker_timeout_ms = 300;
    s.broker_path = Script("fake.sh", "cat '" + Hello() + "'\nhead -c 4 > /dev/null\n" + then);
  });
  os::ComPtr<IBrokerConnection> connection = Connection();
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->BrokerProcessId(), 4242u);
  BrokerRef broker;
  connection->QueryInterface(IFileManager::kIid, broker.ReleaseAndGetVoidAddressOf());

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(broker->MoveFile(u"C:\\a", u"C:\\b"), GetParam().result);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(pelisto::IsBrokerGone(broker.Get()));
  EXPECT_EQ(os::WaitForSingleObject(connection->ProcessHandle(), 5000), os::WAIT_OBJECT_0)
      << "the broker still runs";
  EXPECT_EQ(broker->MoveFile(u"C:\\a", u"C:\\b"), os::RPC_E_DISCONNECTED)
      << "no later call can read a late answer";

  // The real broker with the usual allowance: the short one above is for the script, and a
  // broker built with the sanitizers can take longer than that to greet on a loaded machine.
  Configure([](os::ImageSettings& s) {
    s.broker_path = kBroker;
    s.broker_timeout_ms = os::ImageSettings().broker_timeout_ms;
  });
  EXPECT_EQ(pelisto::BrokerCreateDirectory("C:\\Program Files\\After", nullptr, true), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BrokerProcessCallFault,
    ::testing::Values(CallFault{"DiesMidCall", "exit 3\n", os::RPC_E_DISCONNECTED},
                      CallFault{"AnswersAnotherRequest", "cat 'WRONG'\nexec sleep 30\n",
                                os::RPC_E_DISCONNECTED},
                      CallFault{"NeverAnswers", "exec sleep 30\n", os::RPC_E_TIMEOUT}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BrokerProcessTest, ArgumentsBeyondTheProtocolAreRefusedAndLongTextGoesInPieces) {
  BrokerRef broker;
  pelisto::GetBroker(broker.ReleaseAndGetAddressOf());
  ASSERT_TRUE(broker);
  EXPECT_EQ(broker->DeleteFile(u"C:\\" + std::u16string(pelisto::kBrokerMaxPath, u'a')),
            os::HRESULT_FROM_WIN32(os::ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(broker->WriteRegNumber(0x80000002, std::u16string(u"SOFTWARE\0X", 10), u"v", 1),
            os::HRESULT_FROM_WIN32(os::ERROR_INVALID_NAME));
  EXPECT_FALSE(pelisto::IsBrokerGone(broker.Get()));

  // Two frames' worth, with a surrogate pair across the first frame's edge.
  std::u16string text(pelisto::kBrokerMaxText * 2 + 10, u'a');
  text[pelisto::kBrokerMaxText - 1] = 0xD83D;
  text[pelisto::kBrokerMaxText] = 0xDE00;
  os::LONG file = 0;
  ASSERT_EQ(broker->OpenFile(u"C:\\Program Files\\big.xml", u"w", &file), os::S_OK);
  EXPECT_EQ(broker->WriteText(text, file), os::S_OK);
  EXPECT_EQ(broker->CloseFile(), os::S_OK);
  std::string expected;
  ASSERT_TRUE(os::WideToMultiByte(text, &expected));
  EXPECT_TRUE(Content("C:\\Program Files\\big.xml") == expected) << "the file differs";
}

// A component that takes its process down fails only its own registration; the control's
// process never loads a component.
TEST_F(BrokerProcessTest, CrashInDllRegisterServerFailsThatRegistrationAndTheNextSucceeds) {
  auto install = [&](const char* fixture) {
    const std::string path = std::string("C:\\Program Files\\Vendor\\") + fixture;
    fs::copy_file(std::string(PELISTO_FIXTURE_DIR) + "/" + fixture, Host(path));
    return path;
  };
  const std::string crash = install(fx::kCrashRegDll), good = install(fx::kSelfRegOcx);
  os::ClearLoadedComponentFiles();
  pelisto::testing::FakeRunContext context;
  os::ComPtr<IBrokerConnection> first = Connection();
  ASSERT_TRUE(first);

  pelisto::RegisterComponent(context, crash);
  EXPECT_TRUE(context.Logged(" " + crash + " dll/ocx set registry failed !!!"));
  EXPECT_EQ(context.messages,
            std::vector<std::string>{crash + ":regsvr32 failed... Try Again and Check log file"});
  os::DWORD code = 0;
  EXPECT_EQ(os::WaitForSingleObject(first->ProcessHandle(), 5000), os::WAIT_OBJECT_0);
  EXPECT_TRUE(os::GetExitCodeProcess(first->ProcessHandle(), &code));
  EXPECT_EQ(code, 3u) << "the component aborted the broker";

  pelisto::RegisterComponent(context, good);
  EXPECT_EQ(context.messages.size(), 1u) << "the next registration failed too";
  EXPECT_EQ(Content(good + fx::kMarkSuffix), "DllRegisterServer\n");
  // Zip extraction fetches the broker from the global table: a crash fails that member, and
  // the extraction's next write through the broker starts a new one for the rest.
  EXPECT_EQ(pelisto::RegisterIfComponent(context, crash), -1);
  EXPECT_EQ(pelisto::BrokerCreateDirectory("C:\\Program Files\\Vendor\\y", nullptr, true), 1);
  EXPECT_EQ(pelisto::RegisterIfComponent(context, good), 1);
  EXPECT_TRUE(os::LoadedComponentFiles().empty()) << "loaded into the control's process";
}

// ---------------------------------------------------------------------------------------------
// One proxy, handed to other threads through the global interface table, answering them at
// once, each with its own answers.

TEST_F(BrokerProcessTest, ThreadsUsingTheProxyAtOnceGetTheirOwnAnswers) {
  BrokerRef mine;
  pelisto::GetBroker(mine.ReleaseAndGetAddressOf());
  ASSERT_TRUE(mine);
  constexpr int kThreads = 3;
  std::latch start(kThreads);
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      BrokerRef broker;
      pelisto::GetBroker(broker.ReleaseAndGetAddressOf());
      wrong[t] = broker.Get() == mine.Get() ? 0 : 1000;
      start.arrive_and_wait();
      const std::string key = "SOFTWARE\\Vendor\\Thread" + std::to_string(t);
      for (int i = 0; i < 60; ++i) {
        const std::string value = std::to_string(t) + "-" + std::to_string(i);
        wrong[t] += pelisto::BrokerWriteRegString(os::HKEY_LOCAL_MACHINE, key, "V", value) != 1 ||
                    pelisto::BrokerReadRegString(os::HKEY_LOCAL_MACHINE, key, "V") != value;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
}

// ---------------------------------------------------------------------------------------------
// The broker program over a channel of the test's own: it answers requests, leaves when the
// client goes, and closes the connection on a frame against the protocol, without a crash.

std::string Le32(std::uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return s;
}

struct RawFrame {
  const char* name;
  std::string bytes;
  os::DWORD exit_code;  // 0: left because the client went; 4: refused the frame
};

void PrintTo(const RawFrame& f, std::ostream* out) { *out << f.name; }

class BrokerProcessChannel : public BrokerProcessTest,
                             public ::testing::WithParamInterface<RawFrame> {};

TEST_P(BrokerProcessChannel, FrameThenClose) {
  std::unique_ptr<os::Channel> channel;
  os::PROCESS_INFORMATION process;
  ASSERT_TRUE(os::CreateHostProcessWithChannel({kBroker, "--prefix", machine().prefix(), "--stdio"},
                                               &channel, &process));
  auto read = [&](pelisto::BrokerMessage* message) {
    std::string frame(4, '\0');
    std::uint32_t rest = 0;
    if (channel->Read(frame.data(), 4, 5000) != os::Channel::Status::kOk ||
        pelisto::DecodeBrokerFrameSize(frame, &rest) != pelisto::BrokerStatus::kOk) {
      return false;
    }
    frame.resize(4 + rest);
    return channel->Read(frame.data() + 4, rest, 5000) == os::Channel::Status::kOk &&
           pelisto::DecodeBrokerMessage(frame, message) == pelisto::BrokerStatus::kOk;
  };
  pelisto::BrokerMessage hello, answer;
  ASSERT_TRUE(read(&hello));
  EXPECT_EQ(hello.numbers.at(0), os::GetProcessId(process.hProcess));

  ASSERT_EQ(channel->Write(GetParam().bytes), os::Channel::Status::kOk);
  if (GetParam().exit_code == 0) {
    ASSERT_TRUE(read(&answer));
    EXPECT_EQ(answer.id, 5u);
    EXPECT_EQ(static_cast<os::HRESULT>(answer.numbers.at(0)),
              os::HRESULT_FROM_WIN32(os::ERROR_FILE_NOT_FOUND));
  }
  channel->Shutdown();
  os::DWORD code = 0;
  EXPECT_EQ(os::WaitForSingleObject(process.hProcess, 5000), os::WAIT_OBJECT_0);
  os::GetExitCodeProcess(process.hProcess, &code);
  EXPECT_EQ(code, GetParam().exit_code) << "a crash would show another code";
  os::CloseHandle(process.hProcess);
  os::CloseHandle(process.hThread);
}

std::vector<RawFrame> RawFrames() {
  std::string delete_missing;
  pelisto::EncodeBrokerMessage({pelisto::BrokerOp::kDeleteFile, false, 5, {u"C:\\none"}, {}},
                               &delete_missing);
  const std::uint32_t capped = static_cast<std::uint32_t>(pelisto::kBrokerMaxFrame - 4);
  return {
      {"Answered", delete_missing, 0},
      {"Oversized", Le32(0xFFFFFFFF), 4},
      {"CappedWithBadVersion", Le32(capped) + std::string(capped, '\x7F'), 4},
      {"PathOverBound", Le32(12) + std::string("\1\0\10\0\7\0\0\0", 8) + Le32(0xFFFFFFF0), 4},
      {"AnswerSentAsRequest", Le32(12) + std::string("\1\0\10\x80\1\0\0\0", 8) + Le32(0), 4},
      {"ClientLeavesMidFrame", Le32(40) + std::string("\1\0\10\0\1\0", 6), 4},
  };
}

INSTANTIATE_TEST_SUITE_P(Frames, BrokerProcessChannel, ::testing::ValuesIn(RawFrames()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
