// The mouse cursor: the system's cursors, loaded by their resource numbers, and the one shown.
//
// One cursor is shown for the process (the stand-in has one mouse and no window under it).
// Every change is reported to the front end (UiEventKind::kCursorChanged). Thread-safe.
#pragma once

#include <cstdint>

#include "os/base/types.h"
#include "os/module/module.h"

namespace os {

struct HCURSOR__;
using HCURSOR = HCURSOR__*;

inline const char* MAKEINTRESOURCEA(WORD id) {
  return reinterpret_cast<const char*>(static_cast<std::uintptr_t>(id));
}

inline const char* const IDC_ARROW = MAKEINTRESOURCEA(32512);
inline const char* const IDC_IBEAM = MAKEINTRESOURCEA(32513);
inline const char* const IDC_WAIT = MAKEINTRESOURCEA(32514);
inline const char* const IDC_APPSTARTING = MAKEINTRESOURCEA(32650);

inline constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

// A system cursor (`instance` null and `name` one of the IDC_* numbers). Null with
// ERROR_RESOURCE_NAME_NOT_FOUND for anything else: the image's modules hold no cursors.
HCURSOR LoadCursorA(HINSTANCE instance, const char* name);

// Shows `cursor` (null: none) and returns the one shown before. The arrow is shown at start.
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR GetCursor();

// The resource number of a cursor LoadCursorA returned; 0 for null.
WORD CursorResourceId(HCURSOR cursor);

}  // namespace os
