#include "os/ui/message_queue.h"

#include <algorithm>
#include <limits>

#include "os/base/error.h"
#include "os/fs/file_api.h"
#include "os/ui/model.h"
#include "os/ui/thread_id.h"

namespace os {
using ui::internal::Clock;
using ui::internal::Queue;
using ui::internal::SentMessage;
using ui::internal::Timer;
using ui::internal::Window;

namespace {

const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1));

bool Matches(HWND msg_hwnd, UINT message, HWND hwnd, UINT lo, UINT hi) {
  if (hwnd == kThreadMessagesOnly) {
    if (msg_hwnd != nullptr) return false;
  } else if (hwnd != nullptr && msg_hwnd != hwnd) {
    return false;
  }
  return (lo == 0 && hi == 0) || (message >= lo && message <= hi);
}

// Serves sent messages, then looks for a message in the retrieval order. Called with
// `lock` (on q.mu) held; releases it while a sent message runs. Sets *next_due to the time
// the earliest matching timer is due when nothing was found.
bool TryTake(Queue& q, std::unique_lock<std::mutex>& lock, MSG* msg, HWND hwnd, UINT lo, UINT hi, bool remove,
             Clock::time_point* next_due) {
  while (!q.sent.empty()) {
    std::shared_ptr<SentMessage> s = q.sent.front();
    q.sent.pop_front();
    lock.unlock();
    ui::internal::ServeSent(s);
    lock.lock();
  }
  for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
    if (!Matches(it->hwnd, it->message, hwnd, lo, hi)) continue;
    *msg = *it;
    if (remove) q.posted.erase(it);
    return true;
  }
  if (q.quit) {
    *msg = MSG{};
    msg->message = WM_QUIT;
    msg->wParam = static_cast<WPARAM>(q.quit_code);
    if (remove) q.quit = false;
    return true;
  }
  Clock::time_point now = Clock::now();
  *next_due = Clock::time_point::max();
  for (Timer& t : q.timers) {
    if (!Matches(t.hwnd, WM_TIMER, hwnd, lo, hi)) continue;
    if (t.due <= now) {
      *msg = MSG{};
      msg->hwnd = t.hwnd;
      msg->message = WM_TIMER;
      msg->wParam = t.id;
      msg->lParam = reinterpret_cast<LPARAM>(t.proc);
      if (remove) t.due = now + std::chrono::milliseconds(t.elapse_ms);
      return true;
    }
    *next_due = std::min(*next_due, t.due);
  }
  return false;
}

bool BadFilter(HWND hwnd) {
  if (hwnd == nullptr || hwnd == kThreadMessagesOnly) return false;
  std::shared_ptr<Window> w = ui::internal::Find(hwnd);
  if (w && w->thread_id == GetCurrentThreadId()) return false;
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return true;
}

bool PostTo(const std::shared_ptr<Queue>& q, const MSG& msg) {
  {
    std::lock_guard<std::mutex> lock(q->mu);
    if (!q->alive) return false;
    q->posted.push_back(msg);
  }
  q->cv.notify_all();
  return true;
}

// The timer procedure of a WM_TIMER, when the message came from a timer that has one.
TIMERPROC TimerProcOf(const MSG* msg) {
  if (msg->lParam == 0) return nullptr;
  std::shared_ptr<Queue> q = ui::internal::CurrentQueue();
  std::lock_guard<std::mutex> lock(q->mu);
  for (const Timer& t : q->timers) {
    if (t.hwnd == msg->hwnd && t.id == msg->wParam && reinterpret_cast<LPARAM>(t.proc) == msg->lParam) {
      return t.proc;
    }
  }
  return nullptr;
}

}  // namespace

BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  MSG msg;
  msg.hwnd = hwnd;
  msg.message = message;
  msg.wParam = wparam;
  msg.lParam = lparam;
  msg.time = GetTickCount();
  std::shared_ptr<Queue> q;
  if (hwnd == nullptr) {
    q = ui::internal::CurrentQueue();
  } else {
    std::shared_ptr<Window> w = ui::internal::FindOrFail(hwnd);
    if (!w) return FALSE;
    q = ui::internal::QueueOf(w->thread_id);
  }
  if (!q || !PostTo(q, msg)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL PostThreadMessageA(DWORD thread_id, UINT message, WPARAM wparam, LPARAM lparam) {
  std::shared_ptr<Queue> q = ui::internal::QueueOf(thread_id);
  MSG msg;
  msg.message = message;
  msg.wParam = wparam;
  msg.lParam = lparam;
  msg.time = GetTickCount();
  if (!q || !PostTo(q, msg)) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  return TRUE;
}

void PostQuitMessage(int exit_code) {
  std::shared_ptr<Queue> q = ui::internal::CurrentQueue();
  {
    std::lock_guard<std::mutex> lock(q->mu);
    q->quit = true;
    q->quit_code = exit_code;
  }
  q->cv.notify_all();
}

LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  std::shared_ptr<Window> w = ui::internal::FindOrFail(hwnd);
  if (!w) return 0;
  if (w->thread_id == GetCurrentThreadId()) return ui::internal::CallProc(hwnd, message, wparam, lparam);
  std::shared_ptr<Queue> target = ui::internal::QueueOf(w->thread_id);
  std::shared_ptr<Queue> self = ui::internal::CurrentQueue();
  auto sent = std::make_shared<SentMessage>();
  sent->hwnd = hwnd;
  sent->message = message;
  sent->wparam = wparam;
  sent->lparam = lparam;
  sent->sender = self;
  {
    if (!target) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    std::lock_guard<std::mutex> lock(target->mu);
    if (!target->alive) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    target->sent.push_back(sent);
  }
  target->cv.notify_all();
  std::unique_lock<std::mutex> lock(self->mu);
  while (!sent->done) {
    if (!self->sent.empty()) {
      std::shared_ptr<SentMessage> incoming = self->sent.front();
      self->sent.pop_front();
      lock.unlock();
      ui::internal::ServeSent(incoming);
      lock.lock();
      continue;
    }
    self->cv.wait(lock);
  }
  return sent->result;
}

BOOL GetMessageA(MSG* msg, HWND hwnd, UINT filter_min, UINT filter_max) {
  if (msg == nullptr || BadFilter(hwnd)) return -1;
  std::shared_ptr<Queue> q = ui::internal::CurrentQueue();
  std::unique_lock<std::mutex> lock(q->mu);
  for (;;) {
    Clock::time_point next_due;
    if (TryTake(*q, lock, msg, hwnd, filter_min, filter_max, true, &next_due)) {
      if (msg->time == 0) msg->time = GetTickCount();
      return msg->message == WM_QUIT ? FALSE : TRUE;
    }
    if (next_due == Clock::time_point::max()) {
      q->cv.wait(lock);
    } else {
      q->cv.wait_until(lock, next_due);
    }
  }
}

BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filter_min, UINT filter_max, UINT remove) {
  if (msg == nullptr || BadFilter(hwnd)) return FALSE;
  std::shared_ptr<Queue> q = ui::internal::CurrentQueue();
  std::unique_lock<std::mutex> lock(q->mu);
  Clock::time_point next_due;
  if (!TryTake(*q, lock, msg, hwnd, filter_min, filter_max, (remove & PM_REMOVE) != 0, &next_due)) return FALSE;
  if (msg->time == 0) msg->time = GetTickCount();
  return TRUE;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageA(const MSG* msg) {
  if (msg == nullptr) return 0;
  if (msg->message == WM_TIMER) {
    if (TIMERPROC proc = TimerProcOf(msg)) {
      proc(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
      return 0;
    }
  }
  if (msg->hwnd == nullptr) return 0;
  std::shared_ptr<Window> w = ui::internal::FindOrFail(msg->hwnd);
  if (!w) return 0;
  if (w->thread_id != GetCurrentThreadId()) {
    SetLastError(ERROR_WINDOW_OF_OTHER_THREAD);
    return 0;
  }
  return ui::internal::CallProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse_ms, TIMERPROC proc) {
  std::shared_ptr<Queue> q;
  if (hwnd != nullptr) {
    std::shared_ptr<Window> w = ui::internal::FindOrFail(hwnd);
    if (!w) return 0;
    q = ui::internal::QueueOf(w->thread_id);
    if (!q) return 0;
  } else {
    q = ui::internal::CurrentQueue();
  }
  elapse_ms = std::clamp<UINT>(elapse_ms, 10, 0x7FFFFFFF);
  UINT_PTR result = 0;
  {
    std::lock_guard<std::mutex> lock(q->mu);
    auto existing = std::find_if(q->timers.begin(), q->timers.end(),
                                 [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (hwnd == nullptr && existing == q->timers.end()) {
      // A thread timer gets an id of its own, unlike any of the thread's other timers.
      do {
        id = q->next_timer_id++;
      } while (std::any_of(q->timers.begin(), q->timers.end(), [&](const Timer& t) { return t.id == id; }));
    }
    Timer t{hwnd, id, elapse_ms, proc, Clock::now() + std::chrono::milliseconds(elapse_ms)};
    if (existing != q->timers.end()) {
      *existing = t;
    } else {
      q->timers.push_back(t);
    }
    result = hwnd == nullptr ? id : (id != 0 ? id : 1);
  }
  q->cv.notify_all();
  return result;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  std::shared_ptr<Queue> q;
  if (hwnd != nullptr) {
    std::shared_ptr<Window> w = ui::internal::Find(hwnd);
    q = w ? ui::internal::QueueOf(w->thread_id) : nullptr;
  } else {
    q = ui::internal::CurrentQueue();
  }
  if (!q) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(q->mu);
  auto before = q->timers.size();
  std::erase_if(q->timers, [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  return q->timers.size() != before ? TRUE : FALSE;
}

}  // namespace os
