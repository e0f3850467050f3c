#include "control/class_registration.h"

#include <string>
#include <vector>

#include "control/control_ids.h"
#include "os/base/error.h"
#include "os/com/hresult.h"
#include "os/image/machine.h"
#include "os/reg/key_helpers.h"
#include "os/reg/registry.h"

namespace pelisto {
namespace {

constexpr char kControlName[] = "Pelisto Control";
constexpr char kPropPageName[] = "Pelisto Property Page";
constexpr char kTypeLibName[] = "Pelisto ActiveX Control module";
constexpr char kModuleFileName[] = "Pelisto.ocx";

std::string TypeLibVersion() {
  return std::to_string(kTypeLibMajor) + "." + std::to_string(kTypeLibMinor);
}

// Sets a REG_SZ value (the key's default value for an empty name), creating the key.
os::LONG SetText(const std::string& subkey, const char* name, const std::string& text) {
  return os::RegSetKeyValueA(os::HKEY_CLASSES_ROOT, subkey.c_str(), name, os::REG_SZ,
                             text.c_str(), static_cast<os::DWORD>(text.size() + 1));
}

os::LONG MakeKey(const std::string& subkey) {
  os::ScopedHKEY key;
  return os::RegCreateKeyExA(os::HKEY_CLASSES_ROOT, subkey.c_str(), 0, nullptr,
                             os::REG_OPTION_NON_VOLATILE, os::KEY_WRITE, nullptr, key.Receive(),
                             nullptr);
}

// Deletes `path` below HKEY_CLASSES_ROOT with everything below it; a missing key is fine.
os::LONG DeleteTree(const std::string& path) {
  os::HKEY key = nullptr;
  os::LONG rc = os::RegOpenKeyExA(os::HKEY_CLASSES_ROOT, path.c_str(), 0, os::KEY_READ, &key);
  if (rc == os::ERROR_FILE_NOT_FOUND) return os::ERROR_SUCCESS;
  if (rc != os::ERROR_SUCCESS) return rc;
  std::vector<std::string> children;
  for (os::DWORD i = 0;; ++i) {
    std::string name;
    rc = os::RegEnumKeyExA(key, i, &name);
    if (rc != os::ERROR_SUCCESS) break;
    children.push_back(name);
  }
  os::RegCloseKey(key);
  if (rc != static_cast<os::LONG>(os::ERROR_NO_MORE_ITEMS)) return rc;
  for (const std::string& child : children) {
    rc = DeleteTree(path + "\\" + child);
    if (rc != os::ERROR_SUCCESS) return rc;
  }
  rc = os::RegDeleteKeyA(os::HKEY_CLASSES_ROOT, path.c_str());
  return rc == os::ERROR_FILE_NOT_FOUND ? os::ERROR_SUCCESS : rc;
}

// Deletes `path` when nothing is left below it.
os::LONG DeleteEmptyKey(const std::string& path) {
  os::HKEY key = nullptr;
  os::LONG rc = os::RegOpenKeyExA(os::HKEY_CLASSES_ROOT, path.c_str(), 0, os::KEY_READ, &key);
  if (rc == os::ERROR_FILE_NOT_FOUND) return os::ERROR_SUCCESS;
  if (rc != os::ERROR_SUCCESS) return rc;
  std::string child;
  bool has_children = os::RegEnumKeyExA(key, 0, &child) == os::ERROR_SUCCESS;
  os::RegCloseKey(key);
  if (has_children) return os::ERROR_SUCCESS;
  rc = os::RegDeleteKeyA(os::HKEY_CLASSES_ROOT, path.c_str());
  return rc == os::ERROR_FILE_NOT_FOUND ? os::ERROR_SUCCESS : rc;
}

// Writes keys below HKEY_CLASSES_ROOT in order; after the first failure it writes nothing more
// and keeps that failure.
class KeyWriter {
 public:
  KeyWriter& Text(const std::string& subkey, const char* name, const std::string& text) {
    if (rc_ == os::ERROR_SUCCESS) rc_ = SetText(subkey, name, text);
    return *this;
  }
  KeyWriter& Key(const std::string& subkey) {
    if (rc_ == os::ERROR_SUCCESS) rc_ = MakeKey(subkey);
    return *this;
  }
  os::LONG result() const { return rc_; }

 private:
  os::LONG rc_ = os::ERROR_SUCCESS;
};

std::string ClassKey(const os::CLSID& clsid) { return "CLSID\\" + os::GuidToString(clsid); }

void WriteInterface(KeyWriter& w, const os::IID& iid, const char* name) {
  const std::string key = "Interface\\" + os::GuidToString(iid);
  const std::string ps = os::GuidToString(CLSID_PSDispatch);
  w.Text(key, nullptr, name)
      .Text(key + "\\ProxyStubClsid", nullptr, ps)
      .Text(key + "\\ProxyStubClsid32", nullptr, ps)
      .Text(key + "\\TypeLib", nullptr, os::GuidToString(LIBID_Pelisto))
      .Text(key + "\\TypeLib", "Version", TypeLibVersion());
}

os::LONG RegisterTypeLib() {
  const std::string module = ControlModulePath();
  const std::string folder = module.substr(0, module.rfind('\\'));
  const std::string key = "TypeLib\\" + os::GuidToString(LIBID_Pelisto) + "\\" + TypeLibVersion();
  KeyWriter w;
  w.Text(key, nullptr, kTypeLibName)
      .Text(key + "\\0\\win32", nullptr, module)
      .Text(key + "\\FLAGS", nullptr, "0")
      .Text(key + "\\HELPDIR", nullptr, folder);
  WriteInterface(w, DIID_DPelisto, "_DPelisto");
  WriteInterface(w, DIID_DPelistoEvents, "_DPelistoEvents");
  return w.result();
}

void WriteServerClass(KeyWriter& w, const os::CLSID& clsid, const char* name,
                      const char* prog_id) {
  const std::string key = ClassKey(clsid);
  w.Text(key, nullptr, name)
      .Text(key + "\\InprocServer32", nullptr, ControlModulePath())
      .Text(key + "\\InprocServer32", "ThreadingModel", "Apartment")
      .Text(key + "\\ProgID", nullptr, prog_id)
      .Text(prog_id, nullptr, name)
      .Text(std::string(prog_id) + "\\CLSID", nullptr, os::GuidToString(clsid));
}

// The categories first, then the classes, as the control's factory registers them.
os::LONG RegisterClasses() {
  const std::string categories = "Component Categories\\";
  const std::string control = ClassKey(CLSID_PelistoCtrl);
  const std::string implemented = control + "\\Implemented Categories\\";
  KeyWriter w;
  w.Text(categories + os::GuidToString(CATID_SafeForScripting), "409",
         "Controls that are safely scriptable")
      .Text(categories + os::GuidToString(CATID_SafeForInitializing), "409",
            "Controls safely initializable from persistent data")
      .Key(implemented + os::GuidToString(CATID_SafeForScripting))
      .Key(implemented + os::GuidToString(CATID_SafeForInitializing));
  WriteServerClass(w, CLSID_PelistoCtrl, kControlName, kControlProgId);
  w.Key(control + "\\Control")
      .Text(control + "\\ToolboxBitmap32", nullptr, ControlModulePath() + ", 1")
      .Text(control + "\\MiscStatus", nullptr, "0")
      .Text(control + "\\MiscStatus\\1", nullptr, "131473")
      .Text(control + "\\TypeLib", nullptr, os::GuidToString(LIBID_Pelisto))
      .Text(control + "\\Version", nullptr, TypeLibVersion());
  WriteServerClass(w, CLSID_PelistoPropPage, kPropPageName, kPropPageProgId);
  return w.result();
}

os::HRESULT Fail(os::HRESULT hr, os::LONG rc, os::LONG* registry_error) {
  if (registry_error != nullptr) *registry_error = rc;
  return hr;
}

}  // namespace

std::string ControlModulePath() {
  const os::Machine* machine = os::CurrentMachine();
  std::string folder = machine != nullptr ? machine->FolderPath(os::KnownFolder::kModule)
                                          : "C:\\Windows\\Downloaded Program Files";
  return folder + "\\" + kModuleFileName;
}

os::HRESULT DllRegisterServer(os::LONG* registry_error) {
  os::LONG rc = RegisterTypeLib();
  if (rc != os::ERROR_SUCCESS) return Fail(os::SELFREG_E_TYPELIB, rc, registry_error);
  rc = RegisterClasses();
  if (rc != os::ERROR_SUCCESS) return Fail(os::SELFREG_E_CLASS, rc, registry_error);
  return Fail(os::S_OK, os::ERROR_SUCCESS, registry_error);
}

os::HRESULT DllUnregisterServer(os::LONG* registry_error) {
  const std::string lib = "TypeLib\\" + os::GuidToString(LIBID_Pelisto);
  os::LONG rc = DeleteTree(lib + "\\" + TypeLibVersion());
  if (rc == os::ERROR_SUCCESS) rc = DeleteTree("Interface\\" + os::GuidToString(DIID_DPelisto));
  if (rc == os::ERROR_SUCCESS) {
    rc = DeleteTree("Interface\\" + os::GuidToString(DIID_DPelistoEvents));
  }
  if (rc == os::ERROR_SUCCESS) rc = DeleteEmptyKey(lib);
  if (rc != os::ERROR_SUCCESS) return Fail(os::SELFREG_E_TYPELIB, rc, registry_error);
  for (const std::string& key : {ClassKey(CLSID_PelistoCtrl), std::string(kControlProgId),
                                 ClassKey(CLSID_PelistoPropPage), std::string(kPropPageProgId)}) {
    rc = DeleteTree(key);
    if (rc != os::ERROR_SUCCESS) return Fail(os::SELFREG_E_CLASS, rc, registry_error);
  }
  return Fail(os::S_OK, os::ERROR_SUCCESS, registry_error);
}

}  // namespace pelisto
