#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "actions/registration.h"
#include "os/base/error.h"
#include "os/base/handle.h"
#include "os/base/text.h"
#include "os/com/apartment.h"
#include "os/com/hresult.h"
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
using pelisto::BrokerRef;
using pelisto::IBrokerConnection;
using pelisto::IFileManager;

constexpr char kCreateFailed[] = "Create Brokerprocess failed...[IFileManager]";

class BrokerProcessTest : public pelisto::testing::UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    os::CoInitializeEx(nullptr, os::COINIT_MULTITHREADED);
    machine().FolderPath(os::KnownFolder::kProgramFiles);
    machine().FolderPath(os::KnownFolder::kSystem);
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

  // The broker GetBroker hands this thread, and its connection; fails the test without one.
  os::ComPtr<IBrokerConnection> CurrentConnection() {
    BrokerRef broker;
    pelisto::GetBroker(broker.ReleaseAndGetAddressOf());
    os::ComPtr<IBrokerConnection> connection;
    EXPECT_TRUE(broker) << "no broker";
    if (broker) {
      EXPECT_EQ(broker->QueryInterface(IBrokerConnection::kIid,
                                       connection.ReleaseAndGetVoidAddressOf()),
                os::S_OK);
    }
    return connection;
  }

  // An executable shell script in the image's folder (outside every drive); its host path.
  std::string Script(const std::string& name, const std::string& body) {
    const std::string path = prefix() + "/" + name;
    pelisto::testing::WriteHostFile(path, "#!/bin/sh\n" + body);
    fs::permissions(path, fs::perms::owner_all);
    return path;
  }

  // A host file holding the frame `message` encodes to.
  std::string FrameFile(const std::string& name, const pelisto::BrokerMessage& message) {
    std::string frame;
    EXPECT_EQ(pelisto::EncodeBrokerMessage(message, &frame), pelisto::BrokerStatus::kOk);
    const std::string path = prefix() + "/" + name;
    pelisto::testing::WriteHostFile(path, frame);
    return path;
  }

  // Makes `script` the broker program.
  void UseBroker(const std::string& script) {
    Configure([&](os::ImageSettings& s) { s.broker_path = script; });
  }

  std::string HelloFile() {
    pelisto::BrokerMessage hello;
    hello.op = pelisto::BrokerOp::kHello;
    hello.reply = true;
    hello.numbers = {4242};
    return FrameFile("hello.bin", hello);
  }
};

// ---------------------------------------------------------------------------------------------
// On Windows 6 the control's process may not write program or system folders or the machine's
// registry; each such step is refused when the process makes it itself, and succeeds through
// the broker process.

struct PrivilegedStep {
  const char* name;
  // The step made by the control's process; returns the last error it left.
  os::DWORD (*direct)();
  // The same step through the broker; 1 on success.
  int (*brokered)();
  // Whether the machine shows the step done.
  bool (*done)();
};

void PrintTo(const PrivilegedStep& s, std::ostream* out) { *out << s.name; }

os::DWORD LastErrorOf(bool ok) { return ok ? os::ERROR_SUCCESS : os::GetLastError(); }

std::string Content(const std::string& path) {
  std::string bytes;
  return os::ReadWholeFile(path, &bytes) ? bytes : "<missing>";
}

constexpr char kSource[] = "C:\\Users\\user\\Desktop\\setup.dat";
constexpr char kInstalled[] = "C:\\Program Files\\Vendor\\setup.dat";
constexpr char kSystemFile[] = "C:\\Windows\\system32\\vendor.dat";
constexpr char kMachineKey[] = "SOFTWARE\\Vendor\\Plo";

std::string ReadMachineValue(const char* name) {
  os::HKEY key = nullptr;
  if (os::RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, kMachineKey, 0, os::KEY_READ, &key) != 0) {
    return "<no key>";
  }
  std::string data(64, '\0');
  os::DWORD type = 0, size = static_cast<os::DWORD>(data.size());
  os::LONG rc = os::RegQueryValueExA(key, name, nullptr, &type,
                                     reinterpret_cast<os::BYTE*>(data.data()), &size);
  os::RegCloseKey(key);
  if (rc != 0) return "<no value>";
  data.resize(size);
  if (type == os::REG_DWORD && size == sizeof(os::DWORD)) {
    os::DWORD number = 0;
    std::memcpy(&number, data.data(), sizeof number);
    return std::to_string(number);
  }
  return data.c_str();
}

os::DWORD DirectRegistryWrite() {
  os::HKEY key = nullptr;
  os::LONG rc = os::RegCreateKeyExA(os::HKEY_LOCAL_MACHINE, kMachineKey, 0, nullptr, 0,
                                    os::KEY_WRITE, nullptr, &key, nullptr);
  if (rc == 0) os::RegCloseKey(key);
  return static_cast<os::DWORD>(rc);
}

const PrivilegedStep kSteps[] = {
    {"CopyIntoProgramFiles",
     [] { return LastErrorOf(os::CopyFileA(kSource, kInstalled, os::FALSE)); },
     [] { return pelisto::BrokerCopyFile(kSource, kInstalled, os::FALSE, true); },
     [] { return Content(kInstalled) == "payload"; }},
    {"CreateFolderInWindows",
     [] { return LastErrorOf(os::CreateDirectoryA("C:\\Windows\\Vendor", nullptr)); },
     [] { return pelisto::BrokerCreateDirectory("C:\\Windows\\Vendor", nullptr, true); },
     [] { return os::IsDirectory("C:\\Windows\\Vendor"); }},
    {"MoveIntoSystem32",
     [] { return LastErrorOf(os::MoveFileA(kSource, kSystemFile)); },
     [] { return pelisto::BrokerMoveFile(kSource, kSystemFile, true); },
     [] { return Content(kSystemFile) == "payload" && !os::FileExists(kSource); }},
    {"DeleteFromSystem32",
     [] { return LastErrorOf(os::DeleteFileA("C:\\Windows\\system32\\old.dat")); },
     [] { return pelisto::BrokerDeleteFile("C:\\Windows\\system32\\old.dat", true); },
     [] { return !os::FileExists("C:\\Windows\\system32\\old.dat"); }},
    {"MachineRegistryText", DirectRegistryWrite,
     [] {
       return pelisto::BrokerWriteRegString(os::HKEY_LOCAL_MACHINE, kMachineKey, "Version",
                                            "2.6.1.3");
     },
     [] {
       return ReadMachineValue("Version") == "2.6.1.3" &&
              pelisto::BrokerReadRegString(os::HKEY_LOCAL_MACHINE, kMachineKey, "Version") ==
                  "2.6.1.3";
     }},
    {"MachineRegistryNumber", DirectRegistryWrite,
     [] { return pelisto::BrokerWriteRegNumber(os::HKEY_LOCAL_MACHINE, kMachineKey, "Count", -2); },
     [] { return ReadMachineValue("Count") == "4294967294"; }},
    {"LogFileInProgramFiles",
     [] {
       std::FILE* f = os::FileOpen("C:\\Program Files\\Vendor\\PloLog\\Log.log", "a+");
       if (f != nullptr) std::fclose(f);
       return LastErrorOf(f != nullptr);
     },
     [] {
       // The open file stays open in the broker between the calls, as the log relies on.
       const std::string folder = "C:\\Program Files\\Vendor\\PloLog";
       BrokerRef b;
       pelisto::GetBroker(b.ReleaseAndGetAddressOf());
       os::LONG file = 0, size = -1;
       bool ok = pelisto::BrokerCreateDirectory(folder, nullptr, true) == 1 &&
                 b->OpenFile(os::AnsiToWide(folder + "\\Log.log"), u"a+", &file) == os::S_OK &&
                 b->WriteText(u"[2024-06-11_10:00:00] Start\r\n", file) == os::S_OK &&
                 b->QueryOpenFile(&size) == os::S_OK && size == 29 &&
                 b->WriteText(u"[2024-06-11_10:00:01] End\r\n", file) == os::S_OK &&
                 b->CloseFile() == os::S_OK;
       return ok ? 1 : 0;
     },
     [] {
       return Content("C:\\Program Files\\Vendor\\PloLog\\Log.log") ==
              "[2024-06-11_10:00:00] Start\r\n[2024-06-11_10:00:01] End\r\n";
     }},
};

class BrokerProcessIntegrity : public BrokerProcessTest,
                               public ::testing::WithParamInterface<PrivilegedStep> {
 protected:
  void SetUp() override {
    BrokerProcessTest::SetUp();
    ASSERT_EQ(machine().settings().os_major, 6);
    PutFile(kSource, "payload");
    PutFile("C:\\Program Files\\Vendor\\readme.txt", "");
    PutFile("C:\\Windows\\system32\\old.dat", "old");
  }
};

TEST_P(BrokerProcessIntegrity, ControlProcessIsRefusedAndTheBrokerProcessSucceeds) {
  const PrivilegedStep& step = GetParam();
  os::SetLastError(0xDEADBEEF);
  EXPECT_EQ(step.direct(), os::ERROR_ACCESS_DENIED) << step.name;
  EXPECT_FALSE(step.done()) << step.name << " was done by the control's own process";

  EXPECT_EQ(step.brokered(), 1) << step.name;
  EXPECT_TRUE(step.done()) << step.name;
  os::ComPtr<IBrokerConnection> connection = CurrentConnection();
  ASSERT_TRUE(connection);
  EXPECT_NE(connection->BrokerProcessId(), os::GetCurrentProcessId())
      << "the step was carried out in another process";
  EXPECT_EQ(os::WaitForSingleObject(connection->ProcessHandle(), 0), os::WAIT_TIMEOUT);
}

INSTANTIATE_TEST_SUITE_P(Steps, BrokerProcessIntegrity, ::testing::ValuesIn(kSteps),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Starting the broker, and what a refused or failed start looks like.

TEST_F(BrokerProcessTest, RefusedElevationShowsTheMessageAndTheNextRequestStartsTheBroker) {
  Configure([](os::ImageSettings& s) { s.refuse_elevation = true; });
  EXPECT_EQ(pelisto::BrokerCreateDirectory("C:\\Program Files\\A", nullptr, true), 0);
  EXPECT_EQ(BoxesSaying(kCreateFailed), 1);

  Configure([](os::ImageSettings& s) { s.refuse_elevation = false; });
  EXPECT_EQ(pelisto::BrokerCreateDirectory("C:\\Program Files\\A", nullptr, true), 1);
  EXPECT_TRUE(os::IsDirectory("C:\\Program Files\\A"));
  EXPECT_EQ(BoxesSaying(kCreateFailed), 1);
}

TEST_F(BrokerProcessTest, FailedStartsShowTheMessageEachTime) {
  const std::string refusing = Script("refuse.sh", "echo 'a password is required' >&2\nexit 1\n");
  struct Start {
    const char* what;
    std::string broker;
    std::string elevation;
  };
  const Start starts[] = {
      {"missing program", prefix() + "/no-such-broker", ""},
      {"elevation command refuses", PELISTO_BIN_DIR "/pelisto-broker", refusing},
      {"missing elevation command", PELISTO_BIN_DIR "/pelisto-broker", "no-such-sudo -n"},
      {"broker that greets wrongly", Script("garbage.sh", "printf 'no hello here'\nexec sleep 30\n"), ""},
  };
  int expected_boxes = 0;
  for (const Start& start : starts) {
    Configure([&](os::ImageSettings& s) {
      s.broker_path = start.broker;
      s.elevation_command = start.elevation;
    });
    EXPECT_EQ(pelisto::BrokerDeleteFile("C:\\Program Files\\x", true), 0) << start.what;
    EXPECT_EQ(BoxesSaying(kCreateFailed), ++expected_boxes) << start.what;
  }
}

TEST_F(BrokerProcessTest, ElevationCommandStartsTheBroker) {
  const std::string log = prefix() + "/elevation.log";
  Configure([&](os::ImageSettings& s) {
    s.elevation_command = Script("elevate.sh", "echo \"$@\" > '" + log + "'\nexec \"$@\"\n");
  });
  EXPECT_EQ(pelisto::BrokerCreateDirectory("C:\\Program Files\\Elevated", nullptr, true), 1);
  EXPECT_TRUE(os::IsDirectory("C:\\Program Files\\Elevated"));
  EXPECT_EQ(pelisto::testing::ReadHostFile(log), std::string(PELISTO_BIN_DIR) +
                                                     "/pelisto-broker --prefix " +
                                                     machine().prefix() + " --stdio\n");
}

TEST_F(BrokerProcessTest, BrokerHandedOnByTheElevationCommandIsKept) {
  // Like a launcher that starts the program and returns at once.
  Configure([&](os::ImageSettings& s) {
    // (A shell gives a background command an empty standard input unless told otherwise.)
    s.elevation_command = Script("detach.sh", "exec 3<&0\n\"$@\" 0<&3 3<&- &\nexit 0\n");
  });
  os::ComPtr<IBrokerConnection> connection = CurrentConnection();
  ASSERT_TRUE(connection);
  ASSERT_EQ(os::WaitForSingleObject(connection->ProcessHandle(), 5000), os::WAIT_OBJECT_0);
  EXPECT_EQ(pelisto::BrokerCreateDirectory("C:\\Program Files\\Handed", nullptr, true), 1);
  os::ComPtr<IBrokerConnection> again = CurrentConnection();
  ASSERT_TRUE(again);
  EXPECT_EQ(again.Get(), connection.Get()) << "a live broker was replaced";
}

// ---------------------------------------------------------------------------------------------
// Faults: the call that meets them fails, the control goes on, the next one gets a new broker.

TEST_F(BrokerProcessTest, BrokerKilledBetweenCallsIsReplaced) {
  ASSERT_EQ(pelisto::BrokerCreateDirectory("C:\\Program Files\\One", nullptr, true), 1);
  os::ComPtr<IBrokerConnection> first = CurrentConnection();
  ASSERT_TRUE(first);
  ASSERT_TRUE(os::TerminateProcess(first->ProcessHandle(), 9));
  ASSERT_EQ(os::WaitForSingleObject(first->ProcessHandle(), 5000), os::WAIT_OBJECT_0);

  EXPECT_EQ(pelisto::BrokerCreateDirectory("C:\\Program Files\\Two", nullptr, true), 1);
  EXPECT_TRUE(os::IsDirectory("C:\\Program Files\\Two"));
  os::ComPtr<IBrokerConnection> second = CurrentConnection();
  ASSERT_TRUE(second);
  EXPECT_NE(second->BrokerProcessId(), first->BrokerProcessId());
  EXPECT_EQ(BoxesSaying(kCreateFailed), 0);
  // The old proxy stays a valid object, failing every call.
  BrokerRef old;
  ASSERT_EQ(first->QueryInterface(IFileManager::kIid, old.ReleaseAndGetVoidAddressOf()), os::S_OK);
  EXPECT_EQ(old->DeleteFile(u"C:\\Program Files\\Two"), os::RPC_E_DISCONNECTED);
}

TEST_F(BrokerProcessTest, BrokerDyingInTheMiddleOfACallFailsThatCall) {
  const std::string hello = HelloFile();
  UseBroker(Script("dies.sh", "cat '" + hello + "'\nhead -c 4 > /dev/null\nexit 3\n"));
  BrokerRef broker;
  pelisto::GetBroker(broker.ReleaseAndGetAddressOf());
  ASSERT_TRUE(broker);
  EXPECT_EQ(broker->DeleteFile(u"C:\\Program Files\\x"), os::RPC_E_DISCONNECTED);
  EXPECT_TRUE(pelisto::IsBrokerGone(broker.Get()));

  UseBroker(PELISTO_BIN_DIR "/pelisto-broker");
  EXPECT_EQ(pelisto::BrokerCreateDirectory("C:\\Program Files\\After", nullptr, true), 1);
}

TEST_F(BrokerProcessTest, AnswerToAnotherRequestEndsTheBroker) {
  pelisto::BrokerMessage wrong;
  wrong.op = pelisto::BrokerOp::kDeleteFile;
  wrong.reply = true;
  wrong.id = 99;  // the proxy's first request is 1
  wrong.numbers = {0};
  const std::string answer = FrameFile("wrong.bin", wrong);
  UseBroker(Script("wrong.sh", "cat '" + HelloFile() + "'\nhead -c 4 > /dev/null\ncat '" +
                                   answer + "'\nexec sleep 30\n"));
  os::ComPtr<IBrokerConnection> connection = CurrentConnection();
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->BrokerProcessId(), 4242u);
  EXPECT_EQ(pelisto::BrokerDeleteFile("C:\\Program Files\\x", true), 0);
  EXPECT_FALSE(connection->IsConnected());
  EXPECT_EQ(os::WaitForSingleObject(connection->ProcessHandle(), 5000), os::WAIT_OBJECT_0)
      << "a broker that answered against the protocol is killed";
}

TEST_F(BrokerProcessTest, CallLongerThanTheTimeoutFailsAndKillsTheBroker) {
  Configure([](os::ImageSettings& s) { s.broker_timeout_ms = 300; });
  UseBroker(Script("silent.sh", "cat '" + HelloFile() + "'\nexec sleep 30\n"));
  os::ComPtr<IBrokerConnection> connection = CurrentConnection();
  ASSERT_TRUE(connection);
  BrokerRef broker;
  ASSERT_EQ(connection->QueryInterface(IFileManager::kIid, broker.ReleaseAndGetVoidAddressOf()),
            os::S_OK);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(broker->MoveFile(u"C:\\a", u"C:\\b"), os::RPC_E_TIMEOUT);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(300));
  EXPECT_LT(waited, std::chrono::seconds(5));
  EXPECT_EQ(os::WaitForSingleObject(connection->ProcessHandle(), 5000), os::WAIT_OBJECT_0);
  EXPECT_EQ(broker->MoveFile(u"C:\\a", u"C:\\b"), os::RPC_E_DISCONNECTED)
      << "no later call can read the late answer";
  EXPECT_TRUE(pelisto::IsBrokerGone(broker.Get()));
}

TEST_F(BrokerProcessTest, ArgumentsTheProtocolCannotCarryAreRefusedWithoutLosingTheBroker) {
  BrokerRef broker;
  pelisto::GetBroker(broker.ReleaseAndGetAddressOf());
  ASSERT_TRUE(broker);
  const std::u16string long_path = u"C:\\" + std::u16string(pelisto::kBrokerMaxPath, u'a');
  EXPECT_EQ(broker->DeleteFile(long_path),
            os::HRESULT_FROM_WIN32(os::ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(broker->WriteRegNumber(0x80000002, std::u16string(u"SOFTWARE\0Evil", 13), u"v", 1),
            os::HRESULT_FROM_WIN32(os::ERROR_INVALID_NAME));
  EXPECT_FALSE(pelisto::IsBrokerGone(broker.Get()));
  os::BOOL created = os::FALSE;
  EXPECT_EQ(broker->CreateDirectory(u"C:\\Program Files\\Still", &created), os::S_OK);
  EXPECT_TRUE(created);
}

TEST_F(BrokerProcessTest, TextLongerThanOneFrameIsWrittenWhole) {
  BrokerRef broker;
  pelisto::GetBroker(broker.ReleaseAndGetAddressOf());
  ASSERT_TRUE(broker);
  // Two frames' worth, with a surrogate pair right on the first frame's edge.
  std::u16string text(pelisto::kBrokerMaxText * 2 + 10, u'a');
  text[pelisto::kBrokerMaxText - 1] = 0xD83D;
  text[pelisto::kBrokerMaxText] = 0xDE00;
  os::LONG file = 0;
  ASSERT_EQ(broker->OpenFile(u"C:\\Program Files\\big.xml", u"w", &file), os::S_OK);
  EXPECT_EQ(broker->WriteText(text, file), os::S_OK);
  EXPECT_EQ(broker->CloseFile(), os::S_OK);
  std::string expected;
  ASSERT_TRUE(os::WideToMultiByte(text, &expected));
  EXPECT_TRUE(Content("C:\\Program Files\\big.xml") == expected)
      << "the written file differs from the text (" << expected.size() << " bytes expected)";
}

// ---------------------------------------------------------------------------------------------
// Components register in the broker process: one that takes its process down fails only its
// own registration, and the control's process never loads any.

class BrokerProcessRegistration : public BrokerProcessTest {
 protected:
  void SetUp() override {
    BrokerProcessTest::SetUp();
    os::ClearLoadedComponentFiles();
  }

  std::string Install(const char* fixture, const std::string& name) {
    const std::string path = "C:\\Program Files\\Vendor\\" + name;
    const std::string host = Host(path);
    fs::create_directories(fs::path(host).parent_path());
    fs::copy_file(std::string(PELISTO_FIXTURE_DIR) + "/" + fixture, host,
                  fs::copy_options::overwrite_existing);
    return path;
  }

  std::string Mark(const std::string& component) {
    return Content(component + pelisto::fixtures::kMarkSuffix);
  }

  bool ClassKnown() {
    os::HKEY key = nullptr;
    const std::string clsid = std::string("CLSID\\") + pelisto::fixtures::kSelfRegClsid;
    bool known =
        os::RegOpenKeyExA(os::HKEY_CLASSES_ROOT, clsid.c_str(), 0, os::KEY_READ, &key) == 0;
    os::RegCloseKey(key);
    return known;
  }
};

TEST_F(BrokerProcessRegistration, CrashInDllRegisterServerFailsThatRegistrationAndTheNextSucceeds) {
  pelisto::testing::FakeRunContext context;
  const std::string crash = Install(pelisto::fixtures::kCrashRegDll, "crashreg.dll");
  const std::string good = Install(pelisto::fixtures::kSelfRegOcx, "selfreg.ocx");
  os::ComPtr<IBrokerConnection> first = CurrentConnection();
  ASSERT_TRUE(first);

  pelisto::RegisterComponent(context, crash);
  EXPECT_TRUE(context.Logged(" " + crash + " dll/ocx set registry failed !!!"));
  ASSERT_EQ(context.messages.size(), 1u);
  EXPECT_EQ(context.messages[0], crash + ":regsvr32 failed... Try Again and Check log file");
  EXPECT_EQ(os::WaitForSingleObject(first->ProcessHandle(), 5000), os::WAIT_OBJECT_0);
  os::DWORD code = 0;
  EXPECT_TRUE(os::GetExitCodeProcess(first->ProcessHandle(), &code));
  EXPECT_EQ(code, 3u) << "the broker was aborted by the component";

  pelisto::RegisterComponent(context, good);
  EXPECT_EQ(context.messages.size(), 1u) << "the next registration failed too";
  EXPECT_EQ(Mark(good), "DllRegisterServer\n");
  EXPECT_TRUE(ClassKnown());
  os::ComPtr<IBrokerConnection> second = CurrentConnection();
  ASSERT_TRUE(second);
  EXPECT_NE(second->BrokerProcessId(), first->BrokerProcessId());
  EXPECT_TRUE(os::LoadedComponentFiles().empty())
      << "a component was loaded into the control's process";
}

// Zip extraction fetches the broker from the global table: a crash there is a -1 for that
// member; the extraction's next write through the broker starts a new one for the rest.
TEST_F(BrokerProcessRegistration, CrashDuringExtractionFailsThatMemberOnly) {
  pelisto::testing::FakeRunContext context;
  const std::string crash = Install(pelisto::fixtures::kCrashRegDll, "crashreg.dll");
  const std::string good = Install(pelisto::fixtures::kSelfRegOcx, "selfreg.ocx");
  ASSERT_EQ(pelisto::BrokerCreateDirectory("C:\\Program Files\\Vendor\\x", nullptr, true), 1);
  EXPECT_EQ(pelisto::RegisterIfComponent(context, crash), -1);
  ASSERT_EQ(pelisto::BrokerCreateDirectory("C:\\Program Files\\Vendor\\y", nullptr, true), 1);
  EXPECT_EQ(pelisto::RegisterIfComponent(context, good), 1);
  EXPECT_EQ(Mark(good), "DllRegisterServer\n");
  EXPECT_TRUE(context.messages.empty());
  EXPECT_EQ(BoxesSaying(kCreateFailed), 0);
}

// ---------------------------------------------------------------------------------------------
// Threads: one proxy, handed to other threads through the global interface table, answering
// several callers at once.

TEST_F(BrokerProcessTest, ThreadsUsingTheProxyAtOnceGetTheirOwnAnswers) {
  BrokerRef mine;
  pelisto::GetBroker(mine.ReleaseAndGetAddressOf());
  ASSERT_TRUE(mine);
  constexpr int kThreads = 3;
  constexpr int kRounds = 60;
  std::latch start(kThreads);
  std::vector<int> wrong(kThreads, 0);
  std::vector<bool> same_proxy(kThreads, false);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      BrokerRef broker;
      pelisto::GetBroker(broker.ReleaseAndGetAddressOf());
      same_proxy[t] = broker.Get() == mine.Get();
      start.arrive_and_wait();
      const std::string key = "SOFTWARE\\Vendor\\Thread" + std::to_string(t);
      for (int i = 0; i < kRounds && broker; ++i) {
        const std::string value = "t" + std::to_string(t) + "-" + std::to_string(i);
        if (pelisto::BrokerWriteRegString(os::HKEY_LOCAL_MACHINE, key, "Value", value) != 1 ||
            pelisto::BrokerReadRegString(os::HKEY_LOCAL_MACHINE, key, "Value") != value) {
          ++wrong[t];
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_TRUE(same_proxy[t]) << "thread " << t << " got another broker";
    EXPECT_EQ(wrong[t], 0) << "thread " << t;
  }
}

// ---------------------------------------------------------------------------------------------
// The broker program itself, reached over a channel of the test's own: frames against the
// protocol close the connection without an answer and without a crash.

class BrokerProcessChannel : public BrokerProcessTest {
 protected:
  void Start() {
    ASSERT_TRUE(os::CreateHostProcessWithChannel(
        {PELISTO_BIN_DIR "/pelisto-broker", "--prefix", machine().prefix(), "--stdio"},
        &channel_, &process_));
    pelisto::BrokerMessage hello;
    ASSERT_TRUE(ReadMessage(&hello));
    EXPECT_EQ(hello.op, pelisto::BrokerOp::kHello);
    EXPECT_EQ(hello.numbers.at(0), os::GetProcessId(process_.hProcess));
  }
  void TearDown() override {
    if (channel_) channel_->Shutdown();
    if (process_.hProcess != nullptr) {
      if (os::WaitForSingleObject(process_.hProcess, 5000) != os::WAIT_OBJECT_0) {
        os::TerminateProcess(process_.hProcess, 1);
      }
      os::CloseHandle(process_.hProcess);
      os::CloseHandle(process_.hThread);
    }
    BrokerProcessTest::TearDown();
  }

  bool ReadMessage(pelisto::BrokerMessage* message) {
    std::string frame(4, '\0');
    std::uint32_t rest = 0;
    if (channel_->Read(frame.data(), 4, 5000) != os::Channel::Status::kOk ||
        pelisto::DecodeBrokerFrameSize(frame, &rest) != pelisto::BrokerStatus::kOk) {
      return false;
    }
    frame.resize(4 + rest);
    return channel_->Read(frame.data() + 4, rest, 5000) == os::Channel::Status::kOk &&
           pelisto::DecodeBrokerMessage(frame, message) == pelisto::BrokerStatus::kOk;
  }

  os::DWORD ExitCode() {
    os::DWORD code = 0;
    EXPECT_EQ(os::WaitForSingleObject(process_.hProcess, 5000), os::WAIT_OBJECT_0);
    os::GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

  std::unique_ptr<os::Channel> channel_;
  os::PROCESS_INFORMATION process_;
};

TEST_F(BrokerProcessChannel, AnswersRequestsAndLeavesWhenTheClientGoes) {
  Start();
  pelisto::BrokerMessage request;
  request.op = pelisto::BrokerOp::kReadRegString;
  request.id = 5;
  request.numbers = {0x80000002};
  request.texts = {u"SOFTWARE\\Nothing", u"Here"};
  std::string frame;
  ASSERT_EQ(pelisto::EncodeBrokerMessage(request, &frame), pelisto::BrokerStatus::kOk);
  ASSERT_EQ(channel_->Write(frame), os::Channel::Status::kOk);
  pelisto::BrokerMessage answer;
  ASSERT_TRUE(ReadMessage(&answer));
  EXPECT_TRUE(answer.reply);
  EXPECT_EQ(answer.id, 5u);
  EXPECT_EQ(answer.op, pelisto::BrokerOp::kReadRegString);
  EXPECT_EQ(static_cast<os::HRESULT>(answer.numbers.at(0)),
            os::HRESULT_FROM_WIN32(os::ERROR_FILE_NOT_FOUND));

  channel_->Shutdown();
  EXPECT_EQ(ExitCode(), 0u);
}

struct RawFrame {
  const char* name;
  std::string bytes;
};

void PrintTo(const RawFrame& f, std::ostream* out) { *out << f.name; }

std::string Le32(std::uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return s;
}

class BrokerProcessChannelRefuses : public BrokerProcessChannel,
                                    public ::testing::WithParamInterface<RawFrame> {};

TEST_P(BrokerProcessChannelRefuses, FrameClosesTheConnectionWithoutACrash) {
  Start();
  ASSERT_EQ(channel_->Write(GetParam().bytes), os::Channel::Status::kOk);
  char byte = 0;
  EXPECT_EQ(channel_->Read(&byte, 1, 5000), os::Channel::Status::kClosed)
      << "the broker answered " << GetParam().name;
  EXPECT_EQ(ExitCode(), 4u) << "4: refused; a crash would show another code";
}

std::vector<RawFrame> RawFrames() {
  // DeleteFile of a path whose count claims more units than the bound allows.
  std::string long_path = Le32(12) + std::string("\x01\x00\x08\x00\x07\x00\x00\x00", 8) +
                          Le32(0xFFFFFFF0);
  // A whole frame of the hard cap's size whose version is wrong: refused once it is read.
  std::string capped = Le32(static_cast<std::uint32_t>(pelisto::kBrokerMaxFrame - 4)) +
                       std::string(pelisto::kBrokerMaxFrame - 4, '\x7F');
  return {
      {"Oversized", Le32(0xFFFFFFFF)},
      {"CappedWithBadVersion", capped},
      {"UnknownOperation", Le32(8) + std::string("\x01\x00\x63\x00\x01\x00\x00\x00", 8)},
      {"PathOverBound", long_path},
      {"AnswerSentAsRequest", Le32(12) + std::string("\x01\x00\x08\x80\x01\x00\x00\x00", 8) + Le32(0)},
  };
}

INSTANTIATE_TEST_SUITE_P(Frames, BrokerProcessChannelRefuses, ::testing::ValuesIn(RawFrames()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(BrokerProcessChannel, ClientLeavingInTheMiddleOfAFrameEndsTheBroker) {
  Start();
  // The size promises 40 bytes; 6 come, then the client goes.
  ASSERT_EQ(channel_->Write(Le32(40) + std::string("\x01\x00\x08\x00\x01\x00", 6)),
            os::Channel::Status::kOk);
  channel_->Shutdown();
  EXPECT_EQ(ExitCode(), 4u);
}

}  // namespace
