#include "os/shell/shortcut_file.h"

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/com/hresult.h"
#include "os/fs/file_util.h"

namespace os {

HRESULT SaveShortcutFile(const char16_t* file, BOOL remember, const std::string& bytes,
                         std::u16string* current_file) {
  const std::u16string wide_path = file != nullptr ? std::u16string(file) : *current_file;
  if (wide_path.empty()) return E_INVALIDARG;
  std::string path;
  if (!WideToMultiByte(wide_path, &path)) return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
  if (!WriteFileAtomically(path, bytes)) {
    const DWORD code = GetLastError();
    return code == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(code);
  }
  if (remember) *current_file = wide_path;
  return S_OK;
}

}  // namespace os
