// The control's outgoing event interface: names, dispatch identifiers and arguments.
#pragma once

#include <string_view>
#include <vector>

#include "control/event_ids.h"

namespace pelisto {

enum class ArgType { kText, kLong };

struct EventParam {
  const char* name;
  ArgType type;
};

struct EventInfo {
  EventId id;
  const char* name;
  std::vector<EventParam> params;  // in order, without pCancel
  bool has_cancel;                 // a last argument pCancel, a long by reference, 0 on entry
};

// The eleven events in dispatch-identifier order.
const std::vector<EventInfo>& EventTable();
// Null when there is no such event. Names compare without regard to case, as IDispatch does.
const EventInfo* FindEvent(os::LONG id);
const EventInfo* FindEventByName(std::string_view name);

}  // namespace pelisto
