// The command line of the pelisto program: options, then one command.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "os/base/types.h"
#include "os/ui/ui_types.h"

namespace pelisto {

enum class CliCommand { kCall, kGet, kRegister, kUnregister, kRegQuery, kRegSet, kDownload, kDemo, kVersion, kHelp,
                        kSign, kKeygen };
enum class EventFormat { kText, kJson, kNone };

// The page's handler for one event: writes `value` into pCancel at the `nth` firing.
struct CancelRule {
  std::string event;  // canonical event name
  int nth = 1;
  os::LONG value = 1;
};

// How the browser the host plays connects the control (os/ui/browser/host_browser.h).
enum class BrowserMode {
  kFull,               // client site, container, services and the control's window in the page
  kNoContainer,        // the site's GetContainer fails
  kNoServiceProvider,  // the site answers no IServiceProvider
  kNoWebBrowser,       // QueryService finds no web browser service
  kNoSite,             // the control gets no client site
  kNoWindow,           // the control gets no window (no frame to climb to)
  kNone,               // neither site nor window
};

// One method call of the page's script.
struct MethodCall {
  std::string name;
  std::vector<std::string> args;
};

struct CliOptions {
  std::string prefix;
  std::vector<std::pair<std::string, std::string>> params;       // --param, in order
  std::vector<std::pair<std::string, std::string>> sets;         // --set, in order
  std::vector<std::pair<std::string, std::string>> custom_dirs;  // --custom-dir, in order
  std::optional<int> os_version;
  std::string ui = "auto";
  std::string ui_script;  // --ui-script: a headless script file (implies --ui headless)
  EventFormat events = EventFormat::kText;
  std::vector<CancelRule> cancel_rules;
  std::string page_url;                   // --page-url: the address field of the browser
  BrowserMode browser = BrowserMode::kFull;
  bool unicode_frame = true;              // --frame wide|narrow
  std::vector<os::WPARAM> sys_commands;   // --syscommand, sent to the frame after the calls

  CliCommand command = CliCommand::kHelp;
  std::string name;               // the method or property; the key for reg query / reg set;
                                  // the document for sign
  std::vector<std::string> args;  // method arguments; the value name (and data) for reg;
                                  // URL, PATH (and FILETYPE) for download
  bool number = false;            // reg set --number
  bool config_file = false;       // download --config
  bool dialogless = false;        // download --dialogless
  std::vector<MethodCall> then;   // call ... --then METHOD [ARG...]: the calls after the first
  std::string key_file;           // sign --key FILE; keygen --out FILE (the file it writes)
};

// Parses argv without the program name. Returns false and a one-line message in `error` on a
// usage error; `out` is then unspecified.
bool ParseCommandLine(const std::vector<std::string>& argv, CliOptions* out, std::string* error);

// The text of --help.
const char* UsageText();

}  // namespace pelisto
