// pelisto-test-server: the loopback test server as a program, for tests that drive other
// processes against it.
//
//   pelisto-test-server [--root DIR] [--https [--cert valid|wrong-name|expired]]
//                       [--port-file FILE] [--stop-on-eof] [--max-seconds N]
//
// Prints the base URL ("http://127.0.0.1:PORT") on a line of its own once it accepts
// connections (and writes the port to FILE when asked), then serves until SIGINT or SIGTERM,
// until standard input ends (with --stop-on-eof), or for at most N seconds (default 600).
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "tests/support/http_server.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

int Usage() {
  std::cerr << "usage: pelisto-test-server [--root DIR] [--https [--cert valid|wrong-name|expired]]\n"
               "                           [--port-file FILE] [--stop-on-eof] [--max-seconds N]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using pelisto::testing::CertKind;
  pelisto::testing::HttpServer::Options options;
  std::string port_file;
  bool stop_on_eof = false;
  long max_seconds = 600;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool has_value = i + 1 < argc;
    if (arg == "--root" && has_value) {
      options.root = argv[++i];
    } else if (arg == "--https") {
      options.https = true;
    } else if (arg == "--cert" && has_value) {
      std::string kind = argv[++i];
      if (kind == "valid") {
        options.cert = CertKind::kValid;
      } else if (kind == "wrong-name") {
        options.cert = CertKind::kWrongName;
      } else if (kind == "expired") {
        options.cert = CertKind::kExpired;
      } else {
        return Usage();
      }
    } else if (arg == "--port-file" && has_value) {
      port_file = argv[++i];
    } else if (arg == "--stop-on-eof") {
      stop_on_eof = true;
    } else if (arg == "--max-seconds" && has_value) {
      max_seconds = std::stol(argv[++i]);
    } else {
      return Usage();
    }
  }

  pelisto::testing::HttpServer server(options);
  std::string error;
  if (!server.Start(&error)) {
    std::cerr << "pelisto-test-server: " << error << "\n";
    return 1;
  }
  if (!port_file.empty()) {
    std::ofstream(port_file) << server.port() << "\n";
  }
  std::cout << server.Url("") << std::endl;

  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::atomic<bool> input_ended{false};
  if (stop_on_eof) {
    std::thread([&input_ended] {
      char buf[256];
      while (std::fread(buf, 1, sizeof buf, stdin) > 0) {
      }
      input_ended = true;
    }).detach();
  }
  auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(max_seconds);
  while (g_stop == 0 && !input_ended && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  server.Stop();
  return 0;
}
