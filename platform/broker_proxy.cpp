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

BrokerMessage Request(BrokerOp op, std::vector<std::u16string> texts = {},
                      std::vector<std::uint32_t> numbers = {}) {
  BrokerMessage m;
  m.op = op;
  m.texts = std::move(texts);
  m.numbers = std::move(numbers);
  return m;
}

std::uint32_t U32(os::LONG v) { return static_cast<std::uint32_t>(v); }
os::LONG Long(std::uint32_t v) { return static_cast<os::LONG>(v); }

class BrokerProxy final : public os::ComObject<IFileManager, IBrokerConnection> {
 public:
  BrokerProxy(std::unique_ptr<os::Channel> channel, const os::PROCESS_INFORMATION& process,
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

  // IFileManager

  os::HRESULT CloseFile() override { return Call(Request(BrokerOp::kCloseFile)); }

  os::HRESULT OpenFile(const std::u16string& path, const std::u16string& mode,
                       os::LONG* file) override {
    if (file == nullptr) return os::E_POINTER;
    return CallWithOut(Request(BrokerOp::kOpenFile, {path, mode}, {U32(*file)}), file);
  }

  os::HRESULT QueryOpenFile(os::LONG* size) override {
    if (size == nullptr) return os::E_POINTER;
    return CallWithOut(Request(BrokerOp::kQueryOpenFile, {}, {U32(*size)}), size);
  }

  // A text longer than one frame carries goes in pieces, one after the other under the one
  // lock, which appends the same bytes to the open file.
  os::HRESULT WriteText(const std::u16string& text, os::LONG file) override {
    return InPieces(text, [&](std::u16string piece) {
      return Request(BrokerOp::kWriteText, {std::move(piece)}, {U32(file)});
    });
  }

  os::HRESULT CopyFile(const std::u16string& source, const std::u16string& destination,
                       os::BOOL fail_if_exists) override {
    return Call(Request(BrokerOp::kCopyFile, {source, destination}, {U32(fail_if_exists)}));
  }

  os::HRESULT CreateDirectory(const std::u16string& path, os::BOOL* created) override {
    if (created == nullptr) return os::E_POINTER;
    return CallWithOut(Request(BrokerOp::kCreateDirectory, {path}, {U32(*created)}), created);
  }

  os::HRESULT MoveFile(const std::u16string& source,
                       const std::u16string& destination) override {
    return Call(Request(BrokerOp::kMoveFile, {source, destination}));
  }

  os::HRESULT DeleteFile(const std::u16string& path) override {
    return Call(Request(BrokerOp::kDeleteFile, {path}));
  }

  os::HRESULT RunProgram(const std::u16string& path) override {
    return Call(Request(BrokerOp::kRunProgram, {path}));
  }

  os::HRESULT CreateShellLink(const std::u16string& target, const std::u16string& link,
                              const std::u16string& description, const std::u16string& icon,
                              const std::u16string& arguments, os::LONG* result) override {
    if (result == nullptr) return os::E_POINTER;
    return CallWithOut(Request(BrokerOp::kCreateShellLink,
                               {target, link, description, icon, arguments}, {U32(*result)}),
                       result);
  }

  os::HRESULT CreateInternetShortcut(const std::u16string& url, const std::u16string& path,
                                     const std::u16string& description,
                                     const std::u16string& icon, os::LONG icon_index,
                                     os::LONG* result) override {
    if (result == nullptr) return os::E_POINTER;
    return CallWithOut(Request(BrokerOp::kCreateInternetShortcut, {url, path, description, icon},
                               {U32(icon_index), U32(*result)}),
                       result);
  }

  os::HRESULT RegisterComponent(const std::u16string& path) override {
    return Call(Request(BrokerOp::kRegisterComponent, {path}));
  }

  os::HRESULT WriteRegString(os::ULONG root, const std::u16string& subkey,
                             const std::u16string& name, const std::u16string& text) override {
    return Call(Request(BrokerOp::kWriteRegString, {subkey, name, text}, {root}));
  }

  os::HRESULT ReadRegString(os::ULONG root, const std::u16string& subkey,
                            const std::u16string& name, std::u16string* text) override {
    if (text == nullptr) return os::E_POINTER;
    std::lock_guard<std::mutex> lock(mu_);
    BrokerMessage reply;
    os::HRESULT hr = Exchange(Request(BrokerOp::kReadRegString, {subkey, name}, {root}), &reply);
    if (os::SUCCEEDED(hr)) *text = std::move(reply.texts[0]);
    return hr;
  }

  os::HRESULT WriteRegNumber(os::ULONG root, const std::u16string& subkey,
                             const std::u16string& name, os::LONG number) override {
    return Call(Request(BrokerOp::kWriteRegNumber, {subkey, name}, {root, U32(number)}));
  }

  os::HRESULT UnregisterComponent(const std::u16string& path) override {
    return Call(Request(BrokerOp::kUnregisterComponent, {path}));
  }

  // In pieces as WriteText: appending each piece in turn appends the whole text.
  os::HRESULT AppendText(const std::u16string& path, const std::u16string& text) override {
    return InPieces(text, [&](std::u16string piece) {
      return Request(BrokerOp::kAppendText, {path, std::move(piece)});
    });
  }

  // IBrokerConnection

  bool IsConnected() override {
    // Never waits for a call in progress: GetBroker asks while other threads may be calling.
    // The channel tells, not the process: an elevation command may hand the broker on and end.
    return connected_ && !channel_->PeerClosed();
  }
  os::HANDLE ProcessHandle() override { return process_.hProcess; }
  os::DWORD BrokerProcessId() override { return broker_pid_; }

 private:
  ~BrokerProxy() override {
    // Closing the channel asks the broker to leave; one that does not is killed.
    channel_->Shutdown();
    if (os::WaitForSingleObject(process_.hProcess, kExitWaitMs) != os::WAIT_OBJECT_0) {
      os::TerminateProcess(process_.hProcess, 1);
      os::WaitForSingleObject(process_.hProcess, os::INFINITE);
    }
    os::CloseHandle(process_.hThread);
    os::CloseHandle(process_.hProcess);
  }

  os::HRESULT Call(BrokerMessage request) {
    std::lock_guard<std::mutex> lock(mu_);
    BrokerMessage reply;
    return Exchange(std::move(request), &reply);
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

  // For operations with one out number: it takes the broker's value whenever an answer came.
  os::HRESULT CallWithOut(BrokerMessage request, os::LONG* out) {
    std::lock_guard<std::mutex> lock(mu_);
    BrokerMessage reply;
    os::HRESULT hr = Exchange(std::move(request), &reply);
    if (reply.numbers.size() == 2) *out = Long(reply.numbers[1]);
    return hr;
  }

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
