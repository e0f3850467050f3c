// pelisto-broker's request loop: frames from the control in, the elevated implementation's
// answers out, one request at a time.
#pragma once

#include <string>

#include "os/process/channel.h"
#include "platform/broker_protocol.h"
#include "platform/file_manager.h"

namespace pelisto {

enum class ServeEnd {
  kClientGone,  // the control closed the channel: the normal end
  kRefused,     // a frame against the protocol; the channel is closed without an answer
  kBroken,      // the channel failed
};

// The answer to one decoded request, from `files`. Out numbers start as the request's values,
// so an operation that leaves one untouched sends the caller's own value back.
BrokerMessage AnswerBrokerRequest(IFileManager& files, const BrokerMessage& request);

// Sends the hello, then serves requests from `channel` with `files` until the channel closes
// or a frame is refused. `why` receives a description of a refusal or failure.
ServeEnd ServeBrokerRequests(os::Channel& channel, IFileManager& files, std::string* why);

}  // namespace pelisto
