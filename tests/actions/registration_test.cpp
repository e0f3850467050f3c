#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "actions/registration.h"
#include "os/base/error.h"
#include "os/base/text.h"
#include "os/com/apartment.h"
#include "os/com/hresult.h"
#include "os/module/module.h"
#include "os/reg/registry.h"
#include "platform/broker_client.h"
#include "tests/fixtures/fixture_ids.h"
#include "tests/support/fake_run_context.h"
#include "tests/support/ui_script.h"

namespace {
namespace fs = std::filesystem;
namespace fx = pelisto::fixtures;
using pelisto::testing::FakeRunContext;

constexpr char kVendor[] = "C:\\Program Files\\Vendor\\";
constexpr char kCreateFailed[] = "Create Brokerprocess failed...[IFileManager]";
const std::string kSelfRegClsidKey = std::string("CLSID\\") + fx::kSelfRegClsid;

// The control's thread as a browser runs it: an OLE apartment.
class RegistrationTest : public pelisto::testing::UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    os::OleInitialize(nullptr);
    os::ClearLoadedComponentFiles();
  }
  void TearDown() override {
    pelisto::ReleaseBroker();
    os::OleUninitialize();
    UiTest::TearDown();
  }

  // Copies a built component into the image; returns `win_path`.
  std::string Install(const char* fixture, const std::string& win_path) {
    const std::string host = Host(win_path);
    fs::create_directories(fs::path(host).parent_path());
    fs::copy_file(std::string(PELISTO_FIXTURE_DIR) + "/" + fixture, host,
                  fs::copy_options::overwrite_existing);
    return win_path;
  }

  // The context after the image's version is set.
  FakeRunContext& Context(int os_major) {
    SetOsMajor(os_major);
    context_ = std::make_unique<FakeRunContext>();
    return *context_;
  }

  bool SelfRegClassKnown() {
    os::HKEY key = nullptr;
    if (os::RegOpenKeyExA(os::HKEY_CLASSES_ROOT, kSelfRegClsidKey.c_str(), 0, os::KEY_READ,
                          &key) != os::ERROR_SUCCESS) {
      return false;
    }
    os::RegCloseKey(key);
    return true;
  }

  std::string Mark(const std::string& component) {
    return HostExists(component + fx::kMarkSuffix) ? GetFile(component + fx::kMarkSuffix) : "";
  }

  int Loads(const std::string& win_path) {
    const auto loaded = os::LoadedComponentFiles();
    return static_cast<int>(std::count_if(loaded.begin(), loaded.end(), [&](const auto& p) {
      return os::EqualsIgnoreCase(p, win_path);
    }));
  }

  int BoxesSaying(const std::string& text) {
    int n = 0;
    for (const auto& box : ui().Boxes()) n += box.text == text;
    return n;
  }

  std::unique_ptr<FakeRunContext> context_;
};

std::vector<std::string> Lines(const FakeRunContext& c) {
  std::vector<std::string> out;
  for (const auto& line : c.log) out.push_back(std::to_string(line.level) + ":" + line.text);
  return out;
}

// ---------------------------------------------------------------------------------------------
// Both Windows versions: the direct path (5) and the broker (6).

class RegistrationByVersion : public RegistrationTest,
                              public ::testing::WithParamInterface<int> {};

TEST_P(RegistrationByVersion, RegistersAndUnregistersBetweenStartAndEndLines) {
  FakeRunContext& c = Context(GetParam());
  const std::string path = Install(fx::kSelfRegOcx, std::string(kVendor) + "selfreg.ocx");

  pelisto::RegisterComponent(c, path);
  EXPECT_EQ(Lines(c), (std::vector<std::string>{
                          "0:[2024-01-02_03:04:05] Start regsvr32 - " + path,
                          "0:[2024-01-02_03:04:05] End regsvr32 - " + path}));
  EXPECT_TRUE(SelfRegClassKnown());
  EXPECT_EQ(Mark(path), "DllRegisterServer\n");

  c.log.clear();
  pelisto::UnregisterComponent(c, path);
  EXPECT_EQ(Lines(c), (std::vector<std::string>{
                          "0:[2024-01-02_03:04:05] Start Unregsvr32 - " + path,
                          "0:[2024-01-02_03:04:05] End Unregsvr32 - " + path}));
  EXPECT_FALSE(SelfRegClassKnown());
  EXPECT_EQ(Mark(path), "DllRegisterServer\nDllUnregisterServer\n");
  EXPECT_TRUE(c.messages.empty());
}

// The message box is the control's gated one; the log lines come whatever the box does.
TEST_P(RegistrationByVersion, UnregisteringAMissingFileReportsTheFailure) {
  FakeRunContext& c = Context(GetParam());
  const std::string path = std::string(kVendor) + "gone.ocx";
  pelisto::UnregisterComponent(c, path);
  EXPECT_EQ(Lines(c), (std::vector<std::string>{
                          "0:[2024-01-02_03:04:05] Start Unregsvr32 - " + path,
                          "1:[2024-01-02_03:04:05] " + path + " dll/ocx delete registry failed !!!",
                          "0:[2024-01-02_03:04:05] End Unregsvr32 - " + path}));
  EXPECT_EQ(c.messages, std::vector<std::string>{
                            path + ":unregsvr32 failed... Try Again and Check log file"});
}

INSTANTIATE_TEST_SUITE_P(Windows, RegistrationByVersion, ::testing::Values(5, 6),
                         [](const auto& info) { return "Windows" + std::to_string(info.param); });

// ---------------------------------------------------------------------------------------------
// Components that cannot be registered, on both paths: the failure is reported and the run
// goes on with the next registration.

struct BadComponent {
  const char* name;
  const char* file;     // under kVendor
  const char* fixture;  // installed as `file` when set
  const char* content;  // else written as `file` when set; else the file is missing
};

void PrintTo(const BadComponent& c, std::ostream* out) { *out << c.name; }

class RegistrationFailure
    : public RegistrationTest,
      public ::testing::WithParamInterface<std::tuple<BadComponent, int>> {};

TEST_P(RegistrationFailure, ShowsTheMessageLogsTheLineAndTheRunGoesOn) {
  const auto& [bad, version] = GetParam();
  FakeRunContext& c = Context(version);
  const std::string path = std::string(kVendor) + bad.file;
  if (bad.fixture != nullptr) {
    Install(bad.fixture, path);
  } else if (bad.content != nullptr) {
    PutFile(path, bad.content);
  }

  pelisto::RegisterComponent(c, path);
  EXPECT_EQ(Lines(c), (std::vector<std::string>{
                          "0:[2024-01-02_03:04:05] Start regsvr32 - " + path,
                          "1:[2024-01-02_03:04:05] " + path + " dll/ocx set registry failed !!!",
                          "0:[2024-01-02_03:04:05] End regsvr32 - " + path}))
      << bad.name;
  EXPECT_EQ(c.messages, std::vector<std::string>{
                            path + ":regsvr32 failed... Try Again and Check log file"});

  const std::string good = Install(fx::kSelfRegOcx, std::string(kVendor) + "selfreg.ocx");
  c.log.clear();
  pelisto::RegisterComponent(c, good);
  EXPECT_FALSE(c.Logged("failed")) << "after " << bad.name;
  EXPECT_EQ(Mark(good), "DllRegisterServer\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegistrationFailure,
    ::testing::Combine(
        ::testing::Values(
            BadComponent{"data_file", "readme.dll", nullptr, "Plain text, not a library.\r\n"},
            BadComponent{"empty_file", "empty.ocx", nullptr, ""},
            BadComponent{"missing_file", "missing.ocx", nullptr, nullptr},
            BadComponent{"no_entry_point", "noentry.dll", fx::kNoEntryDll, nullptr},
            BadComponent{"entry_point_fails", "failreg.dll", fx::kFailRegDll, nullptr},
            BadComponent{"entry_point_throws", "throwreg.dll", fx::kThrowRegDll, nullptr},
            BadComponent{"init_refused", "badinit.dll", fx::kBadInitDll, nullptr},
            BadComponent{"dependency_missing", "depuser.dll", fx::kDepUserDll, nullptr}),
        ::testing::Values(5, 6)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + "_Windows" +
             std::to_string(std::get<1>(info.param));
    });

// ---------------------------------------------------------------------------------------------
// The direct path

TEST_F(RegistrationTest, DirectPathFindsDependenciesInTheComponentsFolder) {
  Context(5);
  const std::string path = Install(fx::kDepUserDll, std::string(kVendor) + "depuser.dll");
  Install(fx::kDependDll, std::string(kVendor) + "depend.dll");
  EXPECT_EQ(pelisto::CRegSvr32().Register(path), 1);
  EXPECT_EQ(pelisto::CRegSvr32().Unregister(path), 1);
}

// Each registration loads and frees the component and balances OLE: a thread that had no COM
// before has none after, and the next registration loads the file afresh.
TEST_F(RegistrationTest, DirectPathLeavesNothingLoadedOrInitialised) {
  Context(5);
  const std::string path = Install(fx::kSelfRegOcx, std::string(kVendor) + "selfreg.ocx");
  std::thread([&] {
    EXPECT_EQ(pelisto::CRegSvr32().Register(path), 1);
    EXPECT_EQ(pelisto::CRegSvr32().Register(path), 1);
    os::APTTYPE type;
    os::APTTYPEQUALIFIER qualifier;
    EXPECT_EQ(os::CoGetApartmentType(&type, &qualifier), os::CO_E_NOTINITIALIZED);
  }).join();
  EXPECT_EQ(Loads(path), 2);
  EXPECT_EQ(Mark(path), "DllRegisterServer\nDllRegisterServer\n");
}

// The control's thread initialised for the multithreaded model (as CPelistoCtrl makes a thread
// that nobody initialised before): OLE cannot be initialised there, so the direct path fails
// without loading anything, while the broker registers on a thread of its own.
TEST_F(RegistrationTest, MultithreadedCallerFailsDirectlyButNotThroughTheBroker) {
  FakeRunContext& c = Context(6);
  const std::string path = Install(fx::kSelfRegOcx, std::string(kVendor) + "selfreg.ocx");
  std::thread([&] {
    os::CoInitializeEx(nullptr, os::COINIT_MULTITHREADED);
    EXPECT_EQ(pelisto::CRegSvr32().Register(path), 0);
    EXPECT_EQ(Loads(path), 0);
    pelisto::RegisterComponent(c, path);
    pelisto::ReleaseBroker();
    os::CoUninitialize();
  }).join();
  EXPECT_FALSE(c.Logged("failed"));
  EXPECT_EQ(Mark(path), "DllRegisterServer\n");
}

// ---------------------------------------------------------------------------------------------
// The broker path

// Without an elevated broker nothing falls back to loading the component in the control's
// process: the registration fails and the component was never loaded.
TEST_F(RegistrationTest, Windows6NeverLoadsTheComponentIntoTheControl) {
  FakeRunContext& c = Context(6);
  os::ImageSettings s = machine().settings();
  s.refuse_elevation = true;
  Reconfigure(s);
  const std::string path = Install(fx::kSelfRegOcx, std::string(kVendor) + "selfreg.ocx");

  pelisto::RegisterComponent(c, path);
  pelisto::UnregisterComponent(c, path);
  EXPECT_EQ(pelisto::RegisterIfComponent(c, path), -1);
  EXPECT_EQ(BoxesSaying(kCreateFailed), 2);
  EXPECT_TRUE(c.Logged(path + " dll/ocx set registry failed !!!"));
  EXPECT_TRUE(c.Logged(path + " dll/ocx delete registry failed !!!"));
  EXPECT_TRUE(os::LoadedComponentFiles().empty());
  EXPECT_EQ(Mark(path), "");
}

// The broker acts elevated: the class keys land in HKEY_CLASSES_ROOT, which the control itself
// may not write from Windows 6 on. The registry-mode variant registers in the control's process
// on every version, where the same component is refused those keys.
TEST_F(RegistrationTest, Windows6BrokerRegistersElevatedDownloadedVariantDoesNot) {
  FakeRunContext& c = Context(6);
  const std::string path = Install(fx::kSelfRegOcx, std::string(kVendor) + "selfreg.ocx");
  pelisto::RegisterComponent(c, path);
  EXPECT_TRUE(SelfRegClassKnown());
  pelisto::UnregisterComponent(c, path);
  EXPECT_FALSE(SelfRegClassKnown());
  EXPECT_FALSE(c.Logged("failed"));

  os::ClearLoadedComponentFiles();
  EXPECT_EQ(pelisto::RegisterDownloadedComponent(c, "http://h/d/selfreg.ocx", "{program}\\Vendor"),
            0);
  EXPECT_EQ(Loads(path), 1) << "always in the control's own process";
  EXPECT_FALSE(SelfRegClassKnown());
  EXPECT_EQ(c.log.size(), 4u) << "no line of its own";
}

// ---------------------------------------------------------------------------------------------
// RegisterIfComponent: the extension test, then the direct path or the broker from the global
// interface table.

struct IfCase {
  const char* path;
  const char* fixture;  // installed at `path` when set
  int windows5;         // expected before Windows 6
  int windows6;         // expected with a broker
};

void PrintTo(const IfCase& c, std::ostream* out) { *out << '"' << c.path << '"'; }

class RegistrationIfComponent : public RegistrationTest,
                                public ::testing::WithParamInterface<IfCase> {};

TEST_P(RegistrationIfComponent, ByExtensionThenByPath) {
  const IfCase& k = GetParam();
  if (k.fixture != nullptr) Install(k.fixture, k.path);
  FakeRunContext& c5 = Context(5);
  EXPECT_EQ(pelisto::RegisterIfComponent(c5, k.path), k.windows5);
  if (k.windows5 == -1) {
    EXPECT_TRUE(os::LoadedComponentFiles().empty());
  }

  FakeRunContext& c6 = Context(6);
  pelisto::BrokerRef broker;
  pelisto::GetBroker(broker.ReleaseAndGetAddressOf());
  ASSERT_TRUE(broker);
  EXPECT_EQ(pelisto::RegisterIfComponent(c6, k.path), k.windows6);
  EXPECT_TRUE(c5.log.empty() && c6.log.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Paths, RegistrationIfComponent,
    ::testing::Values(IfCase{"", nullptr, -1, -1},
                      IfCase{"ll", nullptr, -1, -1},
                      IfCase{"x", nullptr, -1, -1},
                      IfCase{"C:\\Vendor\\selfreg.bak", fx::kSelfRegOcx, -1, -1},
                      IfCase{"C:\\Vendor\\selfreg.ocx.txt", fx::kSelfRegOcx, -1, -1},
                      IfCase{"C:\\Vendor\\SELFREG.DLL", fx::kSelfRegOcx, 1, 1},
                      IfCase{"C:\\Vendor\\SelfReg.Ocx", fx::kSelfRegOcx, 1, 1},
                      IfCase{"C:\\Vendor\\failreg.dll", fx::kFailRegDll, 0, -1},
                      IfCase{"C:\\Vendor\\missing.dll", nullptr, 0, -1}));

// The broker is fetched from the global interface table only: before anything created it,
// there is none, and the file is not registered.
TEST_F(RegistrationTest, IfComponentWithoutABrokerYetIsMinusOne) {
  FakeRunContext& c = Context(6);
  const std::string path = Install(fx::kSelfRegOcx, "C:\\Vendor\\selfreg.ocx");
  EXPECT_EQ(pelisto::RegisterIfComponent(c, path), -1);
  EXPECT_EQ(Mark(path), "");
  EXPECT_EQ(BoxesSaying(kCreateFailed), 0) << "no elevation prompt either";
}

// ---------------------------------------------------------------------------------------------
// RegisterDownloadedComponent

TEST_F(RegistrationTest, DownloadedComponentUsesBuiltInSymbolsAndTheFileNameOfTheUrl) {
  FakeRunContext& c = Context(5);
  const std::string path = Install(fx::kSelfRegOcx, std::string(kVendor) + "selfreg.ocx");
  c.custom_dirs["{apps}"] = "C:\\Program Files";

  EXPECT_EQ(pelisto::RegisterDownloadedComponent(c, "http://h/a/b/selfreg.ocx", "{program}\\Vendor"),
            1);
  EXPECT_EQ(pelisto::RegisterDownloadedComponent(c, "selfreg.ocx", "{program}\\Vendor"), 1);
  EXPECT_EQ(Mark(path), "DllRegisterServer\nDllRegisterServer\n");
  EXPECT_EQ(pelisto::RegisterDownloadedComponent(c, "http://h/selfreg.ocx", "{apps}\\Vendor"), 0)
      << "custom directories are not expanded here";
  EXPECT_EQ(pelisto::RegisterDownloadedComponent(c, "http://h/a/", "{program}\\Vendor"), 0);
  EXPECT_TRUE(c.log.empty());
  EXPECT_TRUE(c.messages.empty());
}

// ---------------------------------------------------------------------------------------------
// The broker's operations themselves: the result the control gets through any broker.

struct BrokerCase {
  const char* name;
  const char* fixture;
  const char* content;
  os::HRESULT expected;
};

void PrintTo(const BrokerCase& c, std::ostream* out) { *out << c.name; }

class RegistrationBrokerResult : public RegistrationTest,
                                 public ::testing::WithParamInterface<BrokerCase> {};

TEST_P(RegistrationBrokerResult, TellsWhyTheComponentWasNotRegistered) {
  const BrokerCase& k = GetParam();
  Context(6);
  const std::string path = std::string(kVendor) + "component.dll";
  if (k.fixture != nullptr) Install(k.fixture, path);
  if (k.content != nullptr) PutFile(path, k.content);
  pelisto::BrokerRef broker;
  pelisto::GetBroker(broker.ReleaseAndGetAddressOf());
  ASSERT_TRUE(broker);
  EXPECT_EQ(broker->RegisterComponent(os::AnsiToWide(path)), k.expected) << k.name;
  EXPECT_EQ(broker->UnregisterComponent(os::AnsiToWide(path)), k.expected) << k.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegistrationBrokerResult,
    ::testing::Values(
        BrokerCase{"registers", fx::kSelfRegOcx, nullptr, os::S_OK},
        BrokerCase{"missing", nullptr, nullptr, os::HRESULT_FROM_WIN32(os::ERROR_MOD_NOT_FOUND)},
        BrokerCase{"data_file", nullptr, "text", os::HRESULT_FROM_WIN32(os::ERROR_BAD_EXE_FORMAT)},
        BrokerCase{"no_entry", fx::kNoEntryDll, nullptr,
                   os::HRESULT_FROM_WIN32(os::ERROR_PROC_NOT_FOUND)},
        BrokerCase{"entry_fails", fx::kFailRegDll, nullptr, os::SELFREG_E_CLASS},
        BrokerCase{"entry_throws", fx::kThrowRegDll, nullptr, os::E_UNEXPECTED},
        BrokerCase{"init_refused", fx::kBadInitDll, nullptr,
                   os::HRESULT_FROM_WIN32(os::ERROR_DLL_INIT_FAILED)}));

TEST_F(RegistrationTest, BrokerRefusesAnEmptyPath) {
  Context(6);
  pelisto::BrokerRef broker;
  pelisto::GetBroker(broker.ReleaseAndGetAddressOf());
  ASSERT_TRUE(broker);
  EXPECT_EQ(broker->RegisterComponent(u""), os::E_INVALIDARG);
  EXPECT_EQ(broker->UnregisterComponent(u""), os::E_INVALIDARG);
}

}  // namespace
