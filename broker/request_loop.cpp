#include "broker/request_loop.h"

#include <array>
#include <cstdint>
#include <utility>

#include "os/base/error.h"
#include "os/com/hresult.h"
#include "os/process/process.h"
#include "platform/broker_operations.h"

namespace pelisto {
namespace {

using Status = os::Channel::Status;

const char* ChannelText(Status status) {
  switch (status) {
    case Status::kOk: return "ok";
    case Status::kClosed: return "channel closed";
    case Status::kTimeout: return "channel timed out";
    case Status::kFailed: break;
  }
  return "channel failed";
}

bool Send(os::Channel& channel, const BrokerMessage& message, std::string* why) {
  std::string frame;
  if (BrokerStatus s = EncodeBrokerMessage(message, &frame); s != BrokerStatus::kOk) {
    *why = std::string("cannot encode an answer: ") + BrokerStatusText(s);
    return false;
  }
  if (Status s = channel.Write(frame); s != Status::kOk) {
    *why = std::string("cannot send an answer: ") + ChannelText(s);
    return false;
  }
  return true;
}

}  // namespace

BrokerMessage AnswerBrokerRequest(IFileManager& files, const BrokerMessage& request) {
  using Answer = BrokerMessage (*)(IFileManager&, const BrokerMessage&);
  static constexpr auto kAnswers = []<std::size_t... I>(std::index_sequence<I...>) {
    return std::array<Answer, sizeof...(I)>{
        &std::tuple_element_t<I, BrokerOperations>::Answer...};
  }(std::make_index_sequence<kBrokerOpCount>());
  const auto op = static_cast<std::size_t>(request.op);
  if (op >= kAnswers.size()) return BrokerHello::Answer(files, request);
  return kAnswers[op](files, request);
}

ServeEnd ServeBrokerRequests(os::Channel& channel, IFileManager& files, std::string* why) {
  BrokerMessage hello;
  hello.op = BrokerOp::kHello;
  hello.reply = true;
  hello.numbers = {os::GetCurrentProcessId()};
  if (!Send(channel, hello, why)) return ServeEnd::kBroken;

  std::string frame;
  for (;;) {
    frame.assign(4, '\0');
    Status s = channel.Read(frame.data(), 4, os::INFINITE);
    if (s == Status::kClosed) return ServeEnd::kClientGone;
    if (s != Status::kOk) {
      *why = ChannelText(s);
      return ServeEnd::kBroken;
    }
    std::uint32_t rest = 0;
    if (BrokerStatus d = DecodeBrokerFrameSize(frame, &rest); d != BrokerStatus::kOk) {
      *why = BrokerStatusText(d);
      return ServeEnd::kRefused;
    }
    frame.resize(4 + rest);
    s = channel.Read(frame.data() + 4, rest, os::INFINITE);
    if (s != Status::kOk) {
      *why = std::string("in a frame: ") + ChannelText(s);
      return s == Status::kClosed ? ServeEnd::kRefused : ServeEnd::kBroken;
    }
    BrokerMessage request;
    if (BrokerStatus d = DecodeBrokerMessage(frame, &request); d != BrokerStatus::kOk) {
      *why = BrokerStatusText(d);
      return ServeEnd::kRefused;
    }
    if (request.reply) {
      *why = "an answer where a request belongs";
      return ServeEnd::kRefused;
    }
    if (!Send(channel, AnswerBrokerRequest(files, request), why)) return ServeEnd::kBroken;
  }
}

}  // namespace pelisto
