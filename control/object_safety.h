// The control's answer to the object-safety query: safe for untrusted callers and for
// untrusted data on every interface it offers.
#pragma once

#include "os/base/types.h"
#include "os/com/guid.h"

namespace pelisto {

inline constexpr os::DWORD INTERFACESAFE_FOR_UNTRUSTED_CALLER = 0x1;
inline constexpr os::DWORD INTERFACESAFE_FOR_UNTRUSTED_DATA = 0x2;

// True for the interfaces the control offers: IUnknown, IDispatch, its dispatch interface,
// IObjectSafety and IPersistPropertyBag.
bool ControlOffersInterface(const os::IID& iid);

// Both options supported and enabled (3) for an offered interface; E_NOINTERFACE (and both
// outputs 0) otherwise. E_POINTER for a null output.
os::HRESULT GetInterfaceSafetyOptions(const os::IID& iid, os::DWORD* supported,
                                      os::DWORD* enabled);
// E_NOINTERFACE for an interface not offered; E_FAIL for a mask with other bits than the two
// options, or when a bit of the mask is not set in `enabled`; S_OK otherwise.
os::HRESULT SetInterfaceSafetyOptions(const os::IID& iid, os::DWORD mask, os::DWORD enabled);

}  // namespace pelisto
