// The debugger output of the process (OutputDebugStringA): kept for tests to read, and
// copied to stderr when asked.
#pragma once

#include <string>
#include <vector>

namespace os {

void OutputDebugStringA(const std::string& text);

// Every text sent since the last Clear, in order. Thread-safe.
std::vector<std::string> DebugOutput();
void ClearDebugOutput();
void SetDebugOutputToStderr(bool on);

}  // namespace os
