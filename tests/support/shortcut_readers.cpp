#include "tests/support/shortcut_readers.h"

#include <cstdio>
#include <sstream>

namespace pelisto::testing {
namespace {

std::string Trim(const std::string& s) {
  const std::size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  const std::size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

std::string Quote(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace

LnkInfo ReadWithLnkinfo(const std::string& host_path) {
  LnkInfo info;
  std::FILE* pipe = ::popen(("lnkinfo " + Quote(host_path) + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return info;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) info.output.append(buffer, n);
  const int status = ::pclose(pipe);
  info.status = status >= 0 && (status & 0x7F) == 0 ? (status >> 8) & 0xFF : -1;
  std::istringstream lines(info.output);
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string key = Trim(line.substr(0, colon));
    std::string value = line.substr(colon + 1);
    if (!value.empty() && value[0] == ' ') value.erase(0, 1);
    if (!key.empty()) info.fields[key] = value;
  }
  return info;
}

std::map<std::string, std::string> IniSection(const std::string& text, const std::string& section) {
  std::map<std::string, std::string> values;
  std::istringstream lines(text);
  std::string line;
  bool inside = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '[') {
      inside = line == "[" + section + "]";
      continue;
    }
    const std::size_t eq = line.find('=');
    if (inside && eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

}  // namespace pelisto::testing
