#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <thread>

#include "tests/os/inet_fixture.h"

namespace pelisto::testing {
namespace {

using os::DWORD;

class InetCallback : public InetTest {};

// `codes` with only the connection and exchange steps, repeats of read steps kept.
std::vector<DWORD> Steps(const std::vector<DWORD>& codes) {
  std::vector<DWORD> out;
  for (DWORD c : codes) {
    if (c != os::INTERNET_STATUS_HANDLE_CREATED && c != os::INTERNET_STATUS_HANDLE_CLOSING &&
        c != os::INTERNET_STATUS_CLOSING_CONNECTION && c != os::INTERNET_STATUS_CONNECTION_CLOSED) {
      out.push_back(c);
    }
  }
  return out;
}

TEST_F(InetCallback, ReportsTheStepsInOrderWithTheirTexts) {
  StatusLog log;
  InetHandles h;
  Open(&h, "/pattern/10", 0, &log);
  ASSERT_TRUE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0));
  std::vector<DWORD> expected = {10, 11, 20, 21, 30, 31, 40, 41};
  EXPECT_EQ(Steps(log.Codes()), expected);
  EXPECT_EQ(log.TextOf(os::INTERNET_STATUS_RESOLVING_NAME), "127.0.0.1");
  EXPECT_EQ(log.TextOf(os::INTERNET_STATUS_NAME_RESOLVED), "127.0.0.1");
  EXPECT_EQ(log.TextOf(os::INTERNET_STATUS_CONNECTING_TO_SERVER), "127.0.0.1");
  EXPECT_EQ(log.TextOf(os::INTERNET_STATUS_CONNECTED_TO_SERVER), "127.0.0.1");
  // Created handles were reported (connection and request), the closing ones are at the end.
  std::vector<DWORD> codes = log.Codes();
  EXPECT_EQ(std::count(codes.begin(), codes.end(), os::INTERNET_STATUS_HANDLE_CREATED), 2);
  os::InternetCloseHandle(h.session);
  h.session = nullptr;
  codes = log.Codes();
  EXPECT_EQ(std::count(codes.begin(), codes.end(), os::INTERNET_STATUS_HANDLE_CLOSING), 2);
  EXPECT_EQ(codes.back(), os::INTERNET_STATUS_HANDLE_CLOSING);
}

TEST_F(InetCallback, AKeptConnectionIsNotConnectedAgain) {
  StatusLog log;
  InetHandles h;
  Open(&h, "/pattern/10", 0, &log);
  ASSERT_TRUE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0));
  std::string body;
  ASSERT_EQ(ReadAll(h.request, &body), 0u);
  log.events.clear();
  ASSERT_TRUE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0));
  std::vector<DWORD> expected = {30, 31, 40, 41};
  EXPECT_EQ(Steps(log.Codes()), expected);
}

TEST_F(InetCallback, ZeroContextGetsNoCallbacks) {
  StatusLog log;
  os::HINTERNET session = os::InternetOpenA("t", os::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  ASSERT_EQ(os::InternetSetStatusCallback(session, &StatusLog::Callback), nullptr);
  os::HINTERNET connection = os::InternetConnectA(session, "127.0.0.1", static_cast<os::INTERNET_PORT>(server_.port()),
                                                  nullptr, nullptr, os::INTERNET_SERVICE_HTTP, 0, 0);
  os::HINTERNET request = os::HttpOpenRequestA(connection, nullptr, "/redirect/once", nullptr, nullptr, nullptr, 0, 0);
  ASSERT_TRUE(os::HttpSendRequestA(request, nullptr, 0, nullptr, 0));
  std::string body;
  EXPECT_EQ(ReadAll(request, &body), 0u);
  os::InternetCloseHandle(session);
  // A call would have reached the log through a null context and crashed, or been recorded.
  EXPECT_TRUE(log.Codes().empty());
}

TEST_F(InetCallback, ReadsReportReceivingWithTheByteCount) {
  StatusLog log;
  InetHandles h;
  Open(&h, "/slow/300?every_ms=5", 0, &log);
  ASSERT_TRUE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0));
  log.events.clear();
  std::string body;
  ASSERT_EQ(ReadAll(h.request, &body), 0u);
  std::vector<DWORD> codes = log.Codes();
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.front(), os::INTERNET_STATUS_RECEIVING_RESPONSE);
  // Every "receiving" is answered by "received".
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 40), std::count(codes.begin(), codes.end(), 41));
}

TEST_F(InetCallback, ClosingTheSessionClosesItsChildren) {
  InetHandles h;
  Open(&h, "/pattern/10");
  ASSERT_TRUE(os::InternetCloseHandle(h.session));
  h.session = nullptr;
  char buf[8];
  DWORD got = kSentinel;
  os::SetLastError(kSentinel);
  EXPECT_FALSE(os::InternetReadFile(h.request, buf, sizeof buf, &got));
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_HANDLE);
  os::SetLastError(kSentinel);
  EXPECT_FALSE(os::InternetCloseHandle(h.connection));
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_HANDLE);
  EXPECT_FALSE(os::InternetCloseHandle(nullptr));
}

TEST_F(InetCallback, WrongHandlesAndOptionsAreRefused) {
  InetHandles h;
  Open(&h, "/pattern/10");
  DWORD flags = os::SECURITY_FLAG_IGNORE_UNKNOWN_CA;
  struct Case {
    os::HINTERNET handle;
    DWORD option;
    DWORD length;
    DWORD error;
  } cases[] = {
      {h.session, os::INTERNET_OPTION_SECURITY_FLAGS, 4, os::ERROR_INTERNET_INCORRECT_HANDLE_TYPE},
      {h.request, os::INTERNET_OPTION_SECURITY_FLAGS, 2, os::ERROR_INTERNET_BAD_OPTION_LENGTH},
      {h.request, 9999, 4, os::ERROR_INTERNET_INVALID_OPTION},
      {reinterpret_cast<os::HINTERNET>(0x7), os::INTERNET_OPTION_SECURITY_FLAGS, 4, os::ERROR_INVALID_HANDLE},
  };
  for (const Case& c : cases) {
    os::SetLastError(kSentinel);
    EXPECT_FALSE(os::InternetSetOptionA(c.handle, c.option, &flags, c.length)) << c.option;
    EXPECT_EQ(os::GetLastError(), c.error) << c.option;
  }
  os::SetLastError(kSentinel);
  EXPECT_EQ(os::HttpOpenRequestA(h.session, nullptr, "/", nullptr, nullptr, nullptr, 0, 0), nullptr);
  EXPECT_EQ(os::GetLastError(), os::ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  EXPECT_EQ(os::InternetSetStatusCallback(reinterpret_cast<os::HINTERNET>(0x7), &StatusLog::Callback),
            os::INTERNET_INVALID_STATUS_CALLBACK);
}

TEST_F(InetCallback, CloseFromAnotherThreadUnblocksARead) {
  StatusLog log;
  InetHandles h;
  Open(&h, "/stall/body", 0, &log);
  ASSERT_TRUE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0));
  char buf[1000];
  DWORD got = 0;
  ASSERT_TRUE(os::InternetReadFile(h.request, buf, sizeof buf, &got));
  ASSERT_EQ(got, 1000u);
  // The next read blocks: it reports "receiving" just before it waits.
  std::mutex mu;
  std::condition_variable cv;
  bool waiting = false;
  log.on_status = [&](DWORD status) {
    if (status != os::INTERNET_STATUS_RECEIVING_RESPONSE) return;
    std::lock_guard<std::mutex> lock(mu);
    waiting = true;
    cv.notify_all();
  };
  os::HINTERNET request = h.request;
  std::thread closer([&] {
    std::unique_lock<std::mutex> lock(mu);
    cv.wait(lock, [&] { return waiting; });
    lock.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    os::InternetCloseHandle(request);
  });
  auto start = std::chrono::steady_clock::now();
  os::SetLastError(kSentinel);
  EXPECT_FALSE(os::InternetReadFile(h.request, buf, sizeof buf, &got));
  EXPECT_EQ(os::GetLastError(), os::ERROR_INTERNET_OPERATION_CANCELLED);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  closer.join();
  log.on_status = nullptr;
}

}  // namespace
}  // namespace pelisto::testing
