#include "host/event_printer.h"

#include "host/output_format.h"

namespace pelisto {

EventPrinter::EventPrinter(std::FILE* out, EventFormat format, std::vector<CancelRule> rules)
    : out_(out), format_(format), rules_(std::move(rules)) {}

void EventPrinter::OnEvent(const EventInfo& event, const std::vector<os::Variant>& args,
                           os::LONG* cancel) {
  const int nth = ++fired_[event.name];
  if (format_ != EventFormat::kNone) {
    std::fprintf(out_, "%s\n", EventLine(event.name, args, format_ == EventFormat::kJson).c_str());
    std::fflush(out_);
  }
  if (cancel == nullptr) return;
  for (const CancelRule& rule : rules_) {
    if (rule.event == event.name && rule.nth == nth) *cancel = rule.value;
  }
}

}  // namespace pelisto
