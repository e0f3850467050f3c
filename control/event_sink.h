// The receiver of the control's events: the page's handlers, installed by the host.
#pragma once

#include <vector>

#include "control/events.h"
#include "os/com/variant.h"

namespace pelisto {

class EventSink {
 public:
  virtual ~EventSink() = default;
  // Called on the thread that fires, once per event, in firing order. `args` are the event's
  // arguments in declaration order (texts as VT_BSTR, numbers as VT_I4), without pCancel.
  // For an event with pCancel, `cancel` points at its value (0 on entry), which the handler
  // may change; otherwise it is null.
  virtual void OnEvent(const EventInfo& event, const std::vector<os::Variant>& args,
                       os::LONG* cancel) = 0;
};

}  // namespace pelisto
