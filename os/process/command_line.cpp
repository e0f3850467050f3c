#include "os/process/command_line.h"

namespace os {
namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  size_t i = 0;
  while (i < line.size() && IsBlank(line[i])) ++i;
  if (i == line.size()) return args;

  std::string program;
  bool quoted = false;
  for (; i < line.size(); ++i) {
    char c = line[i];
    if (c == '"') {
      quoted = !quoted;
      continue;
    }
    if (!quoted && IsBlank(c)) break;
    program.push_back(c);
  }
  args.push_back(std::move(program));

  quoted = false;
  for (;;) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i == line.size()) break;
    std::string arg;
    while (i < line.size()) {
      size_t slashes = 0;
      while (i < line.size() && line[i] == '\\') ++i, ++slashes;
      if (i < line.size() && line[i] == '"') {
        arg.append(slashes / 2, '\\');
        if (slashes % 2 == 1) {
          arg.push_back('"');
        } else if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          arg.push_back('"');
          ++i;
        } else {
          quoted = !quoted;
        }
        ++i;
        continue;
      }
      arg.append(slashes, '\\');
      if (i == line.size() || (!quoted && IsBlank(line[i]))) break;
      arg.push_back(line[i++]);
    }
    args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace os
