#include "os/inet/response_headers.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/inet/wininet.h"

namespace os::inet {
namespace {

constexpr DWORD kModifierMask = 0xFFFF0000;

struct LevelName {
  DWORD level;
  const char* name;
};

// Info levels that name one response header.
constexpr LevelName kHeaderLevels[] = {
    {1, "Content-Type"},      {2, "Content-Transfer-Encoding"}, {5, "Content-Length"},
    {6, "Content-Language"},  {7, "Allow"},                     {9, "Date"},
    {10, "Expires"},          {11, "Last-Modified"},            {17, "Pragma"},
    {23, "Connection"},       {29, "Content-Encoding"},         {33, "Location"},
    {36, "Retry-After"},      {37, "Server"},                   {40, "WWW-Authenticate"},
    {41, "Proxy-Authenticate"}, {42, "Accept-Ranges"},          {43, "Set-Cookie"},
    {47, "Content-Disposition"}, {53, "Content-Range"},         {54, "ETag"},
    {63, "Transfer-Encoding"},
};

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// Copies `value` out as WinINet does: text with a NUL, or its number as a DWORD.
DWORD CopyOut(std::string_view value, bool as_number, void* buffer, DWORD* buffer_length) {
  if (as_number) {
    DWORD number = 0;
    std::string_view digits = Trim(value);
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (ec != std::errc() || end != digits.data() + digits.size()) return ERROR_HTTP_INVALID_HEADER;
    if (buffer == nullptr || *buffer_length < sizeof(DWORD)) {
      *buffer_length = sizeof(DWORD);
      return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memcpy(buffer, &number, sizeof number);
    *buffer_length = sizeof(DWORD);
    return ERROR_SUCCESS;
  }
  DWORD needed = static_cast<DWORD>(value.size() + 1);
  if (buffer == nullptr || *buffer_length < needed) {
    *buffer_length = needed;
    return ERROR_INSUFFICIENT_BUFFER;
  }
  std::memcpy(buffer, value.data(), value.size());
  static_cast<char*>(buffer)[value.size()] = '\0';
  *buffer_length = static_cast<DWORD>(value.size());
  return ERROR_SUCCESS;
}

}  // namespace

void ResponseHeaders::Clear() {
  status_code_ = 0;
  version_.clear();
  status_text_.clear();
  raw_.clear();
  fields_.clear();
}

bool ResponseHeaders::Parse(std::string_view block) {
  ResponseHeaders parsed;
  bool first = true;
  while (!block.empty()) {
    size_t eol = block.find('\n');
    std::string_view line = block.substr(0, eol);
    block.remove_prefix(eol == std::string_view::npos ? block.size() : eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;
    if (first) {
      first = false;
      // "HTTP/1.1 200 OK"; HTTP/2 has no reason phrase.
      if (line.substr(0, 5) != "HTTP/") return false;
      size_t sp = line.find(' ');
      if (sp == std::string_view::npos) return false;
      parsed.version_ = std::string(line.substr(0, sp));
      std::string_view rest = Trim(line.substr(sp + 1));
      int code = 0;
      auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), code);
      if (ec != std::errc() || end - rest.data() != 3 || code < 100) return false;
      parsed.status_code_ = code;
      parsed.status_text_ = std::string(Trim(rest.substr(3)));
    } else if ((line.front() == ' ' || line.front() == '\t') && !parsed.fields_.empty()) {
      std::string& value = parsed.fields_.back().second;
      value += ' ';
      value += Trim(line);
    } else {
      size_t colon = line.find(':');
      if (colon == std::string_view::npos) continue;  // not a header; WinINet skips it too
      parsed.fields_.emplace_back(std::string(Trim(line.substr(0, colon))),
                                  std::string(Trim(line.substr(colon + 1))));
    }
    parsed.raw_.append(line);
    parsed.raw_.append("\r\n");
  }
  if (parsed.status_code_ == 0) return false;
  *this = std::move(parsed);
  return true;
}

const std::string* ResponseHeaders::Find(std::string_view name, DWORD index) const {
  for (const auto& [field, value] : fields_) {
    if (EqualsIgnoreCase(field, name) && index-- == 0) return &value;
  }
  return nullptr;
}

bool ResponseHeaders::HasSoundLength() const {
  std::optional<std::uint64_t> length;
  bool transfer_coded = false;
  // One pass: a flood of header lines costs no more than reading them.
  for (const auto& [field, value] : fields_) {
    if (EqualsIgnoreCase(field, "Transfer-Encoding")) {
      transfer_coded = true;
      continue;
    }
    if (!EqualsIgnoreCase(field, "Content-Length")) continue;
    std::uint64_t number = 0;
    auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (value.empty() || ec != std::errc() || end != value.data() + value.size() ||
        number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) ||
        (length.has_value() && *length != number)) {
      return false;
    }
    length = number;
  }
  // With both, the body is framed by its coding while the length reported says otherwise.
  return !(transfer_coded && length.has_value());
}

DWORD ResponseHeaders::Query(DWORD info_level, void* buffer, DWORD* buffer_length,
                             DWORD* index) const {
  if (buffer_length == nullptr) return ERROR_INVALID_PARAMETER;
  DWORD level = info_level & ~kModifierMask;
  DWORD modifiers = info_level & kModifierMask;
  bool as_number = (modifiers & HTTP_QUERY_FLAG_NUMBER) != 0;
  // Request headers, SYSTEMTIME answers and the rest are not kept.
  if ((modifiers & ~HTTP_QUERY_FLAG_NUMBER) != 0) {
    return ERROR_HTTP_INVALID_QUERY_REQUEST;
  }
  if (empty()) return ERROR_INTERNET_INCORRECT_HANDLE_STATE;

  switch (level) {
    case HTTP_QUERY_STATUS_CODE:
      return CopyOut(std::to_string(status_code_), as_number, buffer, buffer_length);
    case HTTP_QUERY_VERSION:
      return CopyOut(version_, as_number, buffer, buffer_length);
    case HTTP_QUERY_STATUS_TEXT:
      return CopyOut(status_text_, as_number, buffer, buffer_length);
    case HTTP_QUERY_RAW_HEADERS_CRLF:
      return CopyOut(raw_ + "\r\n", as_number, buffer, buffer_length);
    default:
      break;
  }

  std::string name;
  if (level == HTTP_QUERY_CUSTOM) {
    if (buffer == nullptr) return ERROR_INVALID_PARAMETER;
    const char* text = static_cast<const char*>(buffer);
    name.assign(text, strnlen(text, *buffer_length));
    if (name.empty()) return ERROR_INVALID_PARAMETER;
  } else {
    for (const LevelName& row : kHeaderLevels) {
      if (row.level == level) name = row.name;
    }
    if (name.empty()) return ERROR_HTTP_HEADER_NOT_FOUND;
  }
  DWORD wanted = index != nullptr ? *index : 0;
  const std::string* value = Find(name, wanted);
  if (value == nullptr) return ERROR_HTTP_HEADER_NOT_FOUND;
  DWORD rc = CopyOut(*value, as_number, buffer, buffer_length);
  if (rc == ERROR_SUCCESS && index != nullptr) *index = wanted + 1;
  return rc;
}

}  // namespace os::inet
