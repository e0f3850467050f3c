#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "os/base/error.h"
#include "os/com/hresult.h"
#include "os/image/integrity.h"
#include "os/module/module.h"
#include "os/reg/registry.h"
#include "os/shell/folders.h"
#include "os/sysinfo/version.h"
#include "tests/fixtures/fixture_ids.h"
#include "tests/support/image_test.h"

namespace {
namespace fs = std::filesystem;
namespace fx = pelisto::fixtures;
using pelisto::testing::ImageTest;

constexpr os::DWORD kSentinel = 0xDEADBEEF;

os::HRESULT CallEntry(os::HMODULE module, const char* name) {
  auto entry = reinterpret_cast<os::PFN_DllRegisterServer>(os::GetProcAddress(module, name));
  return entry != nullptr ? entry() : os::E_NOTIMPL;
}

class ModuleTest : public ImageTest {
 protected:
  void SetUp() override {
    ImageTest::SetUp();
    os::ClearLoadedComponentFiles();
  }

  // Copies a built component into the image under `win_path`.
  void Install(const char* fixture, const std::string& win_path) {
    const std::string host = Host(win_path);
    fs::create_directories(fs::path(host).parent_path());
    fs::copy_file(std::string(PELISTO_FIXTURE_DIR) + "/" + fixture, host,
                  fs::copy_options::overwrite_existing);
  }

  os::HMODULE Load(const std::string& win_path, os::DWORD flags = os::LOAD_WITH_ALTERED_SEARCH_PATH) {
    os::SetLastError(kSentinel);
    return os::LoadLibraryExA(win_path, nullptr, flags);
  }
};

TEST_F(ModuleTest, LoadsCallsAndFreesAComponent) {
  const std::string path = "C:\\Program Files\\Vendor\\failreg.dll";
  Install(fx::kFailRegDll, path);
  os::HMODULE h = Load(path);
  ASSERT_NE(h, nullptr) << "error " << os::GetLastError();
  EXPECT_EQ(CallEntry(h, "DllRegisterServer"), os::SELFREG_E_CLASS);
  EXPECT_EQ(CallEntry(h, "DllUnregisterServer"), os::SELFREG_E_CLASS);
  std::string name;
  EXPECT_EQ(os::GetModuleFileNameA(h, &name), path.size());
  EXPECT_EQ(name, path);
  EXPECT_EQ(os::FreeLibrary(h), os::TRUE);

  os::SetLastError(kSentinel);
  EXPECT_EQ(os::FreeLibrary(h), os::FALSE) << "a freed handle is no longer a module";
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_HANDLE);
  EXPECT_EQ(os::GetProcAddress(h, "DllRegisterServer"), nullptr);
  EXPECT_TRUE(os::WasComponentLoaded("c:\\PROGRAM FILES\\vendor\\FAILREG.DLL"));
  EXPECT_FALSE(os::WasComponentLoaded("C:\\Program Files\\Vendor\\other.dll"));
}

TEST_F(ModuleTest, UpperCaseNamesAndRepeatedLoadsShareOneModule) {
  const std::string path = "C:\\Vendor\\NOENTRY.DLL";
  Install(fx::kNoEntryDll, path);
  os::HMODULE first = Load(path);
  ASSERT_NE(first, nullptr) << "error " << os::GetLastError();
  os::HMODULE second = Load("c:\\vendor\\noentry.dll", 0);
  EXPECT_EQ(first, second);
  EXPECT_EQ(os::FreeLibrary(second), os::TRUE);
  EXPECT_NE(os::GetProcAddress(first, "NoEntryVersion"), nullptr) << "one reference is left";
  EXPECT_EQ(os::FreeLibrary(first), os::TRUE);
  EXPECT_EQ(os::FreeLibrary(first), os::FALSE);
}

TEST_F(ModuleTest, MissingEntryPointIsProcNotFound) {
  const std::string path = "C:\\Vendor\\noentry.dll";
  Install(fx::kNoEntryDll, path);
  os::HMODULE h = Load(path);
  ASSERT_NE(h, nullptr);
  os::SetLastError(kSentinel);
  EXPECT_EQ(os::GetProcAddress(h, "DllRegisterServer"), nullptr);
  EXPECT_EQ(os::GetLastError(), os::ERROR_PROC_NOT_FOUND);
  // Symbols of the libraries it uses are not its exports.
  EXPECT_EQ(os::GetProcAddress(h, "malloc"), nullptr);
  EXPECT_NE(os::GetProcAddress(h, "NoEntryVersion"), nullptr);
  os::FreeLibrary(h);
}

struct LoadFailure {
  const char* name;
  const char* path;      // what LoadLibraryExA is given
  const char* content;   // put at `path` when not null
  const char* fixture;   // or this component, when not null
  os::DWORD error;
};

void PrintTo(const LoadFailure& c, std::ostream* out) { *out << c.name; }

class ModuleLoadFailure : public ModuleTest, public ::testing::WithParamInterface<LoadFailure> {};

TEST_P(ModuleLoadFailure, ReturnsNullWithTheLoadersCode) {
  const LoadFailure& c = GetParam();
  PutFile("C:\\Vendor\\keep.txt", "the folder exists");
  if (c.content != nullptr) PutFile(c.path, c.content);
  if (c.fixture != nullptr) Install(c.fixture, c.path);
  EXPECT_EQ(Load(c.path), nullptr);
  EXPECT_EQ(os::GetLastError(), c.error) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModuleLoadFailure,
    ::testing::Values(
        LoadFailure{"data_file", "C:\\Vendor\\readme.dll", "This is not a library.\r\n", nullptr,
                    os::ERROR_BAD_EXE_FORMAT},
        LoadFailure{"windows_image", "C:\\Vendor\\setup.ocx", "MZ\x90\x00\x03", nullptr,
                    os::ERROR_BAD_EXE_FORMAT},
        LoadFailure{"empty_file", "C:\\Vendor\\empty.dll", "", nullptr, os::ERROR_BAD_EXE_FORMAT},
        LoadFailure{"truncated_elf", "C:\\Vendor\\cut.dll", "\x7f" "ELF\x02\x01\x01", nullptr,
                    os::ERROR_BAD_EXE_FORMAT},
        LoadFailure{"missing_file", "C:\\Vendor\\missing.dll", nullptr, nullptr, os::ERROR_MOD_NOT_FOUND},
        LoadFailure{"missing_folder", "C:\\Nowhere\\x.dll", nullptr, nullptr, os::ERROR_MOD_NOT_FOUND},
        LoadFailure{"relative_path", "Vendor\\keep.txt", nullptr, nullptr, os::ERROR_MOD_NOT_FOUND},
        LoadFailure{"folder", "C:\\Vendor", nullptr, nullptr, os::ERROR_ACCESS_DENIED},
        LoadFailure{"unknown_bare_name", "notthere.dll", nullptr, nullptr, os::ERROR_MOD_NOT_FOUND},
        LoadFailure{"init_refused", "C:\\Vendor\\badinit.dll", nullptr, fx::kBadInitDll,
                    os::ERROR_DLL_INIT_FAILED}));

TEST_F(ModuleTest, LibraryForAnotherProcessorIsNotAValidImage) {
  const std::string path = "C:\\Vendor\\foreign.dll";
  Install(fx::kNoEntryDll, path);
  std::string image = GetFile(path);
  ASSERT_GT(image.size(), 20u);
  image[18] = static_cast<char>(image[18] ^ 0x7F);  // e_machine
  PutFile(path, image);
  EXPECT_EQ(Load(path), nullptr);
  EXPECT_EQ(os::GetLastError(), os::ERROR_BAD_EXE_FORMAT);
}

TEST_F(ModuleTest, RefusedInitLeavesNothingLoaded) {
  Install(fx::kBadInitDll, "C:\\Vendor\\badinit.dll");
  EXPECT_EQ(Load("C:\\Vendor\\badinit.dll"), nullptr);
  EXPECT_EQ(os::GetLastError(), os::ERROR_DLL_INIT_FAILED);
  EXPECT_TRUE(os::WasComponentLoaded("C:\\Vendor\\badinit.dll")) << "its code did run in this process";
  os::SetLastError(kSentinel);
  EXPECT_EQ(Load("C:\\Vendor\\badinit.dll"), nullptr) << "a second load runs DllMain again";
  EXPECT_EQ(os::GetLastError(), os::ERROR_DLL_INIT_FAILED);
}

TEST_F(ModuleTest, RejectsFileHandleAndUnknownFlags) {
  Install(fx::kNoEntryDll, "C:\\Vendor\\noentry.dll");
  os::SetLastError(kSentinel);
  EXPECT_EQ(os::LoadLibraryExA("C:\\Vendor\\noentry.dll", nullptr, 0x2), nullptr);
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_PARAMETER);
  os::SetLastError(kSentinel);
  EXPECT_EQ(os::LoadLibraryExA("C:\\Vendor\\noentry.dll", os::INVALID_HANDLE_VALUE, 0), nullptr);
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(os::LoadedComponentFiles().empty());
}

// depuser.dll needs depend.dll, which lies only beside it (in another case than it is named).
TEST_F(ModuleTest, OwnFolderDependencyIsFoundOnlyWithAlteredSearchPath) {
  const std::string path = "C:\\Program Files\\Vendor\\depuser.dll";
  Install(fx::kDepUserDll, path);
  Install(fx::kDependDll, "C:\\Program Files\\Vendor\\DEPEND.DLL");

  EXPECT_EQ(Load(path, 0), nullptr);
  EXPECT_EQ(os::GetLastError(), os::ERROR_MOD_NOT_FOUND);

  os::HMODULE h = Load(path, os::LOAD_WITH_ALTERED_SEARCH_PATH);
  ASSERT_NE(h, nullptr) << "error " << os::GetLastError();
  EXPECT_EQ(CallEntry(h, "DllRegisterServer"), os::S_OK);
  EXPECT_EQ(os::GetProcAddress(h, "DependValue"), nullptr) << "the dependency's export is not its own";
  EXPECT_TRUE(os::WasComponentLoaded("C:\\Program Files\\Vendor\\DEPEND.DLL"));
  EXPECT_EQ(os::FreeLibrary(h), os::TRUE);

  // Freed together with the component: the dependency is not left behind for a later load.
  EXPECT_EQ(Load(path, 0), nullptr);
  EXPECT_EQ(os::GetLastError(), os::ERROR_MOD_NOT_FOUND);
}

TEST_F(ModuleTest, SystemFolderDependencyAndBareNamesNeedNoFlag) {
  Install(fx::kDependDll, "C:\\Windows\\system32\\depend.dll");
  Install(fx::kDepUserDll, "C:\\Vendor\\depuser.dll");
  os::HMODULE h = Load("C:\\Vendor\\depuser.dll", 0);
  ASSERT_NE(h, nullptr) << "error " << os::GetLastError();
  os::FreeLibrary(h);

  Install(fx::kNoEntryDll, "C:\\Windows\\NoEntry.dll");
  h = os::LoadLibraryA("noentry");  // ".dll" added, found in C:\Windows
  ASSERT_NE(h, nullptr) << "error " << os::GetLastError();
  std::string name;
  os::GetModuleFileNameA(h, &name);
  EXPECT_EQ(name, "C:\\Windows\\NoEntry.dll");
  os::FreeLibrary(h);
}

// The text value `name` of HKEY_CLASSES_ROOT\`subkey` without its terminating zero, or
// "<missing>".
std::string ClassesText(const std::string& subkey, const char* name = nullptr) {
  os::HKEY key = nullptr;
  if (os::RegOpenKeyExA(os::HKEY_CLASSES_ROOT, subkey.c_str(), 0, os::KEY_READ, &key) != 0) {
    return "<missing>";
  }
  os::BYTE data[512];
  os::DWORD size = sizeof data, type = 0;
  os::LONG rc = os::RegQueryValueExA(key, name, nullptr, &type, data, &size);
  os::RegCloseKey(key);
  if (rc != 0 || type != os::REG_SZ || size == 0) return "<missing>";
  return std::string(reinterpret_cast<char*>(data), size - 1);
}

// selfreg.ocx registers its class through the registry and file calls of the process that
// loaded it; its mark file records each entry point that ran.
TEST_F(ModuleTest, ComponentRegistersThroughTheLoadingProcess) {
  SetOsMajor(5);
  const std::string path = "C:\\Program Files\\Vendor\\selfreg.ocx";
  const std::string clsid_key = std::string("CLSID\\") + fx::kSelfRegClsid;
  Install(fx::kSelfRegOcx, path);
  os::HMODULE h = Load(path);
  ASSERT_NE(h, nullptr) << "error " << os::GetLastError();

  EXPECT_EQ(CallEntry(h, "DllRegisterServer"), os::S_OK);
  EXPECT_EQ(ClassesText(clsid_key + "\\InprocServer32"), path);
  EXPECT_EQ(ClassesText(clsid_key + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(ClassesText(std::string(fx::kSelfRegProgId) + "\\CLSID"), fx::kSelfRegClsid);
  EXPECT_EQ(GetFile(path + fx::kMarkSuffix), "DllRegisterServer\n");

  EXPECT_EQ(CallEntry(h, "DllUnregisterServer"), os::S_OK);
  EXPECT_EQ(ClassesText(clsid_key), "<missing>");
  EXPECT_EQ(ClassesText(fx::kSelfRegProgId), "<missing>");
  EXPECT_EQ(GetFile(path + fx::kMarkSuffix), "DllRegisterServer\nDllUnregisterServer\n");
  os::FreeLibrary(h);
}

// From Windows 6 on a component registering inside a medium-integrity process is refused by the
// integrity rule, as it would be on Windows; elevated, the same call succeeds.
TEST_F(ModuleTest, RegistrationNeedsElevationFromWindows6On) {
  const std::string path = "C:\\Program Files\\Vendor\\selfreg.ocx";
  Install(fx::kSelfRegOcx, path);
  os::HMODULE h = Load(path);
  ASSERT_NE(h, nullptr) << "error " << os::GetLastError();
  EXPECT_EQ(CallEntry(h, "DllRegisterServer"), os::SELFREG_E_CLASS);
  EXPECT_EQ(ClassesText(std::string("CLSID\\") + fx::kSelfRegClsid), "<missing>");
  EXPECT_FALSE(HostExists(path + fx::kMarkSuffix));
  {
    os::ImpersonationScope elevated(os::Token{os::IntegrityLevel::kHigh});
    EXPECT_EQ(CallEntry(h, "DllRegisterServer"), os::S_OK);
  }
  EXPECT_EQ(GetFile(path + fx::kMarkSuffix), "DllRegisterServer\n");
  os::FreeLibrary(h);
}

TEST_F(ModuleTest, Msxml4RegistrationMakesTheDomClassKnown) {
  SetOsMajor(5);
  const std::string path = "C:\\Windows\\system32\\msxml4.dll";
  const std::string clsid_key = std::string("CLSID\\") + fx::kDomClsid;
  Install(fx::kMsxml4Dll, path);
  os::HMODULE h = os::LoadLibraryExA(path, nullptr, os::LOAD_WITH_ALTERED_SEARCH_PATH);
  ASSERT_NE(h, nullptr) << "error " << os::GetLastError();
  EXPECT_EQ(CallEntry(h, "DllRegisterServer"), os::S_OK);
  EXPECT_EQ(ClassesText(clsid_key), fx::kDomName);
  EXPECT_EQ(ClassesText(clsid_key + "\\InprocServer32"), path);
  EXPECT_EQ(ClassesText(std::string(fx::kDomProgId) + "\\CLSID"), fx::kDomClsid);
  EXPECT_EQ(CallEntry(h, "DllUnregisterServer"), os::S_OK);
  EXPECT_EQ(ClassesText(clsid_key), "<missing>");
  EXPECT_EQ(ClassesText(fx::kDomProgId), "<missing>");
  os::FreeLibrary(h);
}

// The broker's tests rely on this component taking down whatever process registers it.
TEST_F(ModuleTest, CrashingComponentTakesTheProcessDown) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Install(fx::kCrashRegDll, "C:\\Vendor\\crashreg.dll");
  os::HMODULE h = Load("C:\\Vendor\\crashreg.dll");
  ASSERT_NE(h, nullptr) << "error " << os::GetLastError();
  EXPECT_DEATH(CallEntry(h, "DllRegisterServer"), "");
  os::FreeLibrary(h);
}

// ---------------------------------------------------------------------------------------------
// Built-in system libraries

struct BuiltinCase {
  const char* module;
  const char* proc;
  bool on_version_5;
};

void PrintTo(const BuiltinCase& c, std::ostream* out) { *out << c.module << "!" << c.proc; }

class ModuleBuiltinExports : public ModuleTest, public ::testing::WithParamInterface<BuiltinCase> {};

TEST_P(ModuleBuiltinExports, PresentPerWindowsVersion) {
  const BuiltinCase& c = GetParam();
  for (int major : {6, 5}) {
    SetOsMajor(major);
    os::HMODULE h = os::LoadLibraryA(c.module);
    ASSERT_NE(h, nullptr) << c.module << " on version " << major;
    os::SetLastError(kSentinel);
    os::FARPROC proc = os::GetProcAddress(h, c.proc);
    const bool expected = major >= 6 || c.on_version_5;
    EXPECT_EQ(proc != nullptr, expected) << c.proc << " on version " << major;
    if (!expected) {
      EXPECT_EQ(os::GetLastError(), os::ERROR_PROC_NOT_FOUND);
    }
    EXPECT_EQ(os::FreeLibrary(h), os::TRUE);
  }
}

INSTANTIATE_TEST_SUITE_P(Exports, ModuleBuiltinExports,
                         ::testing::Values(BuiltinCase{"kernel32.dll", "SetThreadUILanguage", false},
                                           BuiltinCase{"shell32.dll", "SHGetKnownFolderPath", false},
                                           BuiltinCase{"shell32.dll", "SHGetFolderPathA", true},
                                           BuiltinCase{"ieframe.dll", "IEIsProtectedModeProcess", false},
                                           BuiltinCase{"ieframe.dll", "IEGetWriteableFolderPath", false}));

TEST_F(ModuleTest, BuiltinNamesIgnoreCaseAndExtension) {
  os::HMODULE h = os::LoadLibraryA("kernel32.dll");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(os::LoadLibraryA("KERNEL32"), h);
  EXPECT_EQ(os::LoadLibraryExA("c:\\windows\\SYSTEM32\\Kernel32.DLL", nullptr, 8), h);
  std::string name;
  os::GetModuleFileNameA(h, &name);
  EXPECT_EQ(name, "C:\\Windows\\system32\\kernel32.dll");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(os::FreeLibrary(h), os::TRUE);
  EXPECT_EQ(os::FreeLibrary(h), os::FALSE);
  EXPECT_TRUE(os::LoadedComponentFiles().empty()) << "system libraries are not components";
  h = os::LoadLibraryA("kernel32");
  EXPECT_EQ(os::GetProcAddress(h, "GetProcAddressOfNothing"), nullptr);
  os::FreeLibrary(h);
}

TEST_F(ModuleTest, RemovedSystemLibraryFailsToLoadAndStaysRemoved) {
  os::EnsureSystemModules(machine());
  ASSERT_TRUE(HostExists("C:\\Windows\\system32\\ieframe.dll"));
  fs::remove(Host("C:\\Windows\\system32\\ieframe.dll"));
  for (int attempt = 0; attempt < 2; ++attempt) {
    os::SetLastError(kSentinel);
    EXPECT_EQ(os::LoadLibraryA("ieframe.dll"), nullptr);
    EXPECT_EQ(os::GetLastError(), os::ERROR_MOD_NOT_FOUND);
  }
  EXPECT_FALSE(HostExists("C:\\Windows\\system32\\ieframe.dll"));
  os::HMODULE kernel = os::LoadLibraryA("kernel32.dll");
  EXPECT_NE(kernel, nullptr) << "the other libraries are still there";
  os::FreeLibrary(kernel);
}

TEST_F(ModuleTest, BuiltinCallsAnswerFromTheImage) {
  os::HMODULE kernel = os::LoadLibraryA("kernel32.dll");
  auto set_language = reinterpret_cast<os::PFN_SetThreadUILanguage>(
      os::GetProcAddress(kernel, "SetThreadUILanguage"));
  ASSERT_NE(set_language, nullptr);
  EXPECT_EQ(set_language(os::kLangEnglish), os::kLangEnglish);
  EXPECT_EQ(os::GetThreadUILanguage(), os::kLangEnglish);

  os::HMODULE shell = os::LoadLibraryA("shell32.dll");
  auto known_folder = reinterpret_cast<os::PFN_SHGetKnownFolderPath>(
      os::GetProcAddress(shell, "SHGetKnownFolderPath"));
  ASSERT_NE(known_folder, nullptr);
  std::u16string path;
  EXPECT_EQ(known_folder(os::FOLDERID_LocalAppDataLow, 0, nullptr, &path), os::S_OK);
  EXPECT_EQ(path, u"C:\\Users\\user\\AppData\\LocalLow");

  os::HMODULE ieframe = os::LoadLibraryA("ieframe.dll");
  auto protected_mode = reinterpret_cast<os::PFN_IEIsProtectedModeProcess>(
      os::GetProcAddress(ieframe, "IEIsProtectedModeProcess"));
  auto writeable = reinterpret_cast<os::PFN_IEGetWriteableFolderPath>(
      os::GetProcAddress(ieframe, "IEGetWriteableFolderPath"));
  ASSERT_NE(protected_mode, nullptr);
  ASSERT_NE(writeable, nullptr);
  os::BOOL is_protected = -1;
  EXPECT_EQ(protected_mode(&is_protected), os::S_OK);
  EXPECT_EQ(is_protected, os::FALSE);
  EXPECT_EQ(writeable(os::FOLDERID_InternetCache, &path), os::S_OK);
  EXPECT_EQ(path, u"C:\\Users\\user\\AppData\\Local\\Microsoft\\Windows\\Temporary Internet Files");

  for (os::HMODULE h : {kernel, shell, ieframe}) os::FreeLibrary(h);
}

TEST_F(ModuleTest, ProtectedModeAnswersWithTheLowFolders) {
  os::ImageSettings s = machine().settings();
  s.protected_mode = true;
  Reconfigure(s);
  os::HMODULE ieframe = os::LoadLibraryA("ieframe.dll");
  auto protected_mode = reinterpret_cast<os::PFN_IEIsProtectedModeProcess>(
      os::GetProcAddress(ieframe, "IEIsProtectedModeProcess"));
  auto writeable = reinterpret_cast<os::PFN_IEGetWriteableFolderPath>(
      os::GetProcAddress(ieframe, "IEGetWriteableFolderPath"));
  ASSERT_TRUE(protected_mode && writeable);
  os::BOOL is_protected = os::FALSE;
  EXPECT_EQ(protected_mode(&is_protected), os::S_OK);
  EXPECT_EQ(is_protected, os::TRUE);

  std::u16string path = u"untouched";
  EXPECT_EQ(writeable(os::FOLDERID_InternetCache, &path), os::S_OK);
  EXPECT_EQ(path, u"C:\\Users\\user\\AppData\\Local\\Microsoft\\Windows\\Temporary Internet Files\\Low");
  EXPECT_TRUE(HostExists("C:\\Users\\user\\AppData\\Local\\Microsoft\\Windows\\Temporary Internet Files\\Low"));
  EXPECT_EQ(writeable(os::FOLDERID_LocalAppDataLow, &path), os::S_OK);
  EXPECT_EQ(path, u"C:\\Users\\user\\AppData\\LocalLow");
  path = u"untouched";
  EXPECT_EQ(writeable(os::FOLDERID_LocalAppData, &path), os::E_ACCESSDENIED);
  EXPECT_EQ(writeable(os::GUID{}, &path), os::E_INVALIDARG);
  EXPECT_EQ(path, u"untouched");

  // An elevated process of the same image (the broker) is not a protected-mode process.
  os::SetProcessIntegrity(os::IntegrityLevel::kHigh);
  EXPECT_EQ(protected_mode(&is_protected), os::S_OK);
  EXPECT_EQ(is_protected, os::FALSE);
  os::FreeLibrary(ieframe);
}

}  // namespace
