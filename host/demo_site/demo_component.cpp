// The sample site's in-process component: registering it records its own path under
// HKEY_CLASSES_ROOT "PelistoDemo\<its file name>", unregistering removes that key. It calls the
// system through the process that loads it, as a component does.
#include <string>

#include "os/base/error.h"
#include "os/base/types.h"
#include "os/com/hresult.h"
#include "os/module/module.h"
#include "os/reg/registry.h"

namespace {

os::HINSTANCE g_instance = nullptr;

std::string OwnPath() {
  std::string path;
  os::GetModuleFileNameA(g_instance, &path);
  return path;
}

std::string OwnKey() {
  const std::string path = OwnPath();
  return "PelistoDemo\\" + path.substr(path.rfind('\\') + 1);
}

}  // namespace

extern "C" os::BOOL DllMain(os::HINSTANCE instance, os::DWORD reason, void*) {
  if (reason == os::DLL_PROCESS_ATTACH) g_instance = instance;
  return os::TRUE;
}

extern "C" os::HRESULT DllRegisterServer() {
  os::HKEY key = nullptr;
  if (os::RegCreateKeyExA(os::HKEY_CLASSES_ROOT, OwnKey().c_str(), 0, nullptr,
                          os::REG_OPTION_NON_VOLATILE, os::KEY_WRITE, nullptr, &key,
                          nullptr) != os::ERROR_SUCCESS) {
    return os::SELFREG_E_CLASS;
  }
  const std::string path = OwnPath();
  const bool ok = os::RegSetValueExA(key, nullptr, 0, os::REG_SZ,
                                     reinterpret_cast<const os::BYTE*>(path.c_str()),
                                     static_cast<os::DWORD>(path.size() + 1)) == os::ERROR_SUCCESS;
  os::RegCloseKey(key);
  return ok ? os::S_OK : os::SELFREG_E_CLASS;
}

extern "C" os::HRESULT DllUnregisterServer() {
  const os::LONG rc = os::RegDeleteKeyA(os::HKEY_CLASSES_ROOT, OwnKey().c_str());
  return rc == os::ERROR_SUCCESS || rc == static_cast<os::LONG>(os::ERROR_FILE_NOT_FOUND)
             ? os::S_OK
             : os::SELFREG_E_CLASS;
}
