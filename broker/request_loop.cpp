#include "broker/request_loop.h"

#include <cstdint>
#include <utility>

#include "os/base/error.h"
#include "os/com/hresult.h"
#include "os/process/process.h"

namespace pelisto {
namespace {

using Status = os::Channel::Status;

std::uint32_t U32(os::LONG v) { return static_cast<std::uint32_t>(v); }
os::LONG Long(std::uint32_t v) { return static_cast<os::LONG>(v); }

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
  // The decoder has checked the fields against the operation: the indexes below exist.
  const std::vector<std::u16string>& t = request.texts;
  const std::vector<std::uint32_t>& n = request.numbers;
  BrokerMessage reply;
  reply.op = request.op;
  reply.reply = true;
  reply.id = request.id;

  os::HRESULT hr = os::E_UNEXPECTED;
  os::LONG out = 0;
  bool has_out = true;
  switch (request.op) {
    case BrokerOp::kHello:
      has_out = false;
      break;
    case BrokerOp::kCloseFile:
      hr = files.CloseFile();
      has_out = false;
      break;
    case BrokerOp::kOpenFile:
      out = Long(n[0]);
      hr = files.OpenFile(t[0], t[1], &out);
      break;
    case BrokerOp::kQueryOpenFile:
      out = Long(n[0]);
      hr = files.QueryOpenFile(&out);
      break;
    case BrokerOp::kWriteText:
      hr = files.WriteText(t[0], Long(n[0]));
      has_out = false;
      break;
    case BrokerOp::kCopyFile:
      hr = files.CopyFile(t[0], t[1], Long(n[0]));
      has_out = false;
      break;
    case BrokerOp::kCreateDirectory: {
      os::BOOL created = Long(n[0]);
      hr = files.CreateDirectory(t[0], &created);
      out = created;
      break;
    }
    case BrokerOp::kMoveFile:
      hr = files.MoveFile(t[0], t[1]);
      has_out = false;
      break;
    case BrokerOp::kDeleteFile:
      hr = files.DeleteFile(t[0]);
      has_out = false;
      break;
    case BrokerOp::kRunProgram:
      hr = files.RunProgram(t[0]);
      has_out = false;
      break;
    case BrokerOp::kCreateShellLink:
      out = Long(n[0]);
      hr = files.CreateShellLink(t[0], t[1], t[2], t[3], t[4], &out);
      break;
    case BrokerOp::kCreateInternetShortcut:
      out = Long(n[1]);
      hr = files.CreateInternetShortcut(t[0], t[1], t[2], t[3], Long(n[0]), &out);
      break;
    case BrokerOp::kRegisterComponent:
      hr = files.RegisterComponent(t[0]);
      has_out = false;
      break;
    case BrokerOp::kWriteRegString:
      hr = files.WriteRegString(n[0], t[0], t[1], t[2]);
      has_out = false;
      break;
    case BrokerOp::kReadRegString: {
      std::u16string text;
      hr = files.ReadRegString(n[0], t[0], t[1], &text);
      if (text.size() > kBrokerMaxText) {
        // More than one answer may carry: the caller gets none of it rather than a part.
        hr = os::HRESULT_FROM_WIN32(os::ERROR_MORE_DATA);
        text.clear();
      }
      reply.numbers = {U32(hr)};
      reply.texts = {os::SUCCEEDED(hr) ? std::move(text) : std::u16string()};
      return reply;
    }
    case BrokerOp::kWriteRegNumber:
      hr = files.WriteRegNumber(n[0], t[0], t[1], Long(n[1]));
      has_out = false;
      break;
    case BrokerOp::kUnregisterComponent:
      hr = files.UnregisterComponent(t[0]);
      has_out = false;
      break;
    case BrokerOp::kAppendText:
      hr = files.AppendText(t[0], t[1]);
      has_out = false;
      break;
  }
  reply.numbers = {U32(hr)};
  if (has_out) reply.numbers.push_back(U32(out));
  return reply;
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
