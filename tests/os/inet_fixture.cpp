#include "tests/os/inet_fixture.h"

namespace pelisto::testing {

void StatusLog::Callback(os::HINTERNET, os::DWORD_PTR context, os::DWORD status, void* info, os::DWORD length) {
  auto* log = reinterpret_cast<StatusLog*>(context);
  Event event{status, ""};
  switch (status) {
    case os::INTERNET_STATUS_RESOLVING_NAME:
    case os::INTERNET_STATUS_NAME_RESOLVED:
    case os::INTERNET_STATUS_CONNECTING_TO_SERVER:
    case os::INTERNET_STATUS_CONNECTED_TO_SERVER:
    case os::INTERNET_STATUS_REDIRECT:
      // The length counts the NUL.
      if (info != nullptr && length > 0) event.text.assign(static_cast<const char*>(info), length - 1);
      break;
    default:
      break;
  }
  {
    std::lock_guard<std::mutex> lock(log->mu);
    log->events.push_back(event);
  }
  if (log->on_status) log->on_status(status);
}

std::vector<os::DWORD> StatusLog::Codes() {
  std::lock_guard<std::mutex> lock(mu);
  std::vector<os::DWORD> codes;
  for (const Event& e : events) codes.push_back(e.status);
  return codes;
}

std::string StatusLog::TextOf(os::DWORD status) {
  std::lock_guard<std::mutex> lock(mu);
  for (const Event& e : events) {
    if (e.status == status) return e.text;
  }
  return "<none>";
}

void InetTest::SetUp() {
  ImageTest::SetUp();
  std::string error;
  ASSERT_TRUE(server_.Start(&error)) << error;
}

void InetTest::TearDown() {
  server_.Stop();
  ImageTest::TearDown();
}

void InetTest::Open(InetHandles* h, const std::string& path, os::DWORD flags, StatusLog* log, HttpServer* server,
                    os::DWORD access) {
  if (server == nullptr) server = &server_;
  h->session = os::InternetOpenA("Pelisto-Test/1.0", access, nullptr, nullptr, 0);
  ASSERT_NE(h->session, nullptr) << os::GetLastError();
  if (log != nullptr) {
    ASSERT_EQ(os::InternetSetStatusCallback(h->session, &StatusLog::Callback), nullptr);
  }
  auto context = reinterpret_cast<os::DWORD_PTR>(log);
  h->connection = os::InternetConnectA(h->session, "127.0.0.1", static_cast<os::INTERNET_PORT>(server->port()),
                                       nullptr, nullptr, os::INTERNET_SERVICE_HTTP, 0, context);
  ASSERT_NE(h->connection, nullptr) << os::GetLastError();
  const char* accept[] = {"*/*", nullptr};
  if (server->https()) flags |= os::INTERNET_FLAG_SECURE;
  h->request = os::HttpOpenRequestA(h->connection, nullptr, path.c_str(), nullptr, nullptr, accept, flags, context);
  ASSERT_NE(h->request, nullptr) << os::GetLastError();
}

os::DWORD InetTest::ReadAll(os::HINTERNET request, std::string* body, os::DWORD chunk,
                            std::vector<os::DWORD>* sizes) {
  std::vector<char> buffer(chunk);
  for (;;) {
    os::DWORD got = kSentinel;
    os::SetLastError(kSentinel);
    if (!os::InternetReadFile(request, buffer.data(), chunk, &got)) return os::GetLastError();
    if (got > chunk) return kSentinel;  // never set: a fault of its own
    if (sizes != nullptr) sizes->push_back(got);
    if (got == 0) return 0;
    body->append(buffer.data(), got);
  }
}

std::string InetTest::QueryText(os::HINTERNET request, os::DWORD level, os::DWORD* error) {
  char buffer[256];
  os::DWORD length = sizeof buffer;
  os::SetLastError(kSentinel);
  if (!os::HttpQueryInfoA(request, level, buffer, &length, nullptr)) {
    *error = os::GetLastError();
    return "";
  }
  *error = 0;
  return std::string(buffer, length);
}

}  // namespace pelisto::testing
