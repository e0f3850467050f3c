#include "host/cli_options.h"

#include <charconv>
#include <cstdint>
#include <string_view>

#include "control/events.h"

namespace pelisto {
namespace {

bool ParseInt(std::string_view text, long long* out) {
  if (text.empty()) return false;
  const char* first = text.data();
  if (*first == '+') ++first;
  auto [ptr, ec] = std::from_chars(first, text.data() + text.size(), *out);
  return ec == std::errc() && ptr == text.data() + text.size();
}

// NAME=VALUE with a non-empty NAME; the value may be empty.
bool SplitAssignment(const std::string& text, std::pair<std::string, std::string>* out) {
  size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  *out = {text.substr(0, eq), text.substr(eq + 1)};
  return true;
}

// EVENT[#N][=V]
bool ParseCancelRule(const std::string& text, CancelRule* rule, std::string* error) {
  std::string rule_text = text;
  size_t eq = rule_text.find('=');
  if (eq != std::string::npos) {
    long long v;
    if (!ParseInt(std::string_view(rule_text).substr(eq + 1), &v) || v < INT32_MIN || v > UINT32_MAX) {
      *error = "--cancel-on: the value after '=' must be a 32-bit number: " + text;
      return false;
    }
    rule->value = static_cast<os::LONG>(static_cast<std::uint32_t>(v));
    rule_text.resize(eq);
  }
  size_t hash = rule_text.find('#');
  if (hash != std::string::npos) {
    long long n;
    if (!ParseInt(std::string_view(rule_text).substr(hash + 1), &n) || n < 1 || n > INT32_MAX) {
      *error = "--cancel-on: the count after '#' must be 1 or more: " + text;
      return false;
    }
    rule->nth = static_cast<int>(n);
    rule_text.resize(hash);
  }
  const EventInfo* event = FindEventByName(rule_text);
  if (event == nullptr) {
    *error = "--cancel-on: unknown event '" + rule_text + "'";
    return false;
  }
  if (!event->has_cancel) {
    *error = std::string("--cancel-on: the event ") + event->name + " has no pCancel";
    return false;
  }
  rule->event = event->name;
  return true;
}

// A system command by name or number (decimal or 0x hexadecimal, 32 bits).
bool ParseSysCommand(const std::string& text, os::WPARAM* out) {
  static const std::pair<const char*, os::WPARAM> kNames[] = {
      {"minimize", 0xF020}, {"maximize", 0xF030}, {"close", 0xF060},
      {"restore", 0xF120},  {"caption-restore", 0xF122}};
  for (const auto& [name, command] : kNames) {
    if (text == name) {
      *out = command;
      return true;
    }
  }
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string_view digits = std::string_view(text).substr(hex ? 2 : 0);
  unsigned long long value = 0;
  auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, hex ? 16 : 10);
  if (digits.empty() || ec != std::errc() || ptr != digits.data() + digits.size() || value > UINT32_MAX) {
    return false;
  }
  *out = static_cast<os::WPARAM>(value);
  return true;
}

bool ParseBrowserMode(const std::string& text, BrowserMode* out) {
  static const std::pair<const char*, BrowserMode> kModes[] = {
      {"full", BrowserMode::kFull},
      {"no-container", BrowserMode::kNoContainer},
      {"no-service-provider", BrowserMode::kNoServiceProvider},
      {"no-web-browser", BrowserMode::kNoWebBrowser},
      {"no-site", BrowserMode::kNoSite},
      {"no-window", BrowserMode::kNoWindow},
      {"none", BrowserMode::kNone}};
  for (const auto& [name, mode] : kModes) {
    if (text == name) {
      *out = mode;
      return true;
    }
  }
  return false;
}

// sign --key FILE DOCUMENT; keygen [--out FILE]. The option may also be written --key=FILE.
bool ParsePublisherCommand(const std::string& word, const std::vector<std::string>& words,
                           CliOptions* out, std::string* error) {
  const bool sign = word == "sign";
  const std::string option = sign ? "--key" : "--out";
  const std::string usage = sign ? "sign takes --key FILE DOCUMENT" : "keygen takes [--out FILE]";
  std::vector<std::string> operands;
  bool have_option = false;
  for (size_t k = 0; k < words.size(); ++k) {
    const std::string& arg = words[k];
    std::string value;
    if (arg == option && k + 1 < words.size()) {
      value = words[++k];
    } else if (arg.rfind(option + "=", 0) == 0) {
      value = arg.substr(option.size() + 1);
    } else if (arg.size() > 1 && arg[0] == '-') {
      *error = usage + ", not '" + arg + "'";
      return false;
    } else {
      operands.push_back(arg);
      continue;
    }
    if (have_option || value.empty()) {
      *error = usage;
      return false;
    }
    out->key_file = value;
    have_option = true;
  }
  if (sign ? (!have_option || operands.size() != 1 || operands[0].empty()) : !operands.empty()) {
    *error = usage;
    return false;
  }
  out->command = sign ? CliCommand::kSign : CliCommand::kKeygen;
  if (sign) out->name = operands[0];
  return true;
}

// METHOD [ARG...] [--then METHOD [ARG...]]...
bool SplitCalls(const std::vector<std::string>& words, CliOptions* out, std::string* error) {
  std::vector<MethodCall> calls(1);
  for (const std::string& word : words) {
    if (word == "--then") {
      calls.emplace_back();
    } else if (calls.back().name.empty()) {
      calls.back().name = word;
    } else {
      calls.back().args.push_back(word);
    }
  }
  for (const MethodCall& call : calls) {
    if (call.name.empty()) {
      *error = "call: missing METHOD";
      return false;
    }
  }
  out->name = calls.front().name;
  out->args = calls.front().args;
  out->then.assign(calls.begin() + 1, calls.end());
  return true;
}

bool ParseCommand(const std::vector<std::string>& argv, size_t i, CliOptions* out,
                  std::string* error) {
  const std::string& word = argv[i];
  auto rest = [&](size_t from) {
    return std::vector<std::string>(argv.begin() + static_cast<std::ptrdiff_t>(from), argv.end());
  };
  if (word == "call" || word == "get") {
    if (i + 1 >= argv.size() || argv[i + 1].empty()) {
      *error = word + ": missing " + (word == "call" ? "METHOD" : "PROPERTY");
      return false;
    }
    out->command = word == "call" ? CliCommand::kCall : CliCommand::kGet;
    if (out->command == CliCommand::kCall) return SplitCalls(rest(i + 1), out, error);
    out->name = argv[i + 1];
    out->args = rest(i + 2);
    if (!out->args.empty()) {
      *error = "get takes one PROPERTY";
      return false;
    }
    return true;
  }
  if (word == "register" || word == "unregister") {
    if (i + 1 != argv.size()) {
      *error = word + " takes no arguments";
      return false;
    }
    out->command = word == "register" ? CliCommand::kRegister : CliCommand::kUnregister;
    return true;
  }
  if (word == "reg" && i + 1 < argv.size() && argv[i + 1] == "set") {
    // "--number" may stand anywhere after "set"; the rest are KEY VALUE DATA.
    std::vector<std::string> words;
    for (const std::string& arg : rest(i + 2)) {
      if (arg == "--number" && !out->number) {
        out->number = true;
      } else {
        words.push_back(arg);
      }
    }
    if (words.size() != 3 || words[0].empty()) {
      *error = "reg set takes KEY VALUE DATA [--number]";
      return false;
    }
    out->command = CliCommand::kRegSet;
    out->name = words[0];
    out->args = {words[1], words[2]};
    return true;
  }
  if (word == "reg") {
    if (i + 1 >= argv.size() || argv[i + 1] != "query") {
      *error = "reg: expected 'reg query KEY [VALUE]' or 'reg set KEY VALUE DATA [--number]'";
      return false;
    }
    if (i + 2 >= argv.size() || i + 4 < argv.size()) {
      *error = "reg query takes KEY and an optional VALUE";
      return false;
    }
    out->command = CliCommand::kRegQuery;
    out->name = argv[i + 2];
    out->args = rest(i + 3);
    return true;
  }
  if (word == "demo") {
    if (i + 1 != argv.size()) {
      *error = "demo takes no arguments";
      return false;
    }
    out->command = CliCommand::kDemo;
    return true;
  }
  if (word == "sign" || word == "keygen") return ParsePublisherCommand(word, rest(i + 1), out, error);
  if (word == "download") {
    std::vector<std::string> words;
    for (const std::string& arg : rest(i + 1)) {
      if (arg == "--config" && !out->config_file) {
        out->config_file = true;
      } else if (arg == "--dialogless" && !out->dialogless) {
        out->dialogless = true;
      } else {
        words.push_back(arg);
      }
    }
    const size_t most = out->config_file ? 2 : 3;
    if (words.size() < 2 || words.size() > most || words[0].empty() || words[1].empty()) {
      *error = "download takes URL PATH [FILETYPE] [--config] [--dialogless] (no FILETYPE with --config)";
      return false;
    }
    out->command = CliCommand::kDownload;
    out->args = words;
    return true;
  }
  *error = "unknown command '" + word + "'";
  return false;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& argv, CliOptions* out, std::string* error) {
  *out = CliOptions();
  for (size_t i = 0; i < argv.size(); ++i) {
    std::string arg = argv[i];
    if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) return ParseCommand(argv, i, out, error);
    if (arg == "--version" || arg == "--help") {
      if (i + 1 != argv.size()) {
        *error = arg + " takes no command";
        return false;
      }
      out->command = arg == "--version" ? CliCommand::kVersion : CliCommand::kHelp;
      return true;
    }
    std::string value;
    size_t eq = arg.find('=');
    if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
    } else {
      if (i + 1 >= argv.size()) {
        *error = arg + " needs a value";
        return false;
      }
      value = argv[++i];
    }
    std::pair<std::string, std::string> pair;
    if (arg == "--prefix") {
      if (value.empty()) {
        *error = "--prefix needs a folder";
        return false;
      }
      out->prefix = value;
    } else if (arg == "--param" || arg == "--set" || arg == "--custom-dir") {
      if (!SplitAssignment(value, &pair)) {
        *error = arg + " expects NAME=VALUE, got '" + value + "'";
        return false;
      }
      (arg == "--param" ? out->params : arg == "--set" ? out->sets : out->custom_dirs)
          .push_back(std::move(pair));
    } else if (arg == "--os-version") {
      long long major;
      if (!ParseInt(value, &major) || major < 1 || major > 99) {
        *error = "--os-version expects a major version number, got '" + value + "'";
        return false;
      }
      out->os_version = static_cast<int>(major);
    } else if (arg == "--ui") {
      if (value != "auto" && value != "tty" && value != "headless" && value != "none") {
        *error = "--ui expects auto, tty, headless or none, got '" + value + "'";
        return false;
      }
      out->ui = value;
    } else if (arg == "--ui-script") {
      out->ui_script = value;
      out->ui = "headless";
    } else if (arg == "--events") {
      if (value == "text") {
        out->events = EventFormat::kText;
      } else if (value == "json") {
        out->events = EventFormat::kJson;
      } else if (value == "none") {
        out->events = EventFormat::kNone;
      } else {
        *error = "--events expects text, json or none, got '" + value + "'";
        return false;
      }
    } else if (arg == "--page-url") {
      out->page_url = value;
    } else if (arg == "--browser") {
      if (!ParseBrowserMode(value, &out->browser)) {
        *error = "--browser expects full, no-container, no-service-provider, no-web-browser, "
                 "no-site, no-window or none, got '" + value + "'";
        return false;
      }
    } else if (arg == "--frame") {
      if (value != "wide" && value != "narrow") {
        *error = "--frame expects wide or narrow, got '" + value + "'";
        return false;
      }
      out->unicode_frame = value == "wide";
    } else if (arg == "--syscommand") {
      os::WPARAM command = 0;
      if (!ParseSysCommand(value, &command)) {
        *error = "--syscommand expects minimize, maximize, close, restore, caption-restore or a "
                 "32-bit number, got '" + value + "'";
        return false;
      }
      out->sys_commands.push_back(command);
    } else if (arg == "--cancel-on") {
      CancelRule rule;
      if (!ParseCancelRule(value, &rule, error)) return false;
      out->cancel_rules.push_back(rule);
    } else {
      *error = "unknown option '" + arg + "'";
      return false;
    }
  }
  *error = "missing command (try --help)";
  return false;
}

const char* UsageText() {
  return R"(usage: pelisto [OPTIONS] call METHOD [ARG...]
           invoke a method by name; prints "result: VALUE" ("result: none" for a method
           without a result)
       pelisto [OPTIONS] call METHOD [ARG...] --then METHOD [ARG...] [--then ...]
           several calls in order, in one page (the control lives on between them); the
           exit status is the last call's. After a window method (setStyle, setStyle2,
           setIEResizable, protectSystemMenu, ChangeWindowState) or with --syscommand, the
           browser's state and its recorded calls are printed after the calls
       pelisto [OPTIONS] get PROPERTY
           print a property after the property exchange
       pelisto [OPTIONS] register|unregister
           the control's class registration in the image
       pelisto [OPTIONS] reg query KEY [VALUE]
           print a key's values, or one value, of the image's registry
       pelisto [OPTIONS] reg set KEY VALUE DATA [--number]
           write one value as a configuration's registry entry does, then print it as
           reg query does. KEY is ROOT\SUBKEY; ROOT is HKEY_CLASSES_ROOT,
           HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS or HKEY_CURRENT_CONFIG in any
           case, or HKCR, HKCU, HKLM, HKU, HKCC (a configuration's regRoot knows only the
           full names). Missing keys are created; VALUE "" is the key's default value.
           DATA is stored as REG_SZ; with --number as REG_DWORD of its leading decimal
           digits ("12abc" is 12, "abc" is 0). On Windows 6 and later (--os-version, the
           image's os_version) the elevated broker writes the value, as for the control:
           the elevation prompt is asked and, refused, nothing is written (exit 1).
           Before Windows 6 the value is written directly.
       pelisto [OPTIONS] download URL PATH [FILETYPE] [--config] [--dialogless]
           the download step of a content entry (with --config: of the configuration
           file) from URL to PATH, a Windows-form path of the image; prints "result: N",
           1 downloaded, 0 failed or cancelled, -1 skipped. The download dialog shows the
           transfer unless --dialogless (or, with --config, dlgNotClose) says otherwise;
           FILETYPE "zip" unpacks the archive beside PATH. With --param selfUi=1 and
           --param dlgNotClose=1 the run's status dialog stays up meanwhile.
       pelisto [--prefix DIR] [--os-version N] [--ui MODE] demo
           the update run end to end: a sample site served from 127.0.0.1, a fresh
           machine image (a new temporary folder unless --prefix names an empty or missing
           one), three getConfig runs (everything installed; nothing changed; one entry
           upgraded and one file deleted), each summarised and checked. Exit 0 only when all
           three did what they should
       pelisto sign --key FILE DOCUMENT
           the publisher's signature of a configuration: signs the exact bytes of
           DOCUMENT (a host file) with the Ed25519 private key in FILE (PEM) and writes
           DOCUMENT.sig, one line of base64, to publish beside it
       pelisto keygen [--out FILE]
           a new Ed25519 key pair: the private key to FILE (default
           pelisto-signing-key.pem; PKCS#8 PEM, mode 0600, an existing file is never
           replaced) and the public key's base64 on standard output, the value of the
           page's param configPublicKey
       pelisto --version | --help

options:
  --prefix DIR            the machine image (default: $PELISTO_PREFIX, else
                          $XDG_DATA_HOME/pelisto/machine)
  --param NAME=VALUE      a value of the page's property bag, exchanged at load (repeatable)
  --set PROPERTY=VALUE    set a property from script after load (repeatable)
  --custom-dir SYMBOL=FOLDER
                          setCustomDir before the command (repeatable)
  --os-version MAJOR      the Windows major version the image reports for this run
  --ui auto|tty|headless|none
                          how dialogs and message boxes are shown and answered
  --ui-script FILE        answer boxes and dialogs from a headless script (implies --ui
                          headless; the format is described in os/ui/headless_script.h)
  --events text|json|none how the page's events and the result are printed
  --cancel-on EVENT[#N][=V]
                          the page's handler writes V (default 1) into pCancel at the N-th
                          EVENT (default the first) (repeatable)
  --page-url URL          the page address in the browser's address field (default: none)
  --browser MODE          how the browser holds the control: full (default), no-container,
                          no-service-provider, no-web-browser, no-site, no-window or none
  --frame wide|narrow     the frame window's procedure is wide (default) or narrow
  --syscommand CMD        after the calls, send WM_SYSCOMMAND CMD to the frame and print
                          whether the frame's own procedure got it; CMD is minimize,
                          maximize, close, restore, caption-restore or a number (repeatable)

exit status: 0 when the (last) method returned non-zero or nothing, 1 when it returned
0/FALSE or the command failed, 2 on a usage error
)";
}

}  // namespace pelisto
