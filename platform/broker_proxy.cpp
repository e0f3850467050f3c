#include "platform/broker_proxy.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "os/base/error.h"
#include "os/com/hresult.h"
#include "os/image/machine.h"
#include "os/process/channel.h"
#include "os/process/command_line.h"
#include "os/process/process.h"
#include "platform/broker_operations.h"
#include "platform/broker_protocol.h"

namespace pelisto {
namespace {

constexpr char kBrokerProgram[] = "pelisto-broker";
// How long a broker may take to leave after its channel is closed before it is killed.
constexpr os::DWORD kExitWaitMs = 5000;

os::HRESULT LastErrorResult() {
  os::DWORD code = os::GetLastError();
  return code == os::ERROR_SUCCESS ? os::E_FAIL : os::HRESULT_FROM_WIN32(code);
}

// What a caller gets for an argument the protocol cannot carry; nothing is sent for it.
os::HRESULT Refusal(BrokerStatus status) {
  switch (status) {
    case BrokerStatus::kPathTooLong: return os::HRESULT_FROM_WIN32(os::ERROR_FILENAME_EXCED_RANGE);
    case BrokerStatus::kBadText: return os::HRESULT_FROM_WIN32(os::ERROR_INVALID_NAME);
    default: return os::E_INVALIDARG;
  }
}

// The proxy's connection: the channel, the broker's process, and one call at a time.
class ProxyCore : public os::ComObject<IFileManager, IBrokerConnection> {
 public:
  ProxyCore(std::unique_ptr<os::Channel> channel, const os::PROCESS_INFORMATION& process,
            os::DWORD timeout_ms)
      : channel_(std::move(channel)), process_(process), timeout_ms_(timeout_ms) {}

  // Waits for the broker's hello. On failure the broker is ended.
  os::HRESULT Connect() {
    std::lock_guard<std::mutex> lock(mu_);
    BrokerMessage hello;
    os::HRESULT hr = ReadFrame(&hello);
    if (os::SUCCEEDED(hr) && !(hello.op == BrokerOp::kHello && hello.reply && hello.id == 0)) {
      hr = os::RPC_E_DISCONNECTED;
    }
    if (os::FAILED(hr)) {
      Disconnect();
      return hr == os::RPC_E_TIMEOUT ? hr : os::CO_E_SERVER_EXEC_FAILURE;
    }
    broker_pid_ = hello.numbers[0];
    connected_ = true;
    return os::S_OK;
  }

  // IBrokerConnection

  bool IsConnected() override {
    // Never waits for a call in progress: GetBroker asks while other threads may be calling.
    // The channel tells, not the process: an elevation command may hand the broker on and end.
    return connected_ && !channel_->PeerClosed();
  }
  os::HANDLE ProcessHandle() override { return process_.hProcess; }
  os::DWORD BrokerProcessId() override { return broker_pid_; }

 protected:
  ~ProxyCore() override {
    // Closing the channel asks the broker to leave; one that does not is killed.
    channel_->Shutdown();
    if (os::WaitForSingleObject(process_.hProcess, kExitWaitMs) != os::WAIT_OBJECT_0) {
      os::TerminateProcess(process_.hProcess, 1);
      os::WaitForSingleObject(process_.hProcess, os::INFINITE);
    }
    os::CloseHandle(process_.hThread);
    os::CloseHandle(process_.hProcess);
  }

  // One operation's call, as its row carries it: the request from `args`, the answer's out
  // values back into them whenever an answer came.
  template <BrokerOp Op, class... Args>
  os::HRESULT Call(Args&&... args) {
    using Row = BrokerOperationOf<Op>;
    if (Row::HasNullOut(args...)) return os::E_POINTER;
    std::lock_guard<std::mutex> lock(mu_);
    BrokerMessage reply;
    const os::HRESULT hr = Exchange(Row::Request(args...), &reply);
    if (!reply.numbers.empty()) Row::TakeReply(reply, args...);
    return hr;
  }

  // Sends `text` in pieces that each fit a frame, each as the request `piece_request` makes
  // of it, under the one lock; the first failure ends it. An empty text is one request.
  template <typename PieceRequest>
  os::HRESULT InPieces(const std::u16string& text, PieceRequest piece_request) {
    std::lock_guard<std::mutex> lock(mu_);
    std::size_t at = 0;
    do {
      std::size_t n = std::min(kBrokerMaxText, text.size() - at);
      // Never split a surrogate pair: each piece is converted on its own.
      if (at + n < text.size() && n > 1 && text[at + n - 1] >= 0xD800 &&
          text[at + n - 1] <= 0xDBFF) {
        --n;
      }
      BrokerMessage reply;
      os::HRESULT hr = Exchange(piece_request(text.substr(at, n)), &reply);
      if (os::FAILED(hr)) return hr;
      at += n;
    } while (at < text.size());
    return os::S_OK;
  }

 private:
  // Sends `request` and waits for its answer; `mu_` is held. Returns the operation's HRESULT
  // with the answer in `*reply`, or the connection's failure with `*reply` left empty.
  os::HRESULT Exchange(BrokerMessage request, BrokerMessage* reply) {
    if (!connected_) return os::RPC_E_DISCONNECTED;
    request.id = ++last_id_;
    std::string frame;
    if (BrokerStatus s = EncodeBrokerMessage(request, &frame); s != BrokerStatus::kOk) {
      return Refusal(s);
    }
    if (channel_->Write(frame) != os::Channel::Status::kOk) {
      Disconnect();
      return os::RPC_E_DISCONNECTED;
    }
    BrokerMessage answer;
    os::HRESULT hr = ReadFrame(&answer);
    if (os::SUCCEEDED(hr) &&
        !(answer.reply && answer.op == request.op && answer.id == request.id)) {
      hr = os::RPC_E_DISCONNECTED;
    }
    if (os::FAILED(hr)) {
      Disconnect();
      return hr;
    }
    *reply = std::move(answer);
    return static_cast<os::HRESULT>(reply->numbers[0]);
  }

  // Reads one frame within the time-out: S_OK, RPC_E_TIMEOUT, or RPC_E_DISCONNECTED for a
  // closed channel or a frame against the protocol.
  os::HRESULT ReadFrame(BrokerMessage* message) {
    using Status = os::Channel::Status;
    const Deadline deadline(timeout_ms_);
    std::string frame(4, '\0');
    Status s = channel_->Read(frame.data(), 4, deadline.Left());
    std::uint32_t rest = 0;
    if (s == Status::kOk && DecodeBrokerFrameSize(frame, &rest) == BrokerStatus::kOk) {
      frame.resize(4 + rest);
      s = channel_->Read(frame.data() + 4, rest, deadline.Left());
      if (s == Status::kOk && DecodeBrokerMessage(frame, message) == BrokerStatus::kOk) {
        return os::S_OK;
      }
    }
    return s == Status::kTimeout ? os::RPC_E_TIMEOUT : os::RPC_E_DISCONNECTED;
  }

  // Gives the broker up. One that still holds its end (after a time-out or a broken answer) is
  // killed: nothing it sends can be trusted. One that closed its end is leaving by itself and
  // is left to end as it does, so its exit code tells how (an abort, a fault).
  void Disconnect() {
    connected_ = false;
    const bool peer_closed = channel_->PeerClosed();
    channel_->Shutdown();
    if (!peer_closed) os::TerminateProcess(process_.hProcess, 1);
  }

  // The time left of one call's allowance (INFINITE without a bound).
  class Deadline {
   public:
    explicit Deadline(os::DWORD timeout_ms)
        : infinite_(timeout_ms == os::INFINITE),
          end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms)) {}
    os::DWORD Left() const {
      if (infinite_) return os::INFINITE;
      auto left = std::chrono::ceil<std::chrono::milliseconds>(end_ -
                                                               std::chrono::steady_clock::now());
      return left.count() > 0 ? static_cast<os::DWORD>(left.count()) : 0;
    }

   private:
    bool infinite_;
    std::chrono::steady_clock::time_point end_;
  };

  std::mutex mu_;  // one call at a time on the channel
  std::unique_ptr<os::Channel> channel_;
  os::PROCESS_INFORMATION process_;
  const os::DWORD timeout_ms_;
  std::atomic<bool> connected_{false};
  std::uint32_t last_id_ = 0;
  os::DWORD broker_pid_ = 0;
};

// One link per row: it overrides the row's method with the call its row carries
// (ProxyCore::Call). The proxy is every link stacked on ProxyCore, so an operation whose row
// is missing leaves the proxy abstract, and one whose row does not match its method does not
// compile.
#define PELISTO_PROXY_LINK(number, method, ...)                                   \
  template <class Base, class Signature>                                          \
  class Forward##method##Link;                                                    \
  template <class Base, class... Args>                                            \
  class Forward##method##Link<Base, os::HRESULT (IFileManager::*)(Args...)>       \
      : public Base {                                                             \
   public:                                                                        \
    using Base::Base;                                                             \
    os::HRESULT method(Args... args) override {                                   \
      return this->template Call<BrokerOp::k##method>(args...);                   \
    }                                                                             \
  };                                                                              \
  template <class Base>                                                           \
  using Forward##method = Forward##method##Link<Base, decltype(&IFileManager::method)>;
PELISTO_BROKER_OPERATIONS(PELISTO_PROXY_LINK)
#undef PELISTO_PROXY_LINK

template <class Base, template <class> class... Links>
struct Stack {
  using Type = Base;
};
template <class Base, template <class> class First, template <class> class... Rest>
struct Stack<Base, First, Rest...> {
  using Type = First<typename Stack<Base, Rest...>::Type>;
};

#define PELISTO_PROXY_LINK_NAME(number, method, ...) , Forward##method
using ForwardedOperations =
    Stack<ProxyCore PELISTO_BROKER_OPERATIONS(PELISTO_PROXY_LINK_NAME)>::Type;
#undef PELISTO_PROXY_LINK_NAME

class BrokerProxy final : public ForwardedOperations {
 public:
  using ForwardedOperations::ForwardedOperations;

  // Texts longer than one frame carries go in pieces, one after the other under the one
  // lock: appending the pieces in turn to the open file, or to the file named, appends the
  // whole text.
  os::HRESULT WriteText(const std::u16string& text, os::LONG file) override {
    return InPieces(text, [&](const std::u16string& piece) {
      return BrokerOperationOf<BrokerOp::kWriteText>::Request(piece, file);
    });
  }
  os::HRESULT AppendText(const std::u16string& path, const std::u16string& text) override {
    return InPieces(text, [&](const std::u16string& piece) {
      return BrokerOperationOf<BrokerOp::kAppendText>::Request(path, piece);
    });
  }

 private:
  ~BrokerProxy() override = default;
};

}  // namespace

os::HRESULT StartBrokerProcess(IFileManager** out) {
  if (out == nullptr) return os::E_POINTER;
  *out = nullptr;
  const os::Machine* machine = os::CurrentMachine();
  if (machine == nullptr) return os::CO_E_SERVER_EXEC_FAILURE;
  const os::ImageSettings& settings = machine->settings();
  const std::string program = os::LocateHostProgram(kBrokerProgram, settings.broker_path);
  if (program.empty()) return os::HRESULT_FROM_WIN32(os::ERROR_FILE_NOT_FOUND);

  // The elevation command (for example "sudo -n") goes first; the prefix travels on the
  // command line, since such commands clear the environment.
  std::vector<std::string> command = os::SplitCommandLine(settings.elevation_command);
  command.insert(command.end(), {program, "--prefix", machine->prefix(), "--stdio"});
  std::unique_ptr<os::Channel> channel;
  os::PROCESS_INFORMATION process;
  if (!os::CreateHostProcessWithChannel(command, &channel, &process)) return LastErrorResult();

  const os::DWORD timeout_ms = settings.broker_timeout_ms > 0
                                   ? static_cast<os::DWORD>(settings.broker_timeout_ms)
                                   : os::INFINITE;
  os::ComPtr<BrokerProxy> proxy = os::MakeCom<BrokerProxy>(std::move(channel), process, timeout_ms);
  if (os::HRESULT hr = proxy->Connect(); os::FAILED(hr)) return hr;
  *out = static_cast<IFileManager*>(proxy.Detach());
  return os::S_OK;
}

bool IsBrokerGone(IFileManager* broker) {
  if (broker == nullptr) return false;
  os::ComPtr<IBrokerConnection> connection;
  if (os::FAILED(broker->QueryInterface(IBrokerConnection::kIid,
                                        connection.ReleaseAndGetVoidAddressOf()))) {
    return false;
  }
  return !connection->IsConnected();
}

}  // namespace pelisto
