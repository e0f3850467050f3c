// pelisto-broker: the elevated broker. The control starts it with its channel on standard input
// and output and the machine image's prefix on the command line; it serves that one client on
// the image, at high integrity, and leaves when the client closes the channel. A channel that
// the process which started it did not make is refused, as is an image that neither that
// process's user nor root owns.
//
// Exit codes: 0 the client went away; 1 the image or the channel could not be used; 2 usage;
// 4 the client broke the protocol or the channel failed.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "broker/request_loop.h"
#include "os/base/text.h"
#include "os/com/unknown.h"
#include "os/image/image_trust.h"
#include "os/image/integrity.h"
#include "os/image/machine.h"
#include "os/process/channel.h"
#include "platform/file_manager.h"

namespace pelisto {
namespace {

constexpr int kExitClientGone = 0;
constexpr int kExitCannotStart = 1;
constexpr int kExitUsage = 2;
constexpr int kExitBroken = 4;

int Usage() {
  std::fprintf(stderr,
               "usage: pelisto-broker [--prefix DIR] --stdio\n"
               "Started by the control: serves it on standard input and output.\n");
  return kExitUsage;
}

int Run(int argc, char** argv) {
  std::string prefix;
  bool stdio = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--prefix") == 0 && i + 1 < argc) {
      prefix = argv[++i];
    } else if (std::strcmp(argv[i], "--stdio") == 0) {
      stdio = true;
    } else {
      return Usage();
    }
  }
  if (!stdio) return Usage();

  // First of all, before anything could write to standard output. Only the process that
  // started the broker is served, and the image it names must be that user's (or root's).
  os::ChannelPeer peer;
  std::string error;
  std::unique_ptr<os::Channel> channel = os::TakeStarterChannel(&peer, &error);
  if (!channel) {
    std::fprintf(stderr, "pelisto-broker: refused: %s\n", error.c_str());
    return kExitCannotStart;
  }
  os::TrustImageOwner(peer.user);
  std::unique_ptr<os::Machine> machine = os::Machine::Open(os::ChoosePrefix(prefix), &error);
  if (!machine) {
    std::fprintf(stderr, "pelisto-broker: %s\n", error.c_str());
    return kExitCannotStart;
  }
  os::SetCurrentMachine(machine.get());
  os::SetAnsiCodePage(machine->settings().code_page);
  os::SetProcessIntegrity(os::IntegrityLevel::kHigh);

  int code = kExitClientGone;
  {
    os::ComPtr<IFileManager> files;
    CreateLocalFileManager(files.ReleaseAndGetAddressOf());
    std::string why;
    switch (ServeBrokerRequests(*channel, *files.Get(), &why)) {
      case ServeEnd::kClientGone: break;
      case ServeEnd::kRefused:
        std::fprintf(stderr, "pelisto-broker: refused a request: %s\n", why.c_str());
        code = kExitBroken;
        break;
      case ServeEnd::kBroken:
        std::fprintf(stderr, "pelisto-broker: %s\n", why.c_str());
        code = kExitBroken;
        break;
    }
  }
  os::SetCurrentMachine(nullptr);
  return code;
}

}  // namespace
}  // namespace pelisto

int main(int argc, char** argv) { return pelisto::Run(argc, argv); }
