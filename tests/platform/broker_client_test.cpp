#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "os/com/hresult.h"
#include "os/base/error.h"
#include "os/com/apartment.h"
#include "os/fs/file_api.h"
#include "os/reg/registry.h"
#include "platform/broker_client.h"
#include "tests/support/ui_script.h"

namespace {
using pelisto::BrokerRef;

constexpr char kCreateFailed[] = "Create Brokerprocess failed...[IFileManager]";

class BrokerTest : public pelisto::testing::UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    os::CoInitializeEx(nullptr, os::COINIT_MULTITHREADED);
    machine().FolderPath(os::KnownFolder::kProgramFiles);
  }
  void TearDown() override {
    pelisto::ReleaseBroker();
    os::CoUninitialize();
    UiTest::TearDown();
  }
  void RefuseElevation(bool refuse) {
    os::ImageSettings s = machine().settings();
    s.refuse_elevation = refuse;
    Reconfigure(s);
  }
  int BoxesSaying(const std::string& text) {
    int n = 0;
    for (const auto& box : ui().Boxes()) n += box.text == text;
    return n;
  }
};

// Each wrapper on Windows 5 (direct calls) and Windows 6 (the broker). On Windows 6 the
// targets lie in C:\Program Files, which the control itself may not write: only an elevated
// broker gets them there.
class BrokerWrappers : public BrokerTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    BrokerTest::SetUp();
    SetOsMajor(GetParam());
    use_broker_ = GetParam() >= 6;
    PutFile("C:\\Program Files\\Vendor\\a.txt", "payload");
  }
  bool use_broker_ = false;
};

TEST_P(BrokerWrappers, CopyFile) {
  EXPECT_EQ(pelisto::BrokerCopyFile("C:\\Program Files\\Vendor\\a.txt",
                                    "C:\\Program Files\\Vendor\\b.txt", os::FALSE, use_broker_),
            1);
  EXPECT_EQ(GetFile("C:\\Program Files\\Vendor\\b.txt"), "payload");
  EXPECT_EQ(pelisto::BrokerCopyFile("C:\\Program Files\\Vendor\\none.txt",
                                    "C:\\Program Files\\Vendor\\c.txt", os::FALSE, use_broker_),
            0);
  EXPECT_FALSE(HostExists("C:\\Program Files\\Vendor\\c.txt"));
}

TEST_P(BrokerWrappers, CreateDirectoryCountsAnExistingFolderAsSuccess) {
  const std::string folder = "C:\\Program Files\\Vendor\\New";
  EXPECT_EQ(pelisto::BrokerCreateDirectory(folder, nullptr, use_broker_), 1);
  EXPECT_TRUE(os::IsDirectory(folder));
  EXPECT_EQ(pelisto::BrokerCreateDirectory(folder, nullptr, use_broker_), 1);
  EXPECT_EQ(
      pelisto::BrokerCreateDirectory("C:\\Program Files\\Missing\\Deep", nullptr, use_broker_),
      0);
}

TEST_P(BrokerWrappers, MoveAndDeleteFile) {
  EXPECT_EQ(pelisto::BrokerMoveFile("C:\\Program Files\\Vendor\\a.txt",
                                    "C:\\Program Files\\Vendor\\moved.txt", use_broker_),
            1);
  EXPECT_EQ(GetFile("C:\\Program Files\\Vendor\\moved.txt"), "payload");
  EXPECT_FALSE(HostExists("C:\\Program Files\\Vendor\\a.txt"));
  EXPECT_EQ(pelisto::BrokerDeleteFile("C:\\Program Files\\Vendor\\moved.txt", use_broker_), 1);
  EXPECT_FALSE(HostExists("C:\\Program Files\\Vendor\\moved.txt"));
  EXPECT_EQ(pelisto::BrokerDeleteFile("C:\\Program Files\\Vendor\\moved.txt", use_broker_), 0);
}

TEST_P(BrokerWrappers, DirectPathNeverAsksForTheBroker) {
  RefuseElevation(true);
  EXPECT_EQ(pelisto::BrokerCopyFile("C:\\Program Files\\Vendor\\a.txt",
                                    "C:\\Program Files\\Vendor\\b.txt", os::FALSE, use_broker_),
            use_broker_ ? 0 : 1);
  EXPECT_EQ(BoxesSaying(kCreateFailed), use_broker_ ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Versions, BrokerWrappers, ::testing::Values(5, 6),
                         [](const auto& info) { return "Windows" + std::to_string(info.param); });

TEST_F(BrokerTest, RefusedElevationPromptsAgainOnTheNextRequest) {
  RefuseElevation(true);
  EXPECT_EQ(pelisto::BrokerCreateDirectory("C:\\Program Files\\X", nullptr, true), 0);
  EXPECT_EQ(BoxesSaying(kCreateFailed), 1);
  EXPECT_EQ(pelisto::BrokerReadRegString(os::HKEY_LOCAL_MACHINE, "SOFTWARE", "x"), "");
  EXPECT_EQ(BoxesSaying(kCreateFailed), 2) << "a failed creation leaves no state";

  RefuseElevation(false);
  EXPECT_EQ(pelisto::BrokerCreateDirectory("C:\\Program Files\\X", nullptr, true), 1);
  EXPECT_EQ(BoxesSaying(kCreateFailed), 2);
  EXPECT_TRUE(os::IsDirectory("C:\\Program Files\\X"));
}

TEST_F(BrokerTest, SameBrokerOnTheCreatingThreadUntilReleased) {
  BrokerRef first, second;
  pelisto::GetBroker(first.ReleaseAndGetAddressOf());
  pelisto::GetBroker(second.ReleaseAndGetAddressOf());
  ASSERT_TRUE(first);
  EXPECT_EQ(first.Get(), second.Get());
  pelisto::ReleaseBroker();
  BrokerRef third;
  pelisto::GetBroker(third.ReleaseAndGetAddressOf());
  ASSERT_TRUE(third);
  EXPECT_NE(third.Get(), first.Get());
  // References held by callers stay usable after the release.
  os::BOOL created = os::FALSE;
  EXPECT_EQ(first->CreateDirectory(u"C:\\Program Files\\Held", &created), os::S_OK);
}

TEST_F(BrokerTest, SecondThreadGetsAUsablePointerThroughTheGlobalTable) {
  BrokerRef mine;
  pelisto::GetBroker(mine.ReleaseAndGetAddressOf());
  ASSERT_TRUE(mine);
  bool got = false;
  os::APTTYPE apartment = os::APTTYPE_CURRENT;
  int created = 0;
  std::thread worker([&] {
    BrokerRef theirs;
    pelisto::GetBroker(theirs.ReleaseAndGetAddressOf());
    got = static_cast<bool>(theirs);
    os::APTTYPEQUALIFIER qualifier;
    os::CoGetApartmentType(&apartment, &qualifier);
    if (theirs) {
      created = pelisto::BrokerCreateDirectory("C:\\Program Files\\FromWorker", nullptr, true);
    }
  });
  worker.join();
  EXPECT_TRUE(got);
  EXPECT_EQ(apartment, os::APTTYPE_STA) << "COM is initialised on the thread, apartment-threaded";
  EXPECT_EQ(created, 1);
  EXPECT_TRUE(os::IsDirectory("C:\\Program Files\\FromWorker"));
  EXPECT_EQ(BoxesSaying(kCreateFailed), 0) << "no second elevation for another thread";

  BrokerRef from_table;
  pelisto::GetBrokerFromGlobal(from_table.ReleaseAndGetAddressOf());
  EXPECT_TRUE(from_table);
}

// Foreign threads share one slot for the pointer they fetch; each keeps its own reference,
// so a thread whose pointer was replaced in the slot meanwhile still uses a live object.
TEST_F(BrokerTest, ForeignThreadsAskingTogetherEachGetALiveBroker) {
  BrokerRef mine;
  pelisto::GetBroker(mine.ReleaseAndGetAddressOf());
  ASSERT_TRUE(mine);
  std::atomic<int> made{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&made, t] {
      for (int i = 0; i < 10; ++i) {
        BrokerRef theirs;
        pelisto::GetBroker(theirs.ReleaseAndGetAddressOf());
        os::BOOL created = os::FALSE;
        const std::u16string folder =
            u"C:\\Program Files\\T" + std::u16string(1, u'0' + t) + std::u16string(1, u'0' + i);
        if (theirs && theirs->CreateDirectory(folder, &created) == os::S_OK) ++made;
      }
    });
  }
  for (std::thread& w : workers) w.join();
  EXPECT_EQ(made.load(), 40);
  EXPECT_TRUE(ui().Boxes().empty());
}

TEST_F(BrokerTest, GlobalTableHoldsNothingBeforeABrokerExists) {
  BrokerRef from_table;
  pelisto::GetBrokerFromGlobal(from_table.ReleaseAndGetAddressOf());
  EXPECT_FALSE(from_table);
  EXPECT_TRUE(ui().Boxes().empty());
}

TEST_F(BrokerTest, RegistryTextAndNumberGoWhereOnlyAnElevatedCallerMayWrite) {
  const std::string key = "SOFTWARE\\Veltrane\\Plo\\Config\\viewer";
  EXPECT_EQ(pelisto::BrokerWriteRegString(os::HKEY_LOCAL_MACHINE, key, "ver", "1.05"), 1);
  EXPECT_EQ(pelisto::BrokerReadRegString(os::HKEY_LOCAL_MACHINE, key, "ver"), "1.05");
  EXPECT_EQ(pelisto::BrokerWriteRegNumber(os::HKEY_LOCAL_MACHINE, key, "count", -2), 1);
  os::HKEY k = nullptr;
  ASSERT_EQ(os::RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, key.c_str(), 0, os::KEY_READ, &k), 0);
  os::DWORD type = 0, value = 0, size = sizeof value;
  EXPECT_EQ(os::RegQueryValueExA(k, "count", nullptr, &type, reinterpret_cast<os::BYTE*>(&value),
                                 &size),
            0);
  os::RegCloseKey(k);
  EXPECT_EQ(type, os::REG_DWORD);
  EXPECT_EQ(value, 0xFFFFFFFEu);
  EXPECT_EQ(pelisto::BrokerReadRegString(os::HKEY_LOCAL_MACHINE, key, "count"), "")
      << "a number is not a text";
  EXPECT_EQ(pelisto::BrokerReadRegString(os::HKEY_LOCAL_MACHINE, key, "missing"), "");
  EXPECT_EQ(pelisto::BrokerWriteRegString(os::PredefinedKey(0x80000009), key, "v", "x"), 0);
}

TEST_F(BrokerTest, LaterOperationsAnswerTheirFailureValue) {
  EXPECT_EQ(pelisto::BrokerRunProgram("C:\\setup.exe"), 0);
  EXPECT_EQ(pelisto::BrokerRegisterServer("C:\\a.ocx"), 0);
  EXPECT_EQ(pelisto::BrokerUnregisterServer("C:\\a.ocx"), 0);
  // A link into a missing folder: the shell's failure, not success.
  EXPECT_NE(pelisto::BrokerCreateShellLink("C:\\a.exe", "C:\\no folder\\link", "d", "C:\\i.ico", ""), 0);
  EXPECT_NE(pelisto::BrokerCreateInternetShortcut("http://h/", "C:\\no folder\\s.url", "d", "", 0), 0);
  EXPECT_EQ(pelisto::BrokerCreateShellLink("C:\\a.exe", "C:\\link", "d", "", ""), 0);
}

TEST_F(BrokerTest, FileWritesKeepOneOpenFile) {
  BrokerRef broker;
  pelisto::GetBroker(broker.ReleaseAndGetAddressOf());
  ASSERT_TRUE(broker);
  os::LONG file = 0, size = -1;
  ASSERT_EQ(broker->OpenFile(u"C:\\Program Files\\saved.xml", u"w", &file), os::S_OK);
  EXPECT_EQ(broker->WriteText(u"<?xml version=\"1.0\"?>", file), os::S_OK);
  EXPECT_EQ(broker->QueryOpenFile(&size), os::S_OK);
  EXPECT_EQ(size, 21);
  EXPECT_EQ(broker->WriteText(u"x", file + 1), os::E_HANDLE) << "a stale file number";
  EXPECT_EQ(broker->CloseFile(), os::S_OK);
  EXPECT_EQ(broker->CloseFile(), os::S_FALSE);
  EXPECT_EQ(broker->WriteText(u"late", file), os::E_HANDLE);
  EXPECT_EQ(GetFile("C:\\Program Files\\saved.xml"), "<?xml version=\"1.0\"?>");
  EXPECT_EQ(broker->OpenFile(u"C:\\Program Files\\saved.xml", u"rw", &file), os::E_INVALIDARG);
  EXPECT_TRUE(os::FAILED(broker->OpenFile(u"C:\\Missing\\x.txt", u"a+", &file)));
}

// The open file of a whole-file write is written beside its target and renamed over it on
// the close; appends go their own way meanwhile, and an open never closed is dropped.
TEST_F(BrokerTest, WholeFileWriteReplacesOnlyOnCloseWhileAppendsGoOn) {
  PutFile("C:\\Program Files\\saved.xml", "old");
  PutFile("C:\\Program Files\\other.xml", "other");
  BrokerRef broker;
  pelisto::GetBroker(broker.ReleaseAndGetAddressOf());
  ASSERT_TRUE(broker);
  os::LONG file = 0, size = -1;
  ASSERT_EQ(broker->OpenFile(u"C:\\Program Files\\saved.xml", u"w", &file), os::S_OK);
  EXPECT_EQ(broker->WriteText(u"new ", file), os::S_OK);
  EXPECT_EQ(broker->AppendText(u"C:\\Program Files\\Log.log", u"line\r\n"), os::S_OK);
  EXPECT_EQ(broker->AppendText(u"C:\\Program Files\\Log.log", u""), os::S_OK);
  EXPECT_EQ(broker->WriteText(u"content", file), os::S_OK);
  EXPECT_EQ(broker->QueryOpenFile(&size), os::S_OK);
  EXPECT_EQ(size, 11);
  EXPECT_EQ(GetFile("C:\\Program Files\\saved.xml"), "old");
  EXPECT_EQ(broker->CloseFile(), os::S_OK);
  EXPECT_EQ(GetFile("C:\\Program Files\\saved.xml"), "new content");
  EXPECT_EQ(GetFile("C:\\Program Files\\Log.log"), "line\r\n");

  // Opening another file drops the whole-file write still open.
  ASSERT_EQ(broker->OpenFile(u"C:\\Program Files\\other.xml", u"w", &file), os::S_OK);
  EXPECT_EQ(broker->WriteText(u"lost", file), os::S_OK);
  ASSERT_EQ(broker->OpenFile(u"C:\\Program Files\\Log.log", u"a+", &file), os::S_OK);
  EXPECT_EQ(broker->CloseFile(), os::S_OK);
  EXPECT_EQ(GetFile("C:\\Program Files\\other.xml"), "other");
  EXPECT_TRUE(os::FAILED(broker->AppendText(u"C:\\Missing\\x.log", u"x")));

  // Nothing but the files themselves is left in the folder.
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(Host("C:\\Program Files"))) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Log.log", "other.xml", "saved.xml"}));
}

}  // namespace
