#include <gtest/gtest.h>

#include <string>

#include "control/class_registration.h"
#include "control/control_ids.h"
#include "os/base/error.h"
#include "os/com/hresult.h"
#include "os/image/integrity.h"
#include "os/reg/registry.h"
#include "tests/support/image_test.h"

namespace {
using pelisto::testing::ImageTest;

// The REG_SZ value `name` of HKEY_CLASSES_ROOT\`key` without its terminating zero; "<missing>"
// when the key or value does not exist.
std::string ClassesValue(const std::string& key, const char* name = nullptr) {
  os::HKEY k = nullptr;
  if (os::RegOpenKeyExA(os::HKEY_CLASSES_ROOT, key.c_str(), 0, os::KEY_READ, &k) != 0) {
    return "<missing>";
  }
  os::DWORD type = 0, size = 0;
  std::string data;
  os::LONG rc = os::RegQueryValueExA(k, name, nullptr, &type, nullptr, &size);
  if (rc == 0) {
    data.resize(size);
    rc = os::RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<os::BYTE*>(data.data()),
                              &size);
  }
  os::RegCloseKey(k);
  if (rc != 0) return "<missing>";
  EXPECT_EQ(type, os::REG_SZ) << key;
  if (!data.empty() && data.back() == '\0') data.pop_back();
  return data;
}

bool ClassesKeyExists(const std::string& key) {
  os::HKEY k = nullptr;
  if (os::RegOpenKeyExA(os::HKEY_CLASSES_ROOT, key.c_str(), 0, os::KEY_READ, &k) != 0) return false;
  os::RegCloseKey(k);
  return true;
}

const std::string kClass = "CLSID\\" + os::GuidToString(pelisto::CLSID_PelistoCtrl);
const std::string kPage = "CLSID\\" + os::GuidToString(pelisto::CLSID_PelistoPropPage);
const std::string kScripting = os::GuidToString(pelisto::CATID_SafeForScripting);
const std::string kInitializing = os::GuidToString(pelisto::CATID_SafeForInitializing);

class ControlRegistration : public ImageTest {
 protected:
  os::HRESULT RegisterElevated() {
    os::ImpersonationScope elevated(os::Token{os::IntegrityLevel::kHigh});
    return pelisto::DllRegisterServer();
  }
  os::HRESULT UnregisterElevated() {
    os::ImpersonationScope elevated(os::Token{os::IntegrityLevel::kHigh});
    return pelisto::DllUnregisterServer();
  }
};

TEST_F(ControlRegistration, WritesClassProgIdsCategoriesAndTypeLibrary) {
  ASSERT_EQ(RegisterElevated(), os::S_OK);
  const std::string clsid = os::GuidToString(pelisto::CLSID_PelistoCtrl);
  EXPECT_EQ(ClassesValue("PELISTO.PelistoCtrl.1\\CLSID"), clsid);
  EXPECT_EQ(ClassesValue(kClass + "\\ProgID"), "PELISTO.PelistoCtrl.1");
  EXPECT_EQ(ClassesValue(kClass + "\\InprocServer32"), pelisto::ControlModulePath());
  EXPECT_EQ(ClassesValue(kClass + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(ClassesValue(kClass + "\\Version"), "1.0");
  EXPECT_TRUE(ClassesKeyExists(kClass + "\\Implemented Categories\\" + kScripting));
  EXPECT_TRUE(ClassesKeyExists(kClass + "\\Implemented Categories\\" + kInitializing));
  EXPECT_EQ(ClassesValue("Component Categories\\" + kScripting, "409"),
            "Controls that are safely scriptable");
  EXPECT_EQ(ClassesValue("Component Categories\\" + kInitializing, "409"),
            "Controls safely initializable from persistent data");

  EXPECT_EQ(ClassesValue("PELISTO.PelistoPropPage.1\\CLSID"),
            os::GuidToString(pelisto::CLSID_PelistoPropPage));
  EXPECT_EQ(ClassesValue(kPage + "\\InprocServer32", "ThreadingModel"), "Apartment");

  const std::string lib = "TypeLib\\" + os::GuidToString(pelisto::LIBID_Pelisto) + "\\1.0";
  EXPECT_EQ(ClassesValue(lib + "\\0\\win32"), pelisto::ControlModulePath());
  EXPECT_EQ(ClassesValue("Interface\\" + os::GuidToString(pelisto::DIID_DPelistoEvents) +
                         "\\TypeLib", "Version"),
            "1.0");

  EXPECT_EQ(RegisterElevated(), os::S_OK) << "registering again is harmless";
}

TEST_F(ControlRegistration, UnregistrationRemovesAllButTheSharedCategories) {
  ASSERT_EQ(RegisterElevated(), os::S_OK);
  ASSERT_EQ(UnregisterElevated(), os::S_OK);
  for (const std::string& key :
       {kClass, kPage, std::string("PELISTO.PelistoCtrl.1"),
        std::string("PELISTO.PelistoPropPage.1"),
        "TypeLib\\" + os::GuidToString(pelisto::LIBID_Pelisto),
        "Interface\\" + os::GuidToString(pelisto::DIID_DPelisto)}) {
    EXPECT_FALSE(ClassesKeyExists(key)) << key;
  }
  EXPECT_TRUE(ClassesKeyExists("Component Categories\\" + kScripting));
  EXPECT_EQ(UnregisterElevated(), os::S_OK) << "nothing left to remove is not a failure";
}

TEST_F(ControlRegistration, NeedsElevationFromWindows6On) {
  SetOsMajor(6);
  os::LONG registry_error = 0;
  EXPECT_EQ(pelisto::DllRegisterServer(&registry_error), os::SELFREG_E_TYPELIB);
  EXPECT_EQ(registry_error, static_cast<os::LONG>(os::ERROR_ACCESS_DENIED));
  EXPECT_FALSE(ClassesKeyExists("TypeLib\\" + os::GuidToString(pelisto::LIBID_Pelisto)));
  EXPECT_FALSE(ClassesKeyExists("PELISTO.PelistoCtrl.1"));

  SetOsMajor(5);
  EXPECT_EQ(pelisto::DllRegisterServer(), os::S_OK) << "before Windows 6 anyone may register";
}

}  // namespace
