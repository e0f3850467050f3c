// Drawing into a window, as much as the system's dialogs do: filling a rectangle of the
// client area and writing a line of text there. Nothing is rasterised: the model keeps the
// texts written into each window (position and text) for the front ends, and a fill removes
// the texts whose starting point it covers. Brushes and fonts are accepted and recorded.
//
// Thread-safe. Handles of device contexts and objects are checked: a stale or foreign handle
// fails (ERROR_INVALID_HANDLE) instead of being used.
#pragma once

#include <string>

#include "os/base/types.h"
#include "os/ui/ui_types.h"

namespace os {

struct HDC__;
using HDC = HDC__*;
struct HGDIOBJ__;
using HGDIOBJ = HGDIOBJ__*;
using HBRUSH = HGDIOBJ;
using HFONT = HGDIOBJ;
using COLORREF = DWORD;

constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
  return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}

inline constexpr int COLOR_BTNFACE = 15;
inline constexpr int FW_NORMAL = 400;
inline constexpr DWORD DEFAULT_CHARSET = 1;
inline constexpr DWORD HANGUL_CHARSET = 129;
inline constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

COLORREF GetSysColor(int index);

// A device context for the window's client area; release it with ReleaseDC.
HDC GetDC(HWND hwnd);
int ReleaseDC(HWND hwnd, HDC dc);

HBRUSH CreateSolidBrush(COLORREF color);
HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strike_out, DWORD charset, DWORD out_precision, DWORD clip_precision,
                  DWORD quality, DWORD pitch_and_family, const std::string& face);
// Returns the object selected before (null the first time), or null on failure.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BOOL DeleteObject(HGDIOBJ object);
COLORREF SetBkColor(HDC dc, COLORREF color);

// Non-zero on success.
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
// Writes the first `length` bytes of `text` (image code page) with its start at (x, y) of
// the client area, replacing a text written before at the same point.
BOOL TextOutA(HDC dc, int x, int y, const std::string& text, int length);

}  // namespace os
