#include "os/ui/model.h"

#include <atomic>
#include <thread>

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/ui/screen.h"
#include "os/ui/thread_id.h"
#include "os/ui/window_list.h"

namespace os::ui::internal {
namespace {

static_assert(sizeof(std::uintptr_t) >= 8, "window handles carry the process number in their upper half");

std::uintptr_t Value(HWND hwnd) { return reinterpret_cast<std::uintptr_t>(hwnd); }

// Ends the thread's windows and queue when the thread ends.
struct ThreadQueueHolder {
  std::shared_ptr<Queue> queue;
  ~ThreadQueueHolder();
};

thread_local ThreadQueueHolder t_holder;

ThreadQueueHolder::~ThreadQueueHolder() {
  if (!queue) return;
  Model& m = TheModel();
  std::vector<UiEvent> gone;
  bool had_top_level = false;
  {
    std::lock_guard<std::mutex> lock(m.mu);
    for (auto it = m.windows.begin(); it != m.windows.end();) {
      Window& w = *it->second;
      if (w.thread_id != queue->thread_id) {
        ++it;
        continue;
      }
      if (w.top_level) {
        gone.push_back(MakeEventLocked(m, w, UiEventKind::kDestroyed));
        had_top_level = true;
      }
      w.alive = false;
      if (m.foreground == w.hwnd) m.foreground = nullptr;
      it = m.windows.erase(it);
    }
    std::erase_if(m.top_levels, [&](HWND h) { return m.windows.count(Value(h)) == 0; });
    m.queues.erase(queue->thread_id);
  }
  std::deque<std::shared_ptr<SentMessage>> pending;
  {
    std::lock_guard<std::mutex> lock(queue->mu);
    queue->alive = false;
    queue->timers.clear();
    queue->posted.clear();
    pending.swap(queue->sent);
  }
  for (const auto& s : pending) {
    std::lock_guard<std::mutex> lock(s->sender->mu);
    s->result = 0;
    s->done = true;
    s->sender->cv.notify_all();
  }
  for (const UiEvent& e : gone) Report(e);
  if (had_top_level) PublishTopLevelWindows();
}

}  // namespace

Model& TheModel() {
  static Model* model = [] {
    auto* m = new Model;
    std::lock_guard<std::mutex> lock(m->mu);
    RegisterBuiltInClassesLocked(*m);
    auto desk = std::make_shared<Window>();
    desk->hwnd = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x10));
    desk->class_name = "#32769";
    desk->visible = true;
    m->desktop = desk->hwnd;
    m->windows[Value(desk->hwnd)] = desk;
    auto tray = std::make_shared<Window>();
    tray->hwnd = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x11));
    tray->class_name = ui::kTaskbarClass;
    tray->top_level = true;
    tray->visible = true;
    m->taskbar = tray->hwnd;
    m->windows[Value(tray->hwnd)] = tray;
    return m;
  }();
  return *model;
}

std::shared_ptr<Window> FindLocked(Model& m, HWND hwnd) {
  auto it = m.windows.find(Value(hwnd));
  return it == m.windows.end() ? nullptr : it->second;
}

std::shared_ptr<Window> Find(HWND hwnd) {
  if (hwnd == nullptr) return nullptr;
  Model& m = TheModel();
  std::lock_guard<std::mutex> lock(m.mu);
  return FindLocked(m, hwnd);
}

std::shared_ptr<Window> FindOrFail(HWND hwnd) {
  std::shared_ptr<Window> w = Find(hwnd);
  if (!w) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return w;
}

HWND TopOfLocked(Model& m, const Window& w) {
  const Window* cur = &w;
  while (cur->parent != nullptr) {
    std::shared_ptr<Window> p = FindLocked(m, cur->parent);
    if (!p) break;
    cur = p.get();
  }
  return cur->hwnd;
}

std::shared_ptr<Queue> CurrentQueue() {
  if (t_holder.queue) return t_holder.queue;
  auto q = std::make_shared<Queue>(GetCurrentThreadId());
  Model& m = TheModel();
  {
    std::lock_guard<std::mutex> lock(m.mu);
    m.queues[q->thread_id] = q;
  }
  t_holder.queue = q;
  return q;
}

std::shared_ptr<Queue> QueueOf(DWORD thread_id) {
  if (thread_id == GetCurrentThreadId()) return CurrentQueue();
  Model& m = TheModel();
  std::lock_guard<std::mutex> lock(m.mu);
  auto it = m.queues.find(thread_id);
  return it == m.queues.end() ? nullptr : it->second;
}

HWND NewHandleLocked(Model& m) {
  std::uintptr_t value = (static_cast<std::uintptr_t>(CurrentProcessNumber()) << 32) | m.next_handle++;
  return reinterpret_cast<HWND>(value);
}

bool IsForeignHandle(HWND hwnd) {
  std::uintptr_t pid = Value(hwnd) >> 32;
  return pid != 0 && pid != CurrentProcessNumber();
}

HWND CreateWindowObject(const CreateParams& p, std::shared_ptr<Window>* out) {
  std::shared_ptr<Queue> queue = CurrentQueue();
  Model& m = TheModel();
  auto w = std::make_shared<Window>();
  {
    std::lock_guard<std::mutex> lock(m.mu);
    auto cls = m.classes.find(AsciiLower(p.class_name));
    if (cls == m.classes.end()) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    std::shared_ptr<Window> parent;
    if (p.parent != nullptr) {
      parent = FindLocked(m, p.parent);
      if (!parent || parent->hwnd == m.desktop) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      }
    }
    w->hwnd = NewHandleLocked(m);
    w->thread_id = queue->thread_id;
    w->parent = parent ? parent->hwnd : nullptr;
    w->class_name = cls->second.lpszClassName;
    w->top_level = !parent;
    w->created_ns = WallClockNs();
    w->kind = p.kind;
    w->proc = cls->second.lpfnWndProc;
    w->unicode = m.unicode_classes.count(AsciiLower(p.class_name)) != 0;
    w->text = p.text;
    w->style = p.style & ~(WS_VISIBLE | WS_DISABLED);
    w->visible = (p.style & WS_VISIBLE) != 0;
    w->enabled = (p.style & WS_DISABLED) == 0;
    w->id = p.id;
    w->rect = p.rect;
    m.windows[Value(w->hwnd)] = w;
    if (parent) {
      parent->children.push_back(w->hwnd);
    } else {
      m.top_levels.push_back(w->hwnd);
    }
  }
  if (p.send_create &&
      CallProc(w->hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(p.create_param)) == -1) {
    DestroyWindow(w->hwnd);
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (out) *out = w;
  return w->hwnd;
}

LRESULT CallProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  std::shared_ptr<Window> w = Find(hwnd);
  if (!w) return 0;
  WNDPROC proc;
  {
    std::lock_guard<std::mutex> lock(TheModel().mu);
    proc = w->proc;
  }
  return proc ? proc(hwnd, message, wparam, lparam) : DefWindowProcA(hwnd, message, wparam, lparam);
}

void ServeSent(const std::shared_ptr<SentMessage>& sent) {
  LRESULT result = CallProc(sent->hwnd, sent->message, sent->wparam, sent->lparam);
  std::lock_guard<std::mutex> lock(sent->sender->mu);
  sent->result = result;
  sent->done = true;
  sent->sender->cv.notify_all();
}

int WaitServingSentMessages(const std::function<int()>& work) {
  std::shared_ptr<Queue> self = CurrentQueue();
  int result = 0;
  bool done = false;
  std::thread helper([&] {
    int r = work();
    std::lock_guard<std::mutex> lock(self->mu);
    result = r;
    done = true;
    self->cv.notify_all();
  });
  {
    std::unique_lock<std::mutex> lock(self->mu);
    while (!done) {
      if (!self->sent.empty()) {
        std::shared_ptr<SentMessage> s = self->sent.front();
        self->sent.pop_front();
        lock.unlock();
        ServeSent(s);
        lock.lock();
        continue;
      }
      self->cv.wait(lock);
    }
  }
  helper.join();
  return result;
}

UiEvent MakeEventLocked(Model& m, const Window& w, UiEventKind kind) {
  UiEvent e;
  e.kind = kind;
  e.hwnd = w.hwnd;
  e.top = TopOfLocked(m, w);
  e.control_id = w.top_level ? 0 : w.id;
  std::shared_ptr<Window> top = FindLocked(m, e.top);
  e.title = top ? top->text : (w.top_level ? w.text : "");
  e.class_name = w.class_name;
  e.text = w.text;
  return e;
}

void SnapshotLocked(Model& m, const Window& top, WindowSnapshot* out) {
  out->hwnd = top.hwnd;
  out->title = top.text;
  out->class_name = top.class_name;
  out->visible = top.visible;
  out->enabled = top.enabled;
  out->is_dialog = top.is_dialog;
  out->modal = top.modal;
  out->ended = top.ended;
  out->thread_id = top.thread_id;
  out->controls.clear();
  out->painted = top.painted;
  std::vector<HWND> stack(top.children.rbegin(), top.children.rend());
  while (!stack.empty()) {
    std::shared_ptr<Window> c = FindLocked(m, stack.back());
    stack.pop_back();
    if (!c) continue;
    ControlSnapshot cs;
    cs.hwnd = c->hwnd;
    cs.id = c->id;
    cs.kind = c->kind;
    cs.text = c->text;
    cs.style = c->style;
    cs.visible = c->visible;
    cs.enabled = c->enabled;
    cs.rect = c->template_rect;
    cs.range_min = c->range_min;
    cs.range_max = c->range_max;
    cs.position = c->position;
    cs.playing = c->playing;
    out->controls.push_back(std::move(cs));
    stack.insert(stack.end(), c->children.rbegin(), c->children.rend());
  }
}

std::shared_ptr<const WindowSnapshot> SnapshotOf(HWND hwnd) {
  auto snap = std::make_shared<WindowSnapshot>();
  return SnapshotWindow(hwnd, snap.get()) ? snap : nullptr;
}

void Report(const UiEvent& event) { CurrentFrontEnd()->OnEvent(event); }

void PublishTopLevelWindows() {
  static std::mutex publish_mu;  // one writer at a time, each with the newest state
  std::lock_guard<std::mutex> publish(publish_mu);
  std::vector<ListedWindow> list;
  Model& m = TheModel();
  {
    std::lock_guard<std::mutex> lock(m.mu);
    for (HWND h : m.top_levels) {
      std::shared_ptr<Window> w = FindLocked(m, h);
      if (!w) continue;
      list.push_back(ListedWindow{Value(h), w->created_ns, w->class_name, w->text});
    }
  }
  WriteWindowList(list);
}

void SetTextAndReport(HWND hwnd, const std::string& text) {
  Model& m = TheModel();
  UiEvent e;
  bool top_level = false;
  {
    std::lock_guard<std::mutex> lock(m.mu);
    std::shared_ptr<Window> w = FindLocked(m, hwnd);
    if (!w) return;
    w->text = text;
    top_level = w->top_level;
    e = MakeEventLocked(m, *w, UiEventKind::kTextChanged);
  }
  if (top_level) PublishTopLevelWindows();
  Report(e);
}

void DialogBaseUnits(int font_size, int* base_x, int* base_y) {
  // Roughly the average character cell of the dialog fonts at 96 dpi.
  int size = font_size > 0 ? font_size : 8;
  *base_x = (size * 3 + 2) / 4;
  *base_y = (size * 13 + 4) / 8;
}

}  // namespace os::ui::internal

namespace os::ui {

bool SnapshotWindow(HWND hwnd, WindowSnapshot* out) {
  internal::Model& m = internal::TheModel();
  std::lock_guard<std::mutex> lock(m.mu);
  std::shared_ptr<internal::Window> w = internal::FindLocked(m, hwnd);
  if (!w) return false;
  std::shared_ptr<internal::Window> top = internal::FindLocked(m, internal::TopOfLocked(m, *w));
  internal::SnapshotLocked(m, top ? *top : *w, out);
  return true;
}

std::vector<HWND> TopLevelWindows() {
  internal::Model& m = internal::TheModel();
  std::lock_guard<std::mutex> lock(m.mu);
  return m.top_levels;
}

}  // namespace os::ui
