#include "os/ui/gdi.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "os/base/error.h"
#include "os/ui/model.h"

namespace os {
using ui::UiEvent;
using ui::UiEventKind;
using ui::internal::Model;
using ui::internal::TheModel;

namespace {

struct DeviceContext {
  HWND hwnd = nullptr;
  HGDIOBJ font = nullptr;
  HGDIOBJ brush = nullptr;
  COLORREF background = RGB(255, 255, 255);
};

enum class ObjectKind { kBrush, kFont };

struct GdiTable {
  std::mutex mu;
  std::uintptr_t next = 0x1000;
  std::map<std::uintptr_t, DeviceContext> dcs;
  std::map<std::uintptr_t, ObjectKind> objects;
};

GdiTable& Table() {
  static auto* table = new GdiTable;
  return *table;
}

std::uintptr_t Value(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

// The window of a live device context; null with ERROR_INVALID_HANDLE otherwise.
HWND WindowOf(HDC dc) {
  GdiTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mu);
  auto it = t.dcs.find(Value(dc));
  if (it == t.dcs.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return it->second.hwnd;
}

HGDIOBJ NewObject(ObjectKind kind) {
  GdiTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mu);
  std::uintptr_t id = t.next++;
  t.objects[id] = kind;
  return reinterpret_cast<HGDIOBJ>(id);
}

}  // namespace

COLORREF GetSysColor(int index) { return index == COLOR_BTNFACE ? RGB(240, 240, 240) : RGB(0, 0, 0); }

HDC GetDC(HWND hwnd) {
  if (!ui::internal::FindOrFail(hwnd)) return nullptr;
  GdiTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mu);
  std::uintptr_t id = t.next++;
  t.dcs[id].hwnd = hwnd;
  return reinterpret_cast<HDC>(id);
}

int ReleaseDC(HWND hwnd, HDC dc) {
  GdiTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mu);
  auto it = t.dcs.find(Value(dc));
  if (it == t.dcs.end() || it->second.hwnd != hwnd) return 0;
  t.dcs.erase(it);
  return 1;
}

HBRUSH CreateSolidBrush(COLORREF) { return NewObject(ObjectKind::kBrush); }

HFONT CreateFontA(int, int, int, int, int, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                  const std::string&) {
  return NewObject(ObjectKind::kFont);
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  GdiTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mu);
  auto d = t.dcs.find(Value(dc));
  auto o = t.objects.find(Value(object));
  if (d == t.dcs.end() || o == t.objects.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  HGDIOBJ& slot = o->second == ObjectKind::kFont ? d->second.font : d->second.brush;
  HGDIOBJ old = slot;
  slot = object;
  return old;
}

BOOL DeleteObject(HGDIOBJ object) {
  GdiTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mu);
  if (t.objects.erase(Value(object)) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  for (auto& [id, dc] : t.dcs) {
    if (dc.font == object) dc.font = nullptr;
    if (dc.brush == object) dc.brush = nullptr;
  }
  return TRUE;
}

COLORREF SetBkColor(HDC dc, COLORREF color) {
  GdiTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mu);
  auto d = t.dcs.find(Value(dc));
  if (d == t.dcs.end()) return CLR_INVALID;
  COLORREF old = d->second.background;
  d->second.background = color;
  return old;
}

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  HWND hwnd = WindowOf(dc);
  if (hwnd == nullptr || rect == nullptr) return 0;
  {
    GdiTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mu);
    if (t.objects.count(Value(brush)) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return 0;
    }
  }
  Model& m = TheModel();
  UiEvent e;
  {
    std::lock_guard<std::mutex> lock(m.mu);
    std::shared_ptr<ui::internal::Window> w = ui::internal::FindLocked(m, hwnd);
    if (!w) return 0;
    size_t before = w->painted.size();
    std::erase_if(w->painted, [&](const ui::PaintedText& p) {
      return p.x >= rect->left && p.x < rect->right && p.y >= rect->top && p.y < rect->bottom;
    });
    e = ui::internal::MakeEventLocked(m, *w, UiEventKind::kErased);
    e.value = static_cast<int>(before - w->painted.size());
  }
  if (e.value > 0) ui::internal::Report(e);
  return 1;
}

BOOL TextOutA(HDC dc, int x, int y, const std::string& text, int length) {
  HWND hwnd = WindowOf(dc);
  if (hwnd == nullptr || length < 0) return FALSE;
  std::string shown = text.substr(0, std::min(text.size(), static_cast<size_t>(length)));
  Model& m = TheModel();
  UiEvent e;
  {
    std::lock_guard<std::mutex> lock(m.mu);
    std::shared_ptr<ui::internal::Window> w = ui::internal::FindLocked(m, hwnd);
    if (!w) return FALSE;
    std::erase_if(w->painted, [&](const ui::PaintedText& p) { return p.x == x && p.y == y; });
    w->painted.push_back(ui::PaintedText{x, y, shown});
    e = ui::internal::MakeEventLocked(m, *w, UiEventKind::kPainted);
    e.text = shown;
    e.value = x;
    e.value2 = y;
  }
  ui::internal::Report(e);
  return TRUE;
}

}  // namespace os
