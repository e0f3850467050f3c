#include "os/shell/internet_shortcut.h"

#include <string_view>

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/com/hresult.h"
#include "os/com/persist_file.h"
#include "os/shell/shortcut_file.h"
#include "os/shell/shell_link.h"

namespace os {
namespace {

// One INI value must stay on its line.
bool HasControlCharacter(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  }
  return false;
}

class InternetShortcut final
    : public ComObject<IUniformResourceLocatorA, IShellLinkA, IPersistFile> {
 public:
  HRESULT SetURL(const std::string& url, DWORD) override {
    if (HasControlCharacter(url)) return E_INVALIDARG;
    url_ = url;
    return S_OK;
  }

  HRESULT SetPath(const std::string& path) override { return SetURL(path, 0); }
  HRESULT SetDescription(const std::string&) override { return S_OK; }
  HRESULT SetArguments(const std::string&) override { return E_NOTIMPL; }

  HRESULT SetIconLocation(const std::string& icon_path, int icon_index) override {
    if (icon_path.size() >= MAX_PATH || HasControlCharacter(icon_path)) return E_INVALIDARG;
    icon_path_ = icon_path;
    icon_index_ = icon_index;
    return S_OK;
  }

  HRESULT Save(const char16_t* file, BOOL remember) override {
    if (url_.empty()) return E_UNEXPECTED;
    std::string text = "[InternetShortcut]\r\nURL=" + url_ + "\r\n";
    if (!icon_path_.empty()) {
      text += "IconFile=" + icon_path_ + "\r\nIconIndex=" + std::to_string(icon_index_) + "\r\n";
    }
    return SaveShortcutFile(file, remember, text, &current_file_);
  }

 private:
  std::string url_;
  std::string icon_path_;
  int icon_index_ = 0;
  std::u16string current_file_;
};

}  // namespace

HRESULT CreateInternetShortcutObject(const IID& iid, void** out) {
  if (out == nullptr) return E_POINTER;
  return MakeCom<InternetShortcut>()->QueryInterface(iid, out);
}

}  // namespace os
