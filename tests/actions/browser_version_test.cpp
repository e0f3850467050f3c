#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "actions/browser_version.h"
#include "os/image/integrity.h"
#include "os/image/machine.h"
#include "os/reg/registry.h"
#include "platform/broker_client.h"
#include "tests/support/fake_run_context.h"
#include "tests/support/image_test.h"

namespace {
using pelisto::testing::FakeRunContext;

class BrowserVersionText : public ::testing::TestWithParam<std::pair<const char*, double>> {};

TEST_P(BrowserVersionText, LeadingNumber) {
  EXPECT_DOUBLE_EQ(pelisto::BrowserVersionFromText(GetParam().first), GetParam().second)
      << GetParam().first;
}

INSTANTIATE_TEST_SUITE_P(Texts, BrowserVersionText,
                         ::testing::Values(std::make_pair("7.0000", 7.0),
                                           std::make_pair("8.00.6001.18702", 8.0),
                                           std::make_pair("  6.5x", 6.5), std::make_pair("", 0.0),
                                           std::make_pair("IE9", 0.0),
                                           std::make_pair("1e999", 0.0),
                                           std::make_pair("nan", 0.0)));

class BrowserVersionRead : public pelisto::testing::ImageTest {
 protected:
  void TearDown() override {
    pelisto::ReleaseBroker();
    ImageTest::TearDown();
  }

  void StoreVersion(const std::string& text) {
    os::ImpersonationScope elevated(os::Token{os::IntegrityLevel::kHigh});
    os::HKEY key = nullptr;
    ASSERT_EQ(os::RegCreateKeyExA(os::HKEY_LOCAL_MACHINE, pelisto::kBrowserVersionKey, 0,
                                  nullptr, 0, os::KEY_ALL_ACCESS, nullptr, &key, nullptr),
              0);
    os::RegSetValueExA(key, "IE", 0, os::REG_SZ, reinterpret_cast<const os::BYTE*>(text.c_str()),
                       static_cast<os::DWORD>(text.size() + 1));
    os::RegCloseKey(key);
  }
};

TEST_F(BrowserVersionRead, MissingValueIsZeroOnBothPaths) {
  os::ImageSettings settings = machine().settings();
  settings.browser_version.clear();  // an image made without the value
  Reconfigure(settings);
  FakeRunContext context;
  context.windows6 = false;
  EXPECT_EQ(pelisto::ReadBrowserVersion(context.Privileged()), 0.0);
  EXPECT_EQ(pelisto::ReadBrowserVersionDirect(context), 0.0);
}

TEST_F(BrowserVersionRead, ANewImageCarriesTheVersionOfItsSettings) {
  FakeRunContext context;
  for (int major : {5, 6}) {
    context.windows6 = major >= 6;
    EXPECT_EQ(pelisto::ReadBrowserVersion(context.Privileged()), 8.0) << "Windows " << major;
    EXPECT_EQ(pelisto::ReadBrowserVersionDirect(context), 8.0);
  }
  pelisto::testing::TempDir other;
  pelisto::testing::WriteHostFile(other.path() + "/image.conf", "browser_version=6.0000\n");
  std::string error;
  std::unique_ptr<os::Machine> older = os::Machine::Open(other.path(), &error);
  ASSERT_TRUE(older) << error;
  EXPECT_EQ(older->settings().browser_version, "6.0000");
  os::SetCurrentMachine(older.get());
  EXPECT_EQ(pelisto::ReadBrowserVersionDirect(context), 6.0);
  os::SetCurrentMachine(&machine());
}

TEST_F(BrowserVersionRead, StoredValueOnBothPaths) {
  StoreVersion("7.0000");
  for (int major : {5, 6}) {
    SetOsMajor(major);
    FakeRunContext context;
    context.windows6 = major >= 6;
    EXPECT_DOUBLE_EQ(pelisto::ReadBrowserVersion(context.Privileged()), 7.0) << major;
    EXPECT_DOUBLE_EQ(pelisto::ReadBrowserVersionDirect(context), 7.0) << major;
  }
}

}  // namespace
