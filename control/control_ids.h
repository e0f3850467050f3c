// Identifiers of the control's classes and interfaces, and of the standard interfaces and
// component categories it names.
#pragma once

#include "os/com/guid.h"

namespace pelisto {

// The control's class, ProgID "PELISTO.PelistoCtrl.1".
// {5E8CAC3F-D20E-4EA1-AAF8-6FB8CC9A8AA9}
inline constexpr os::CLSID CLSID_PelistoCtrl{
    0x5E8CAC3F, 0xD20E, 0x4EA1, {0xAA, 0xF8, 0x6F, 0xB8, 0xCC, 0x9A, 0x8A, 0xA9}};
// Its dispatch interface. {BA0B0249-A1A3-48C7-B7E6-E2FA57EE3896}
inline constexpr os::IID DIID_DPelisto{
    0xBA0B0249, 0xA1A3, 0x48C7, {0xB7, 0xE6, 0xE2, 0xFA, 0x57, 0xEE, 0x38, 0x96}};
// Its event interface. {AF86AE3B-EE9B-4196-B3B8-6BD5E0A45CFD}
inline constexpr os::IID DIID_DPelistoEvents{
    0xAF86AE3B, 0xEE9B, 0x4196, {0xB3, 0xB8, 0x6B, 0xD5, 0xE0, 0xA4, 0x5C, 0xFD}};
// Its type library, version 1.0. {1764853D-C9F6-4BA4-8F14-385451F94621}
inline constexpr os::GUID LIBID_Pelisto{
    0x1764853D, 0xC9F6, 0x4BA4, {0x8F, 0x14, 0x38, 0x54, 0x51, 0xF9, 0x46, 0x21}};
inline constexpr unsigned kTypeLibMajor = 1;
inline constexpr unsigned kTypeLibMinor = 0;
// The property page, ProgID "PELISTO.PelistoPropPage.1". {1ED49020-4227-4A37-A89E-58DCE4D5CBC6}
inline constexpr os::CLSID CLSID_PelistoPropPage{
    0x1ED49020, 0x4227, 0x4A37, {0xA8, 0x9E, 0x58, 0xDC, 0xE4, 0xD5, 0xCB, 0xC6}};

// Standard interfaces the control answers for.
inline constexpr os::IID IID_IDispatch{
    0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr os::IID IID_IObjectSafety{
    0xCB5BDC81, 0x93C1, 0x11CF, {0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64}};
inline constexpr os::IID IID_IPersistPropertyBag{
    0x37D84F60, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};
// The proxy/stub class of dispatch interfaces.
inline constexpr os::CLSID CLSID_PSDispatch{
    0x00020420, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// "Controls that are safely scriptable"
inline constexpr os::GUID CATID_SafeForScripting{
    0x7DD95801, 0x9882, 0x11CF, {0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4}};
// "Controls safely initializable from persistent data"
inline constexpr os::GUID CATID_SafeForInitializing{
    0x7DD95802, 0x9882, 0x11CF, {0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4}};

}  // namespace pelisto
