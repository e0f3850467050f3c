#include "platform/shell_shortcuts.h"

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/com/apartment.h"
#include "os/com/global_interface_table.h"
#include "os/com/hresult.h"
#include "os/com/persist_file.h"
#include "os/shell/internet_shortcut.h"
#include "os/shell/shell_link.h"

namespace pelisto {
namespace {

// The conversion into a buffer of MAX_PATH wide characters that the save takes.
os::HRESULT ToSavePath(const std::string& path, std::u16string* wide) {
  if (!os::MultiByteToWide(path, wide)) return os::HRESULT_FROM_WIN32(os::ERROR_INVALID_DATA);
  if (wide->size() >= os::MAX_PATH) return os::HRESULT_FROM_WIN32(os::ERROR_INSUFFICIENT_BUFFER);
  return os::S_OK;
}

}  // namespace

os::HRESULT WriteShellLink(const std::string& target, const std::string& link,
                           const std::string& description, const std::string& icon,
                           const std::string& arguments, bool* save_failed) {
  if (save_failed != nullptr) *save_failed = false;
  os::ComPtr<os::IShellLinkA> shell_link;
  os::HRESULT hr = os::CoCreateInstance(os::CLSID_ShellLink, nullptr, os::CLSCTX_INPROC_SERVER,
                                        os::IID_IShellLinkA,
                                        shell_link.ReleaseAndGetVoidAddressOf());
  if (os::FAILED(hr)) return hr;
  shell_link->SetPath(target);
  shell_link->SetDescription(description);
  if (!icon.empty()) shell_link->SetIconLocation(icon, 0);
  if (!arguments.empty()) shell_link->SetArguments(arguments);

  os::ComPtr<os::IPersistFile> file;
  hr = shell_link.As(&file);
  if (os::FAILED(hr)) return hr;
  std::u16string wide;
  hr = ToSavePath(link + ".lnk", &wide);
  if (os::SUCCEEDED(hr)) hr = file->Save(wide.c_str(), os::TRUE);
  if (hr != os::S_OK && save_failed != nullptr) *save_failed = true;
  return hr;
}

os::HRESULT WriteInternetShortcut(const std::string& url, const std::string& path,
                                  const std::string& description, const std::string& icon,
                                  os::LONG icon_index) {
  const os::HRESULT init = os::CoInitialize(nullptr);
  os::HRESULT hr;
  {
    os::ComPtr<os::IUniformResourceLocatorA> locator;
    os::ComPtr<os::IPersistFile> file;
    os::ComPtr<os::IShellLinkA> shell_link;
    hr = os::CoCreateInstance(os::CLSID_InternetShortcut, nullptr, os::CLSCTX_INPROC_SERVER,
                              os::IID_IUniformResourceLocatorA,
                              locator.ReleaseAndGetVoidAddressOf());
    if (os::SUCCEEDED(hr)) hr = locator.As(&file);
    if (os::SUCCEEDED(hr)) hr = locator.As(&shell_link);
    if (os::SUCCEEDED(hr)) {
      locator->SetURL(url, 0);
      hr = shell_link->SetIconLocation(icon, static_cast<int>(icon_index));
      if (os::SUCCEEDED(hr)) hr = shell_link->SetDescription(description);
      std::u16string wide;
      if (os::SUCCEEDED(hr)) hr = ToSavePath(path, &wide);
      if (os::SUCCEEDED(hr)) hr = file->Save(wide.c_str(), os::TRUE);
    }
  }
  // A thread already in the other model keeps it: COM is usable, and there is nothing to undo.
  if (os::SUCCEEDED(init)) os::CoUninitialize();
  return hr;
}

}  // namespace pelisto
