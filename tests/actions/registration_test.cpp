#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "actions/registration.h"
#include "os/com/apartment.h"
#include "os/module/module.h"
#include "os/reg/registry.h"
#include "platform/broker_client.h"
#include "tests/fixtures/fixture_ids.h"
#include "tests/support/fake_run_context.h"
#include "tests/support/ui_script.h"

namespace {
namespace fx = pelisto::fixtures;
using pelisto::testing::FakeRunContext;

constexpr char kTime[] = "[2024-01-02_03:04:05]";
constexpr char kVendor[] = "C:\\Program Files\\Vendor\\";

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

  // Copies a built component into the image at kVendor + `name`.
  std::string Install(const char* fixture, const std::string& name) {
    const std::string host = Host(kVendor + name);
    std::filesystem::create_directories(std::filesystem::path(host).parent_path());
    std::filesystem::copy_file(std::string(PELISTO_FIXTURE_DIR) + "/" + fixture, host,
                               std::filesystem::copy_options::overwrite_existing);
    return kVendor + name;
  }

  // The context after the image's version is set; it replaces the previous one.
  FakeRunContext& Context(int os_major, bool refuse_elevation = false) {
    os::ImageSettings s = machine().settings();
    s.os_major = os_major;
    s.refuse_elevation = refuse_elevation;
    Reconfigure(s);
    context_ = std::make_unique<FakeRunContext>();
    return *context_;
  }

  bool ClassKnown() {
    os::HKEY key = nullptr;
    const std::string clsid = std::string("CLSID\\") + fx::kSelfRegClsid;
    bool known = os::RegOpenKeyExA(os::HKEY_CLASSES_ROOT, clsid.c_str(), 0, os::KEY_READ, &key) == 0;
    os::RegCloseKey(key);
    return known;
  }

  std::string Mark(const std::string& component) {
    return HostExists(component + fx::kMarkSuffix) ? GetFile(component + fx::kMarkSuffix) : "";
  }

  std::unique_ptr<FakeRunContext> context_;
};

std::vector<std::string> Lines(const FakeRunContext& c) {
  std::vector<std::string> out;
  for (const auto& line : c.log) out.push_back(std::to_string(line.level) + ":" + line.text);
  return out;
}

// Windows 5 registers in the control's process, Windows 6 through the broker.
class RegistrationByVersion : public RegistrationTest, public ::testing::WithParamInterface<int> {};

TEST_P(RegistrationByVersion, RegistersAndUnregistersBetweenStartAndEndLines) {
  FakeRunContext& c = Context(GetParam());
  const std::string path = Install(fx::kSelfRegOcx, "selfreg.ocx");
  pelisto::RegisterComponent(c, path);
  EXPECT_TRUE(ClassKnown());
  pelisto::UnregisterComponent(c, path);
  EXPECT_FALSE(ClassKnown());
  EXPECT_EQ(Mark(path), "DllRegisterServer\nDllUnregisterServer\n");
  // On Windows 6 the broker process did the work: the component never entered this process.
  EXPECT_EQ(os::WasComponentLoaded(path), GetParam() < 6);
  EXPECT_EQ(Lines(c), (std::vector<std::string>{"0:" + std::string(kTime) + " Start regsvr32 - " + path,
                                                 "0:" + std::string(kTime) + " End regsvr32 - " + path,
                                                 "0:" + std::string(kTime) + " Start Unregsvr32 - " + path,
                                                 "0:" + std::string(kTime) + " End Unregsvr32 - " + path}));
  EXPECT_TRUE(c.messages.empty());
}

TEST_P(RegistrationByVersion, UnregisteringAMissingFileReportsTheFailure) {
  FakeRunContext& c = Context(GetParam());
  const std::string path = std::string(kVendor) + "gone.ocx";
  pelisto::UnregisterComponent(c, path);
  EXPECT_EQ(Lines(c), (std::vector<std::string>{
                          "0:" + std::string(kTime) + " Start Unregsvr32 - " + path,
                          "1:" + std::string(kTime) + " " + path + " dll/ocx delete registry failed !!!",
                          "0:" + std::string(kTime) + " End Unregsvr32 - " + path}));
  EXPECT_EQ(c.messages, std::vector<std::string>{path + ":unregsvr32 failed... Try Again and Check log file"});
}

INSTANTIATE_TEST_SUITE_P(Windows, RegistrationByVersion, ::testing::Values(5, 6));

// What cannot be registered, on both paths: the message, the level-1 line, and the next
// registration of the run still works.
class RegistrationFailure
    : public RegistrationTest,
      public ::testing::WithParamInterface<std::tuple<const char*, int>> {};

TEST_P(RegistrationFailure, IsReportedAndTheRunGoesOn) {
  const auto& [fixture, version] = GetParam();
  FakeRunContext& c = Context(version);
  std::string path = std::string(kVendor) + "readme.dll";
  if (fixture == nullptr) {
    PutFile(path, "Plain text, not a library.\r\n");
  } else {
    path = Install(fixture, fixture);  // depuser.dll without depend.dll beside it
  }
  pelisto::RegisterComponent(c, path);
  EXPECT_EQ(Lines(c), (std::vector<std::string>{
                          "0:" + std::string(kTime) + " Start regsvr32 - " + path,
                          "1:" + std::string(kTime) + " " + path + " dll/ocx set registry failed !!!",
                          "0:" + std::string(kTime) + " End regsvr32 - " + path}));
  EXPECT_EQ(c.messages, std::vector<std::string>{path + ":regsvr32 failed... Try Again and Check log file"});

  const std::string good = Install(fx::kSelfRegOcx, "selfreg.ocx");
  pelisto::RegisterComponent(c, good);
  EXPECT_EQ(c.log.size(), 5u);
  EXPECT_EQ(Mark(good), "DllRegisterServer\n");
}

INSTANTIATE_TEST_SUITE_P(
    Components, RegistrationFailure,
    ::testing::Combine(::testing::Values(nullptr, fx::kNoEntryDll, fx::kFailRegDll,
                                         fx::kThrowRegDll, fx::kBadInitDll, fx::kDepUserDll),
                       ::testing::Values(5, 6)));

// Each registration loads and frees the component (its needed library found beside it) and
// balances OLE: a thread without COM has none afterwards.
TEST_F(RegistrationTest, DirectPathLeavesNothingLoadedOrInitialised) {
  Context(5);
  const std::string path = Install(fx::kDepUserDll, "depuser.dll");
  Install(fx::kDependDll, "DEPEND.DLL");
  std::thread([&] {
    EXPECT_EQ(pelisto::CRegSvr32().Register(path), 1);
    EXPECT_EQ(pelisto::CRegSvr32().Unregister(path), 1);
    os::APTTYPE type;
    os::APTTYPEQUALIFIER qualifier;
    EXPECT_EQ(os::CoGetApartmentType(&type, &qualifier), os::CO_E_NOTINITIALIZED);
  }).join();
  EXPECT_EQ(os::LoadedComponentFiles().size(), 4u) << "loaded afresh each time";
}

// A multithreaded thread (what CPelistoCtrl makes of a thread nobody initialised) cannot take
// OLE: the direct path fails without loading anything; the broker uses a thread of its own.
TEST_F(RegistrationTest, MultithreadedCallerFailsDirectlyButNotThroughTheBroker) {
  FakeRunContext& c = Context(6);
  const std::string path = Install(fx::kSelfRegOcx, "selfreg.ocx");
  std::thread([&] {
    os::CoInitializeEx(nullptr, os::COINIT_MULTITHREADED);
    EXPECT_EQ(pelisto::CRegSvr32().Register(path), 0);
    EXPECT_TRUE(os::LoadedComponentFiles().empty());
    pelisto::RegisterComponent(c, path);
    pelisto::ReleaseBroker();
    os::CoUninitialize();
  }).join();
  EXPECT_EQ(c.log.size(), 2u);
  EXPECT_EQ(Mark(path), "DllRegisterServer\n");
}

// Without an elevated broker nothing falls back to loading the component in the control.
TEST_F(RegistrationTest, Windows6NeverLoadsTheComponentIntoTheControl) {
  FakeRunContext& c = Context(6, /*refuse_elevation=*/true);
  const std::string path = Install(fx::kSelfRegOcx, "selfreg.ocx");
  pelisto::RegisterComponent(c, path);
  pelisto::UnregisterComponent(c, path);
  EXPECT_EQ(pelisto::RegisterIfComponent(c, path), -1);
  EXPECT_TRUE(c.Logged(path + " dll/ocx set registry failed !!!"));
  EXPECT_TRUE(c.Logged(path + " dll/ocx delete registry failed !!!"));
  EXPECT_EQ(ui().Boxes().size(), 2u);
  EXPECT_TRUE(os::LoadedComponentFiles().empty());
}

// The registry-mode variant loads into the control's process on every version; on Windows 6
// the component is then refused its machine-wide keys. Only built-in symbols are expanded.
TEST_F(RegistrationTest, DownloadedComponentRegistersInTheControlsProcess) {
  FakeRunContext& c = Context(5);
  c.custom_dirs["{apps}"] = "C:\\Program Files";
  const std::string path = Install(fx::kSelfRegOcx, "selfreg.ocx");
  EXPECT_EQ(pelisto::RegisterDownloadedComponent(c, "http://h/a/selfreg.ocx", "{program}\\Vendor"), 1);
  EXPECT_EQ(pelisto::RegisterDownloadedComponent(c, "selfreg.ocx", "{apps}\\Vendor"), 0);
  EXPECT_EQ(pelisto::RegisterDownloadedComponent(c, "http://h/a/", "{program}\\Vendor"), 0);
  EXPECT_TRUE(c.log.empty());

  pelisto::UnregisterComponent(c, path);
  FakeRunContext& c6 = Context(6);
  os::ClearLoadedComponentFiles();
  EXPECT_EQ(pelisto::RegisterDownloadedComponent(c6, "http://h/selfreg.ocx", "{program}\\Vendor"), 0);
  EXPECT_TRUE(os::WasComponentLoaded(path));
  EXPECT_FALSE(ClassKnown());
}

// RegisterIfComponent: -1 for what is not a component by its last three characters; then the
// direct result, or the broker's from the global interface table (-1 on every failure).
struct IfCase {
  const char* name;     // a file in kVendor, or with `bare` the whole path
  const char* fixture;  // installed there when set
  int windows5;
  int windows6;
  bool bare = false;
};

void PrintTo(const IfCase& c, std::ostream* out) { *out << '"' << c.name << '"'; }

class RegistrationIfComponent : public RegistrationTest, public ::testing::WithParamInterface<IfCase> {};

TEST_P(RegistrationIfComponent, ByExtensionThenByPath) {
  const IfCase& k = GetParam();
  const std::string path = k.bare ? k.name : kVendor + std::string(k.name);
  if (k.fixture != nullptr) Install(k.fixture, k.name);
  FakeRunContext& c5 = Context(5);
  EXPECT_EQ(pelisto::RegisterIfComponent(c5, path), k.windows5) << path;
  EXPECT_TRUE(c5.log.empty());

  FakeRunContext& c6 = Context(6);
  EXPECT_EQ(pelisto::RegisterIfComponent(c6, path), -1) << "no broker was made yet";
  pelisto::BrokerRef broker;
  pelisto::GetBroker(broker.ReleaseAndGetAddressOf());
  EXPECT_EQ(pelisto::RegisterIfComponent(c6, path), k.windows6) << path;
  EXPECT_TRUE(c6.log.empty());
  if (k.windows5 == -1) {
    EXPECT_TRUE(os::LoadedComponentFiles().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, RegistrationIfComponent,
                         ::testing::Values(IfCase{"", nullptr, -1, -1, true}, IfCase{"ll", nullptr, -1, -1, true},
                                           IfCase{"selfreg.bak", fx::kSelfRegOcx, -1, -1},
                                           IfCase{"SELFREG.DLL", fx::kSelfRegOcx, 1, 1},
                                           IfCase{"SelfReg.Ocx", fx::kSelfRegOcx, 1, 1},
                                           IfCase{"failreg.dll", fx::kFailRegDll, 0, -1},
                                           IfCase{"missing.dll", nullptr, 0, -1}));

}  // namespace
