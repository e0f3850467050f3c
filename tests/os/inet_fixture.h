// What the Inet* suites share: a fresh image, a loopback server, handles closed at the end,
// and a recorder for status callbacks.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "os/base/error.h"
#include "os/inet/wininet.h"
#include "tests/support/http_server.h"
#include "tests/support/image_test.h"

namespace pelisto::testing {

constexpr os::DWORD kSentinel = 0xDEADBEEF;

// Status callbacks seen, in order; texts for the codes that pass one.
struct StatusLog {
  struct Event {
    os::DWORD status;
    std::string text;
  };
  std::mutex mu;
  std::vector<Event> events;
  std::function<void(os::DWORD)> on_status;  // called outside the lock, may be empty

  static void Callback(os::HINTERNET, os::DWORD_PTR context, os::DWORD status, void* info, os::DWORD length);
  std::vector<os::DWORD> Codes();
  // The text passed with the first event of `status`, or "<none>".
  std::string TextOf(os::DWORD status);
};

struct InetHandles {
  os::HINTERNET session = nullptr;
  os::HINTERNET connection = nullptr;
  os::HINTERNET request = nullptr;
  ~InetHandles() {
    if (session != nullptr) os::InternetCloseHandle(session);
  }
};

class InetTest : public ImageTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Opens session, connection and request for `path` on `server` (the fixture's by default).
  // A non-null `log` receives the callbacks of the connection and request.
  void Open(InetHandles* h, const std::string& path, os::DWORD flags = 0, StatusLog* log = nullptr,
            HttpServer* server = nullptr, os::DWORD access = os::INTERNET_OPEN_TYPE_DIRECT);
  // Reads the whole body in `chunk`-byte reads; returns the error that stopped it (0 at the end).
  static os::DWORD ReadAll(os::HINTERNET request, std::string* body, os::DWORD chunk = 1024,
                           std::vector<os::DWORD>* sizes = nullptr);
  static std::string QueryText(os::HINTERNET request, os::DWORD level, os::DWORD* error);

  HttpServer server_;
};

}  // namespace pelisto::testing
