#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "os/com/hresult.h"
#include "os/image/integrity.h"
#include "os/module/module.h"
#include "os/reg/registry.h"
#include "platform/xml_availability.h"
#include "tests/fixtures/fixture_ids.h"
#include "tests/support/image_test.h"

namespace pelisto {
namespace {

constexpr char kDomClsid[] = "{88D969C0-F192-11D4-A65F-0040963251E5}";
constexpr char kDomPath[] = "C:\\Windows\\system32\\msxml4.dll";

class XmlLayerAvailability : public testing::ImageTest {
 protected:
  // Writes HKEY_CLASSES_ROOT\`subkey` (default value `text`) as an elevated installer would.
  void SetClassesRootText(const std::string& subkey, const std::string& text) {
    os::ImpersonationScope elevated(os::Token{os::IntegrityLevel::kHigh});
    os::HKEY key = nullptr;
    ASSERT_EQ(os::RegCreateKeyExA(os::HKEY_CLASSES_ROOT, subkey.c_str(), 0, nullptr, 0,
                                  os::KEY_WRITE, nullptr, &key, nullptr),
              0);
    EXPECT_EQ(os::RegSetValueExA(key, nullptr, 0, os::REG_SZ,
                                 reinterpret_cast<const os::BYTE*>(text.c_str()),
                                 static_cast<os::DWORD>(text.size() + 1)),
              0);
    os::RegCloseKey(key);
  }
  // Puts the test DOM library into the image and runs one of its registration entry points
  // elevated, as its installer would.
  os::HRESULT RunDomLibraryEntry(const char* entry) {
    std::string host = Host(kDomPath);
    std::filesystem::create_directories(std::filesystem::path(host).parent_path());
    std::filesystem::copy_file(std::string(PELISTO_FIXTURE_DIR) + "/" + fixtures::kMsxml4Dll, host,
                               std::filesystem::copy_options::overwrite_existing);
    os::ImpersonationScope elevated(os::Token{os::IntegrityLevel::kHigh});
    os::HMODULE module = os::LoadLibraryA(kDomPath);
    if (module == nullptr) return os::E_FAIL;
    auto proc = reinterpret_cast<os::PFN_DllRegisterServer>(os::GetProcAddress(module, entry));
    os::HRESULT hr = proc != nullptr ? proc() : os::E_FAIL;
    os::FreeLibrary(module);
    return hr;
  }
  void RegisterDom(const std::string& progid_clsid = kDomClsid) {
    SetClassesRootText(std::string("CLSID\\") + kDomClsid + "\\InprocServer32", kDomPath);
    SetClassesRootText("Msxml2.DOMDocument.4.0\\CLSID", progid_clsid);
  }
};

TEST_F(XmlLayerAvailability, FreshImageHasNoDom) { EXPECT_FALSE(IsMsxml4Available()); }

TEST_F(XmlLayerAvailability, RegisteredClassWithItsServerFileIsAvailable) {
  PutFile(kDomPath, "library");
  RegisterDom();
  EXPECT_TRUE(IsMsxml4Available());
}

TEST_F(XmlLayerAvailability, FollowsTheSelfRegistrationOfTheDomLibrary) {
  ASSERT_EQ(RunDomLibraryEntry("DllRegisterServer"), os::S_OK);
  EXPECT_TRUE(IsMsxml4Available());
  ASSERT_EQ(RunDomLibraryEntry("DllUnregisterServer"), os::S_OK);
  EXPECT_FALSE(IsMsxml4Available());
}

TEST_F(XmlLayerAvailability, NeedsTheServerFileAndAProgIdNamingTheClass) {
  RegisterDom();
  EXPECT_FALSE(IsMsxml4Available()) << "registered, but the server file is missing";
  PutFile(kDomPath, "library");
  RegisterDom("{00000000-0000-0000-0000-000000000000}");
  EXPECT_FALSE(IsMsxml4Available());
  RegisterDom("{88d969c0-f192-11d4-a65f-0040963251e5}");
  EXPECT_TRUE(IsMsxml4Available()) << "identifiers compare without case";
  RegisterDom("not a class");
  EXPECT_FALSE(IsMsxml4Available());
}

}  // namespace
}  // namespace pelisto
