// The global interface table: one per process, through which an interface registered on one
// thread is fetched on another. Obtained as COM does it, with CoCreateInstance of
// CLSID_StdGlobalInterfaceTable; every CoCreateInstance of that class gives the same table.
//
// Thread safety: every method may be called from any thread at the same time. The calling
// thread must have initialised COM (CO_E_NOTINITIALIZED otherwise), as with the real table.
#pragma once

#include "os/base/types.h"
#include "os/com/guid.h"
#include "os/com/unknown.h"

namespace os {

// {00000323-0000-0000-C000-000000000046}
inline constexpr CLSID CLSID_StdGlobalInterfaceTable{
    0x00000323, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr DWORD CLSCTX_ALL = 0x17;

class IGlobalInterfaceTable : public IUnknown {
 public:
  // {00000146-0000-0000-C000-000000000046}
  static constexpr IID kIid{0x00000146, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

  // Keeps `unknown`'s `iid` interface (with a reference of the table's own) under a new
  // cookie, never 0. E_INVALIDARG for a null object or cookie slot, E_NOINTERFACE when the
  // object does not offer `iid`; `*cookie` is set only on success.
  virtual HRESULT RegisterInterfaceInGlobal(IUnknown* unknown, const IID& iid, DWORD* cookie) = 0;
  // Drops the entry and the table's reference. E_INVALIDARG for an unknown cookie.
  virtual HRESULT RevokeInterfaceFromGlobal(DWORD cookie) = 0;
  // Stores the registered object's `iid` interface, with a reference added, in `*out`.
  // E_INVALIDARG for an unknown cookie (and `*out` null), E_NOINTERFACE when the object does
  // not offer `iid`.
  virtual HRESULT GetInterfaceFromGlobal(DWORD cookie, const IID& iid, void** out) = 0;

 protected:
  ~IGlobalInterfaceTable() = default;
};

inline const IID& IID_IGlobalInterfaceTable = IGlobalInterfaceTable::kIid;

// Creates an object of a class the process knows, in-process: the global interface table
// and the shell's link objects (CLSID_ShellLink, os/shell/shell_link.h;
// CLSID_InternetShortcut, os/shell/internet_shortcut.h). The control's own classes are made
// by the control; any other class gives REGDB_E_CLASSNOTREG. CO_E_NOTINITIALIZED on a thread without COM, CLASS_E_NOAGGREGATION
// with an outer object, E_POINTER for a null `out`; `*out` is null on every failure.
HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, DWORD context, const IID& iid,
                         void** out);

}  // namespace os
