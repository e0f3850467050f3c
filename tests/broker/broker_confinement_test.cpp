// The elevated broker reaches nothing outside the image: not through a link planted in a drive,
// not through a drive the image does not map, not through a file that is no regular file.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/com/apartment.h"
#include "os/com/hresult.h"
#include "os/process/process.h"
#include "platform/broker_client.h"
#include "platform/broker_proxy.h"
#include "tests/support/image_test.h"
#include "tests/support/link_escapes.h"
#include "tests/support/ui_script.h"

namespace {
namespace fs = std::filesystem;
using pelisto::BrokerRef;
using pelisto::IFileManager;
using pelisto::testing::Escape;
using pelisto::testing::TempDir;

std::u16string W(const std::string& text) { return os::AnsiToWide(text); }

class BrokerConfinementTest : public pelisto::testing::UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    os::CoInitializeEx(nullptr, os::COINIT_MULTITHREADED);
    PutFile("C:\\src.txt", "planted");
  }
  void TearDown() override {
    pelisto::ReleaseBroker();
    os::CoUninitialize();
    UiTest::TearDown();
  }

  // The broker process (never the in-process stand-in), started afresh for the image as it
  // now is.
  BrokerRef Broker() {
    pelisto::ReleaseBroker();
    BrokerRef broker;
    pelisto::GetBroker(broker.ReleaseAndGetAddressOf());
    os::ComPtr<pelisto::IBrokerConnection> connection;
    EXPECT_TRUE(broker && os::SUCCEEDED(broker->QueryInterface(
                              pelisto::IBrokerConnection::kIid, connection.ReleaseAndGetVoidAddressOf())));
    if (connection) {
      EXPECT_NE(connection->BrokerProcessId(), os::GetCurrentProcessId());
    }
    return broker;
  }
};

// One broker operation on a path; true when the broker reports success.
struct Operation {
  const char* name;
  std::function<bool(IFileManager&, const std::string&)> call;
};

bool Written(IFileManager& b, const std::string& path, const char16_t* mode) {
  os::LONG file = 0;
  if (os::FAILED(b.OpenFile(W(path), mode, &file))) return false;
  const bool wrote = os::SUCCEEDED(b.WriteText(u"written", file));
  return os::SUCCEEDED(b.CloseFile()) && wrote;
}

// Operations given a new name through the link (`fresh`); those that act on a link itself
// when it is the last component are given a path below it.
const std::vector<Operation> kWrites = {
    {"OpenFileW", [](IFileManager& b, const std::string& p) { return Written(b, p, u"w"); }},
    {"OpenFileAppend", [](IFileManager& b, const std::string& p) { return Written(b, p, u"a+"); }},
    {"CopyFileTo",
     [](IFileManager& b, const std::string& p) { return os::SUCCEEDED(b.CopyFile(u"C:\\src.txt", W(p), 0)); }},
    {"MoveFileTo",
     [](IFileManager& b, const std::string& p) { return os::SUCCEEDED(b.MoveFile(u"C:\\src.txt", W(p + "\\x"))); }},
    {"AppendText",
     [](IFileManager& b, const std::string& p) { return os::SUCCEEDED(b.AppendText(W(p), u"written")); }},
    {"MoveFileReplacingTo",
     [](IFileManager& b, const std::string& p) {
       return os::SUCCEEDED(b.MoveFileReplacing(u"C:\\src.txt", W(p + "\\x")));
     }},
    {"CreateDirectory",
     [](IFileManager& b, const std::string& p) {
       os::BOOL created = 0;
       return os::SUCCEEDED(b.CreateDirectory(W(p + "\\x"), &created));
     }},
};

// Operations given the existing outside file through the link (`existing`).
const std::vector<Operation> kReads = {
    {"CopyFileFrom",
     [](IFileManager& b, const std::string& p) { return os::SUCCEEDED(b.CopyFile(W(p), u"C:\\copied.txt", 0)); }},
    {"MoveFileFrom",
     [](IFileManager& b, const std::string& p) { return os::SUCCEEDED(b.MoveFile(W(p + "\\x"), u"C:\\moved.txt")); }},
    {"MoveFileReplacingFrom",
     [](IFileManager& b, const std::string& p) {
       return os::SUCCEEDED(b.MoveFileReplacing(W(p), u"C:\\moved.txt"));
     }},
    {"DeleteFile", [](IFileManager& b, const std::string& p) { return os::SUCCEEDED(b.DeleteFile(W(p + "\\x"))); }},
    {"RegisterComponent", [](IFileManager& b, const std::string& p) { return os::SUCCEEDED(b.RegisterComponent(W(p))); }},
    {"UnregisterComponent",
     [](IFileManager& b, const std::string& p) { return os::SUCCEEDED(b.UnregisterComponent(W(p))); }},
};

class BrokerLinkEscape : public BrokerConfinementTest, public ::testing::WithParamInterface<Escape> {};

TEST_P(BrokerLinkEscape, EveryOperationIsRefusedAndNothingOutsideChanges) {
  TempDir outside;
  pelisto::testing::WriteHostFile(outside.path() + "/secret", "secret");
  GetParam().plant(prefix() + "/drive_c", outside.path());
  const std::vector<std::string> before = pelisto::testing::FilesBelow(outside.path());
  BrokerRef broker = Broker();
  ASSERT_TRUE(broker);
  for (const Operation& op : kWrites) EXPECT_FALSE(op.call(*broker.Get(), GetParam().fresh)) << op.name;
  for (const Operation& op : kReads) EXPECT_FALSE(op.call(*broker.Get(), GetParam().existing)) << op.name;
  EXPECT_EQ(pelisto::testing::FilesBelow(outside.path()), before) << "a file outside the image changed";
  EXPECT_EQ(GetFile("C:\\src.txt"), "planted");
  EXPECT_FALSE(HostExists("C:\\copied.txt"));
  EXPECT_FALSE(HostExists("C:\\moved.txt"));
}

INSTANTIATE_TEST_SUITE_P(Links, BrokerLinkEscape, ::testing::ValuesIn(pelisto::testing::kEscapes),
                         [](const auto& info) { return std::string(info.param.name); });

// The image maps no drive for the host's folders unless image.conf says so: Z: is no way out.
TEST_F(BrokerConfinementTest, AnUnmappedDriveIsNoWayToTheHost) {
  TempDir host;
  pelisto::testing::WriteHostFile(host.path() + "/passwd", "root:x:0:0");
  const std::string z = "Z:" + host.path();
  std::string win = z;
  for (char& c : win) c = c == '/' ? '\\' : c;
  BrokerRef broker = Broker();
  ASSERT_TRUE(broker);
  EXPECT_EQ(broker->CopyFile(W(win + "\\passwd"), u"C:\\passwd", 0),
            os::HRESULT_FROM_WIN32(os::ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(Written(*broker.Get(), win + "\\new.txt", u"w"));
  EXPECT_TRUE(os::FAILED(broker->DeleteFile(W(win + "\\passwd"))));
  EXPECT_TRUE(os::FAILED(broker->RegisterComponent(W(win + "\\passwd"))));
  EXPECT_FALSE(HostExists("C:\\passwd"));
  EXPECT_EQ(pelisto::testing::FilesBelow(host.path()), std::vector<std::string>{"passwd=root:x:0:0"});
}

// A drive the image maps is the broker's to use; what is no regular file in it is not copied
// (a device that never ends, a pipe that never opens).
TEST_F(BrokerConfinementTest, AMappedDriveIsUsableButOnlyItsRegularFilesAreCopied) {
  TempDir host;
  os::ImageSettings s = machine().settings();
  s.drives['D'] = host.path();
  Reconfigure(s);
  pelisto::testing::WriteHostFile(host.path() + "/data.txt", "data");
  ASSERT_EQ(mkfifo((host.path() + "/pipe").c_str(), 0644), 0);
  const bool device = mknod((host.path() + "/null").c_str(), S_IFCHR | 0644, makedev(1, 3)) == 0;
  BrokerRef broker = Broker();
  ASSERT_TRUE(broker);
  EXPECT_EQ(broker->CopyFile(u"D:\\data.txt", u"C:\\data.txt", 0), os::S_OK);
  EXPECT_EQ(GetFile("C:\\data.txt"), "data");
  EXPECT_EQ(broker->CopyFile(u"D:\\pipe", u"C:\\pipe.txt", 0), os::HRESULT_FROM_WIN32(os::ERROR_ACCESS_DENIED));
  EXPECT_FALSE(HostExists("C:\\pipe.txt"));
  if (device) {
    EXPECT_EQ(broker->CopyFile(u"D:\\null", u"C:\\null.txt", 0), os::HRESULT_FROM_WIN32(os::ERROR_ACCESS_DENIED));
    EXPECT_FALSE(HostExists("C:\\null.txt"));
  }
  // Nothing of the copies is left beside their targets.
  for (const auto& e : fs::directory_iterator(prefix() + "/drive_c")) {
    const std::string name = e.path().filename().string();
    EXPECT_FALSE(name.size() > 4 && name.substr(name.size() - 4) == ".tmp") << e.path();
  }
}

}  // namespace
