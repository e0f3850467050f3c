// The control module's self-registration in the image's HKEY_CLASSES_ROOT: the type library
// (1.0) and its two dispatch interfaces, the two component categories of a control that is
// safe for scripting and for initialisation, the control class with its ProgID
// "PELISTO.PelistoCtrl.1" and the apartment threading model, and the property page with its
// ProgID "PELISTO.PelistoPropPage.1".
//
// Writing HKEY_CLASSES_ROOT needs an elevated caller on Windows 6 and later; otherwise the
// first write fails and nothing is changed.
#pragma once

#include <string>

#include "os/base/types.h"

namespace pelisto {

inline constexpr char kControlProgId[] = "PELISTO.PelistoCtrl.1";
inline constexpr char kPropPageProgId[] = "PELISTO.PelistoPropPage.1";

// The control module's file, as the class registration records it.
std::string ControlModulePath();

// S_OK, or SELFREG_E_TYPELIB / SELFREG_E_CLASS when a key could not be written; the registry's
// error code is then stored in `*registry_error` (may be null). Keys written before a failure
// stay; registering again completes them.
os::HRESULT DllRegisterServer(os::LONG* registry_error = nullptr);
// Removes the type library, the interfaces, the control class and the property page with
// everything below them, and both ProgIDs. The component categories stay: other controls
// share them. Keys that do not exist count as removed.
os::HRESULT DllUnregisterServer(os::LONG* registry_error = nullptr);

}  // namespace pelisto
