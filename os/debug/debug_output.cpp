#include "os/debug/debug_output.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace os {
namespace {
std::mutex g_mu;
std::vector<std::string> g_lines;
std::atomic<bool> g_to_stderr{false};
}  // namespace

void OutputDebugStringA(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(g_mu);
    g_lines.push_back(text);
  }
  if (g_to_stderr.load()) std::fprintf(stderr, "debug: %s\n", text.c_str());
}

std::vector<std::string> DebugOutput() {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_lines;
}

void ClearDebugOutput() {
  std::lock_guard<std::mutex> lock(g_mu);
  g_lines.clear();
}

void SetDebugOutputToStderr(bool on) { g_to_stderr.store(on); }

}  // namespace os
