#include "os/image/win_path.h"

#include "os/base/error.h"
#include "os/base/text.h"

namespace os {
namespace {
bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsBadNameChar(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u < 32 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' || c == '*';
}
}  // namespace

std::string WinPath::ToString() const {
  std::string s;
  s.push_back(drive);
  s += ":\\";
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) s.push_back('\\');
    s += parts[i];
  }
  return s;
}

WinPath WinPath::Parent() const {
  WinPath p = *this;
  if (!p.parts.empty()) p.parts.pop_back();
  return p;
}

bool WinPath::IsWithin(const WinPath& folder) const {
  if (drive != folder.drive || parts.size() < folder.parts.size()) return false;
  for (size_t i = 0; i < folder.parts.size(); ++i) {
    if (!EqualsIgnoreCase(parts[i], folder.parts[i])) return false;
  }
  return true;
}

DWORD ParseWinPath(std::string_view text, WinPath* out) {
  if (text.empty()) return ERROR_PATH_NOT_FOUND;
  if (text.size() >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
  if (text.size() >= 2 && IsSeparator(text[0]) && IsSeparator(text[1])) return ERROR_INVALID_NAME;
  char letter = text[0];
  bool has_drive = text.size() >= 2 && text[1] == ':' &&
                   ((letter >= 'a' && letter <= 'z') || (letter >= 'A' && letter <= 'Z'));
  if (!has_drive) return ERROR_PATH_NOT_FOUND;
  WinPath result;
  result.drive = static_cast<char>(letter >= 'a' ? letter - 'a' + 'A' : letter);
  // "C:name" is relative to the drive's current directory, which is its root here.
  std::string_view rest = text.substr(2);
  size_t pos = 0;
  while (pos <= rest.size()) {
    size_t end = pos;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    std::string part(rest.substr(pos, end - pos));
    pos = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!result.parts.empty()) result.parts.pop_back();
      continue;
    }
    for (char c : part) {
      if (IsBadNameChar(c)) return ERROR_INVALID_NAME;
    }
    // Windows drops trailing dots and blanks of a name ("a. " names "a").
    while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
    if (part.empty()) continue;
    if (part.size() > 255) return ERROR_FILENAME_EXCED_RANGE;
    result.parts.push_back(std::move(part));
  }
  if (result.ToString().size() >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
  *out = std::move(result);
  return ERROR_SUCCESS;
}

bool IsPlainFileName(std::string_view name) {
  bool only_dots_and_blanks = true;
  for (char c : name) {
    if (IsSeparator(c) || IsBadNameChar(c) || c == 0x7F) return false;
    if (c != '.' && c != ' ') only_dots_and_blanks = false;
  }
  return !name.empty() && !only_dots_and_blanks;
}

std::string JoinWinPath(std::string_view base, std::string_view name) {
  std::string s(base);
  if (!s.empty() && !IsSeparator(s.back())) s.push_back('\\');
  s += name;
  return s;
}

}  // namespace os
