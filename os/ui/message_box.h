// Message boxes. The box itself is the current front end's business (os/ui/front_end.h):
// the headless front end answers from its script, the tty front end asks at the terminal,
// the none front end takes the default button.
#pragma once

#include <string>
#include <vector>

#include "os/base/types.h"
#include "os/ui/ui_types.h"

namespace os {

// Buttons (the low four bits of the type).
inline constexpr UINT MB_OK = 0x0;
inline constexpr UINT MB_OKCANCEL = 0x1;
inline constexpr UINT MB_ABORTRETRYIGNORE = 0x2;
inline constexpr UINT MB_YESNOCANCEL = 0x3;
inline constexpr UINT MB_YESNO = 0x4;
inline constexpr UINT MB_RETRYCANCEL = 0x5;
inline constexpr UINT MB_CANCELTRYCONTINUE = 0x6;
inline constexpr UINT MB_TYPEMASK = 0xF;
// Icons.
inline constexpr UINT MB_ICONHAND = 0x10;
inline constexpr UINT MB_ICONERROR = MB_ICONHAND;
inline constexpr UINT MB_ICONSTOP = MB_ICONHAND;
inline constexpr UINT MB_ICONQUESTION = 0x20;
inline constexpr UINT MB_ICONEXCLAMATION = 0x30;
inline constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
inline constexpr UINT MB_ICONASTERISK = 0x40;
inline constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
inline constexpr UINT MB_ICONMASK = 0xF0;
// Default button (one of the box's buttons, counted from the first).
inline constexpr UINT MB_DEFBUTTON1 = 0x000;
inline constexpr UINT MB_DEFBUTTON2 = 0x100;
inline constexpr UINT MB_DEFBUTTON3 = 0x200;
inline constexpr UINT MB_DEFBUTTON4 = 0x300;
inline constexpr UINT MB_DEFMASK = 0xF00;
// Modality and placement; recorded, otherwise without effect here.
inline constexpr UINT MB_APPLMODAL = 0x0;
inline constexpr UINT MB_SYSTEMMODAL = 0x1000;
inline constexpr UINT MB_TASKMODAL = 0x2000;
inline constexpr UINT MB_HELP = 0x4000;
inline constexpr UINT MB_SETFOREGROUND = 0x10000;
inline constexpr UINT MB_TOPMOST = 0x40000;

// Shows a message box and returns the ID* value of the button chosen. Returns 0 with
// ERROR_INVALID_PARAMETER for an unknown button set. Blocks the calling thread until the
// front end answers; messages sent to this thread from other threads are served meanwhile.
// Thread-safe: any thread may show a box.
int MessageBoxA(HWND hwnd, const std::string& text, const std::string& caption, UINT type);

// The ID* values of the buttons of a box of `type`, in display order; empty for an unknown set.
std::vector<int> MessageBoxButtons(UINT type);
// The ID* value of the box's default button (MB_DEFBUTTONn; the first when n is out of range);
// 0 for an unknown button set.
int MessageBoxDefaultAnswer(UINT type);
// "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No", "Try Again", "Continue"; empty otherwise.
std::string MessageBoxButtonName(int id);

}  // namespace os
