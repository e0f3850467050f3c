#include "os/ui/cursor.h"

#include <atomic>

#include "os/base/error.h"
#include "os/ui/model.h"

namespace os {

struct HCURSOR__ {
  WORD id;
  const char* name;
};

namespace {

HCURSOR__ kSystemCursors[] = {
    {32512, "arrow"}, {32513, "ibeam"}, {32514, "wait"}, {32650, "appstarting"}};

std::atomic<HCURSOR>& Shown() {
  static std::atomic<HCURSOR> shown{&kSystemCursors[0]};
  return shown;
}

}  // namespace

HCURSOR LoadCursorA(HINSTANCE instance, const char* name) {
  const auto number = reinterpret_cast<std::uintptr_t>(name);
  if (instance == nullptr && number <= 0xFFFF) {
    for (HCURSOR__& c : kSystemCursors) {
      if (c.id == number) return &c;
    }
  }
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return nullptr;
}

HCURSOR SetCursor(HCURSOR cursor) {
  HCURSOR previous = Shown().exchange(cursor);
  ui::UiEvent event;
  event.kind = ui::UiEventKind::kCursorChanged;
  event.value = CursorResourceId(cursor);
  event.text = cursor != nullptr ? cursor->name : "";
  ui::internal::Report(event);
  return previous;
}

HCURSOR GetCursor() { return Shown().load(); }

WORD CursorResourceId(HCURSOR cursor) { return cursor != nullptr ? cursor->id : 0; }

}  // namespace os
