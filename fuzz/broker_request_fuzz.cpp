// Feeds arbitrary bytes to the broker's frame decoder. Besides surviving every input, a frame
// the decoder accepts must encode back to exactly the same bytes: the format has one spelling
// of each message, so anything else means the decoder read something it should not have.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/broker_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view frame(reinterpret_cast<const char*>(data), size);
  std::uint32_t rest = 0;
  if (pelisto::DecodeBrokerFrameSize(frame, &rest) == pelisto::BrokerStatus::kOk &&
      rest > pelisto::kBrokerMaxFrame - 4) {
    std::abort();
  }
  pelisto::BrokerMessage message;
  if (pelisto::DecodeBrokerMessage(frame, &message) != pelisto::BrokerStatus::kOk) return 0;
  std::string again;
  if (pelisto::EncodeBrokerMessage(message, &again) != pelisto::BrokerStatus::kOk ||
      again != frame) {
    std::abort();
  }
  return 0;
}
