#include "os/ui/thread_id.h"

#include <atomic>

namespace os {

DWORD GetCurrentThreadId() {
  static std::atomic<DWORD> next{1};
  thread_local DWORD id = next.fetch_add(1);
  return id;
}

}  // namespace os
