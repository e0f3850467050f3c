#include "os/ui/headless_script.h"

#include <charconv>
#include <optional>

#include "os/base/text.h"
#include "os/ui/ui_types.h"

namespace os::ui {
namespace {

struct Token {
  std::string text;
  bool quoted = false;
};

// Splits one line into words and quoted texts; false with `error` on a broken quote.
bool Tokenize(std::string_view line, std::vector<Token>* tokens, std::string* error) {
  size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
      continue;
    }
    if (c == '#') break;
    Token t;
    if (c == '"') {
      t.quoted = true;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char d = line[i++];
        if (d == '"') {
          closed = true;
          break;
        }
        if (d != '\\') {
          t.text += d;
          continue;
        }
        if (i >= line.size()) break;
        char e = line[i++];
        switch (e) {
          case 'n': t.text += '\n'; break;
          case 't': t.text += '\t'; break;
          case 'r': t.text += '\r'; break;
          case 'a': t.text += '\a'; break;
          case '"': t.text += '"'; break;
          case '\\': t.text += '\\'; break;
          default:
            *error = std::string("unknown escape \\") + e;
            return false;
        }
      }
      if (!closed) {
        *error = "unterminated quoted text";
        return false;
      }
      t.text = Utf8ToAnsi(t.text);
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
        t.text += line[i++];
      }
    }
    tokens->push_back(std::move(t));
  }
  return true;
}

std::optional<long long> Number(const Token& t) {
  if (t.quoted || t.text.empty()) return std::nullopt;
  long long v = 0;
  const char* end = t.text.data() + t.text.size();
  auto [p, ec] = std::from_chars(t.text.data(), end, v);
  if (ec != std::errc() || p != end) return std::nullopt;
  return v;
}

class LineParser {
 public:
  LineParser(const std::vector<Token>& tokens, std::string* error) : tokens_(tokens), error_(error) {}

  bool AtEnd() const { return pos_ >= tokens_.size(); }
  const Token* Next() { return AtEnd() ? nullptr : &tokens_[pos_++]; }

  bool Word(std::string* out, const char* what) {
    const Token* t = Next();
    if (t == nullptr || t->quoted) return Fail(std::string("expected ") + what);
    *out = t->text;
    return true;
  }
  bool Quoted(std::string* out, const char* what) {
    const Token* t = Next();
    if (t == nullptr || !t->quoted) return Fail(std::string("expected a quoted ") + what);
    *out = t->text;
    return true;
  }
  bool Int(long long min, long long max, long long* out, const char* what) {
    const Token* t = Next();
    std::optional<long long> v = t ? Number(*t) : std::nullopt;
    if (!v || *v < min || *v > max) return Fail(std::string("expected ") + what);
    *out = *v;
    return true;
  }
  bool Fail(std::string message) {
    *error_ = std::move(message);
    return false;
  }

 private:
  const std::vector<Token>& tokens_;
  size_t pos_ = 0;
  std::string* error_;
};

bool ParseBox(LineParser& p, BoxRule* rule) {
  std::string word;
  if (!p.Word(&word, "an answer")) return false;
  rule->answer = ParseAnswerWord(word);
  if (rule->answer < 0) return p.Fail("unknown answer '" + word + "'");
  while (!p.AtEnd()) {
    if (!p.Word(&word, "if, caption, nth or repeat")) return false;
    long long n = 0;
    if (word == "if") {
      if (!p.Quoted(&rule->text, "text")) return false;
      rule->has_text = true;
    } else if (word == "caption") {
      if (!p.Quoted(&rule->caption, "caption")) return false;
      rule->has_caption = true;
    } else if (word == "nth") {
      if (!p.Int(1, 1000000, &n, "a count from 1")) return false;
      rule->nth = static_cast<int>(n);
    } else if (word == "repeat") {
      rule->repeat = true;
    } else {
      return p.Fail("unknown word '" + word + "'");
    }
  }
  return true;
}

bool ParsePress(LineParser& p, PressRule* rule) {
  std::string word;
  if (!p.Word(&word, "a button id or esc")) return false;
  if (word == "esc") {
    rule->button = kPressEscape;
  } else {
    Token t{word, false};
    std::optional<long long> id = Number(t);
    if (!id || *id < 0 || *id > 0xFFFF) return p.Fail("expected a button id or esc");
    rule->button = static_cast<int>(*id);
  }
  if (!p.Word(&word, "on") || word != "on") return p.Fail("expected on");
  if (!p.Quoted(&rule->title, "title")) return false;
  while (!p.AtEnd()) {
    if (!p.Word(&word, "appear, progress, percent or repeat")) return false;
    long long n = 0;
    if (word == "appear") {
      if (!p.Int(1, 1000000, &n, "a count from 1")) return false;
      rule->appear = static_cast<int>(n);
    } else if (word == "progress") {
      if (!p.Int(0, 0xFFFF, &n, "a control id")) return false;
      rule->progress_control = static_cast<int>(n);
      if (!p.Int(-2147483647LL - 1, 2147483647LL, &n, "a position")) return false;
      rule->progress_position = static_cast<int>(n);
      rule->has_progress = true;
      rule->progress_is_percent = false;
    } else if (word == "percent") {
      if (!p.Int(0, 0xFFFF, &n, "a control id")) return false;
      rule->progress_control = static_cast<int>(n);
      if (!p.Int(0, 100, &n, "a percent from 0 to 100")) return false;
      rule->progress_position = static_cast<int>(n);
      rule->has_progress = true;
      rule->progress_is_percent = true;
    } else if (word == "repeat") {
      rule->repeat = true;
    } else {
      return p.Fail("unknown word '" + word + "'");
    }
  }
  return true;
}

bool ParseFail(LineParser& p, FailRule* rule) {
  if (!p.Quoted(&rule->title, "title")) return false;
  std::string word;
  while (!p.AtEnd()) {
    if (!p.Word(&word, "nth")) return false;
    long long n = 0;
    if (word != "nth") return p.Fail("unknown word '" + word + "'");
    if (!p.Int(1, 1000000, &n, "a count from 1")) return false;
    rule->nth = static_cast<int>(n);
  }
  return true;
}

bool ParseLine(const std::vector<Token>& tokens, int line_no, HeadlessScript* s, std::string* error) {
  LineParser p(tokens, error);
  std::string verb;
  if (!p.Word(&verb, "a directive")) return false;
  if (verb == "box") {
    BoxRule r;
    r.line = line_no;
    if (!ParseBox(p, &r)) return false;
    s->boxes.push_back(std::move(r));
  } else if (verb == "press") {
    PressRule r;
    r.line = line_no;
    if (!ParsePress(p, &r)) return false;
    s->presses.push_back(std::move(r));
  } else if (verb == "fail") {
    FailRule r;
    r.line = line_no;
    if (!ParseFail(p, &r)) return false;
    s->fails.push_back(std::move(r));
  } else if (verb == "timeout") {
    long long ms = 0;
    if (!p.Int(0, 3600000, &ms, "milliseconds")) return false;
    s->timeout_ms = static_cast<DWORD>(ms);
  } else if (verb == "transcript") {
    const Token* t = p.Next();
    if (t == nullptr) return p.Fail("expected stderr or a quoted file");
    if (!t->quoted && t->text == "stderr") {
      s->transcript = "-";
    } else if (t->quoted && !t->text.empty()) {
      s->transcript = t->text;
    } else {
      return p.Fail("expected stderr or a quoted file");
    }
  } else {
    return p.Fail("unknown directive '" + verb + "'");
  }
  if (!p.AtEnd()) return p.Fail("unexpected text after the directive");
  return true;
}

}  // namespace

int ParseAnswerWord(std::string_view word) {
  static constexpr std::pair<std::string_view, int> kWords[] = {
      {"default", 0}, {"ok", IDOK},         {"cancel", IDCANCEL},     {"abort", IDABORT},
      {"retry", IDRETRY}, {"ignore", IDIGNORE}, {"yes", IDYES}, {"no", IDNO},
      {"tryagain", IDTRYAGAIN}, {"continue", IDCONTINUE}};
  for (const auto& [name, id] : kWords) {
    if (EqualsIgnoreCase(word, name)) return id;
  }
  Token t{std::string(word), false};
  std::optional<long long> n = Number(t);
  if (n && *n >= 1 && *n <= 0xFFFF) return static_cast<int>(*n);
  return -2;
}

bool ParseHeadlessScript(std::string_view text, HeadlessScript* script, std::string* error) {
  HeadlessScript parsed;
  int line_no = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    ++line_no;
    std::vector<Token> tokens;
    std::string reason;
    if (!Tokenize(line, &tokens, &reason) ||
        (!tokens.empty() && !ParseLine(tokens, line_no, &parsed, &reason))) {
      *error = "line " + std::to_string(line_no) + ": " + reason;
      return false;
    }
    start = end + 1;
  }
  *script = std::move(parsed);
  return true;
}

}  // namespace os::ui
