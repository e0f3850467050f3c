// The page's event handlers as the host plays them: each event is printed on one line, and
// the --cancel-on rules write their value into pCancel.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "control/event_sink.h"
#include "host/cli_options.h"

namespace pelisto {

class EventPrinter : public EventSink {
 public:
  // Prints to `out` (flushed after every line); nothing for EventFormat::kNone.
  EventPrinter(std::FILE* out, EventFormat format, std::vector<CancelRule> rules);

  void OnEvent(const EventInfo& event, const std::vector<os::Variant>& args,
               os::LONG* cancel) override;

 private:
  std::FILE* out_;
  EventFormat format_;
  std::vector<CancelRule> rules_;
  std::map<std::string, int> fired_;  // firings so far, by event name
};

}  // namespace pelisto
