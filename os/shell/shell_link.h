// The shell's link object: a shortcut to a file of the machine image, saved in the Shell Link
// binary format (os/shell/shell_link_format.h). Made with CoCreateInstance(CLSID_ShellLink,
// ..., IID_IShellLinkA) and saved through its IPersistFile.
//
// An apartment object: one thread uses it at a time. Texts are narrow, in the ANSI code page;
// a text that is not valid in that page is refused with E_INVALIDARG.
#pragma once

#include <string>

#include "os/base/types.h"
#include "os/com/guid.h"
#include "os/com/unknown.h"

namespace os {

// {00021401-0000-0000-C000-000000000046}
inline constexpr CLSID CLSID_ShellLink{0x00021401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

class IShellLinkA : public IUnknown {
 public:
  // {000214EE-0000-0000-C000-000000000046}
  static constexpr IID kIid{0x000214EE, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

  // The target: an absolute Windows-form path on a drive of the image. It is normalised as
  // GetFullPathName does and stored as that Windows path, with the target's attributes,
  // times and size when it exists (a target that does not exist yet is allowed). Fails,
  // leaving the link as it was, for a relative or malformed path (its Windows error as an
  // HRESULT) or a drive the image does not map.
  virtual HRESULT SetPath(const std::string& path) = 0;
  // At most 65535 characters each; E_INVALIDARG for longer ones.
  virtual HRESULT SetDescription(const std::string& description) = 0;
  virtual HRESULT SetArguments(const std::string& arguments) = 0;
  // The icon file, stored as given (shorter than MAX_PATH, else E_INVALIDARG); an empty
  // path removes the icon.
  virtual HRESULT SetIconLocation(const std::string& icon_path, int icon_index) = 0;

 protected:
  ~IShellLinkA() = default;
};

inline const IID& IID_IShellLinkA = IShellLinkA::kIid;

// A new link object, as CoCreateInstance makes it: its `iid` interface (IShellLinkA,
// IPersistFile or IUnknown) in `*out`, or E_NOINTERFACE and null.
//
// Its IPersistFile::Save writes the link file whole (an existing file is replaced, never left
// half-written); E_UNEXPECTED when no target was set.
HRESULT CreateShellLinkObject(const IID& iid, void** out);

}  // namespace os
