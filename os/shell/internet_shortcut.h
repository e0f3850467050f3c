// The shell's Internet shortcut object: a ".url" file for a web address, the usual
// "[InternetShortcut]" text (URL=, and IconFile= / IconIndex= when an icon is set, each line
// ended by CR LF, in the ANSI code page). Made with CoCreateInstance(CLSID_InternetShortcut,
// ..., IID_IUniformResourceLocatorA); it also answers IShellLinkA and IPersistFile.
//
// An apartment object: one thread uses it at a time. A text holding a line break or another
// control character is refused with E_INVALIDARG, so nothing can add lines to the file.
#pragma once

#include <string>

#include "os/base/types.h"
#include "os/com/guid.h"
#include "os/com/unknown.h"

namespace os {

// {FBF23B40-E3F0-101B-8488-00AA003E56F8}
inline constexpr CLSID CLSID_InternetShortcut{
    0xFBF23B40, 0xE3F0, 0x101B, {0x84, 0x88, 0x00, 0xAA, 0x00, 0x3E, 0x56, 0xF8}};

inline constexpr DWORD IURL_SETURL_FL_GUESS_PROTOCOL = 0x1;
inline constexpr DWORD IURL_SETURL_FL_USE_DEFAULT_PROTOCOL = 0x2;

class IUniformResourceLocatorA : public IUnknown {
 public:
  // {FBF23B80-E3F0-101B-8488-00AA003E56F8}
  static constexpr IID kIid{
      0xFBF23B80, 0xE3F0, 0x101B, {0x84, 0x88, 0x00, 0xAA, 0x00, 0x3E, 0x56, 0xF8}};

  // The address, stored as given (no protocol is guessed; `flags` are accepted).
  virtual HRESULT SetURL(const std::string& url, DWORD flags) = 0;

 protected:
  ~IUniformResourceLocatorA() = default;
};

inline const IID& IID_IUniformResourceLocatorA = IUniformResourceLocatorA::kIid;

// A new Internet shortcut object, as CoCreateInstance makes it: its `iid` interface
// (IUniformResourceLocatorA, IShellLinkA, IPersistFile or IUnknown) in `*out`, or
// E_NOINTERFACE and null.
//
// Through IShellLinkA: SetPath sets the address, SetIconLocation the icon; SetDescription is
// accepted and not kept (the file has no place for it); SetArguments gives E_NOTIMPL (an
// address takes no arguments). IPersistFile::Save writes the file whole (an existing file is
// replaced, never left half-written); E_UNEXPECTED when no address was set.
HRESULT CreateInternetShortcutObject(const IID& iid, void** out);

}  // namespace os
