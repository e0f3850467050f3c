// Per-thread message queues: posting, sending across threads, the message loop calls and
// timers.
//
// Each thread gets its queue with its first window call. Retrieval order, as on Windows:
// messages sent from other threads are served first (their window procedure runs inside
// GetMessage / PeekMessage on the owner thread), then posted messages in order, then WM_QUIT
// once the queue is empty, then due timers (one WM_TIMER per timer at a time, never queued).
// When a thread ends, its windows go away without messages, its timers stop and any sender
// still waiting on it gets 0.
#pragma once

#include "os/base/types.h"
#include "os/ui/messages.h"

namespace os {

// Queue a message for the window's thread (or, with a null window, the calling thread).
BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
// ERROR_INVALID_THREAD_ID when that thread has no queue (made no window call yet, or ended).
BOOL PostThreadMessageA(DWORD thread_id, UINT message, WPARAM wparam, LPARAM lparam);
void PostQuitMessage(int exit_code);

// Calls the window procedure and returns its result. For a window of another thread, the
// message waits in that thread's queue until its loop serves it; meanwhile this thread
// serves messages sent to it, so two threads sending to each other do not dead-lock.
// 0 with ERROR_INVALID_WINDOW_HANDLE for a missing window.
LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

// Waits for a message. `hwnd` (null: any) and the range (0, 0: any) filter what is taken.
// Returns FALSE for WM_QUIT, -1 on a bad filter window, TRUE otherwise.
BOOL GetMessageA(MSG* msg, HWND hwnd, UINT filter_min, UINT filter_max);
// As GetMessageA without waiting; FALSE when nothing is there. PM_REMOVE takes the message.
BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filter_min, UINT filter_max, UINT remove);
// No keyboard layout here: never produces character messages; returns FALSE.
BOOL TranslateMessage(const MSG* msg);
// Runs the window procedure for a message taken from this thread's queue. A WM_TIMER that
// carries a timer procedure calls it instead, but only for a timer set with that procedure.
LRESULT DispatchMessageA(const MSG* msg);

// A timer of the window's thread (with a null window, of the calling thread; the id is then
// chosen and returned). Periods below 10 ms are raised to 10. Setting an existing timer again
// restarts it. Returns 0 on failure.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse_ms, TIMERPROC proc);
BOOL KillTimer(HWND hwnd, UINT_PTR id);

}  // namespace os
