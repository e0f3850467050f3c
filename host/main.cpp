// pelisto: plays the web page that embeds the control. It holds the page's property bag,
// calls the control's methods and properties by name, prints the events the page receives
// and answers their pCancel.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/class_registration.h"
#include "control/dispatch_table.h"
#include "control/pelisto_ctrl.h"
#include "host/argument_code_page.h"
#include "host/browser_report.h"
#include "host/cli_options.h"
#include "host/demo_command.h"
#include "host/download_command.h"
#include "host/event_printer.h"
#include "host/host_page.h"
#include "host/output_format.h"
#include "host/publisher_tool.h"
#include "host/reg_query.h"
#include "host/reg_set.h"
#include "os/base/error.h"
#include "os/base/text.h"
#include "os/com/apartment.h"
#include "os/com/hresult.h"
#include "os/image/integrity.h"
#include "os/image/machine.h"
#include "os/reg/registry.h"
#include "os/ui/front_end_select.h"

namespace pelisto {
namespace {

constexpr int kExitTrue = 0;
constexpr int kExitFalse = 1;
constexpr int kExitUsage = 2;

int Usage(const std::string& message) {
  std::fprintf(stderr, "pelisto: %s\n", message.c_str());
  return kExitUsage;
}

int Failure(const std::string& message) {
  std::fprintf(stderr, "pelisto: %s\n", message.c_str());
  return kExitFalse;
}

std::string Hex(os::HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
  return buf;
}

// The usage error for a failed dispatch call on `name`.
int DispatchUsage(const std::string& what, const std::string& name, os::HRESULT hr,
                  unsigned arg_error) {
  switch (hr) {
    case os::DISP_E_UNKNOWNNAME: return Usage("the control has no " + what + " '" + name + "'");
    case os::DISP_E_MEMBERNOTFOUND:
      return Usage("'" + name + "' is not a " + what + " of the control");
    case os::DISP_E_BADPARAMCOUNT: return Usage("wrong number of arguments for '" + name + "'");
    case os::DISP_E_TYPEMISMATCH:
    case os::DISP_E_OVERFLOW:
      return Usage("argument " + std::to_string(arg_error + 1) + " of '" + name +
                   "' has the wrong type");
    default: return Failure("'" + name + "' failed: " + Hex(hr));
  }
}

std::string CanonicalName(os::LONG id, const std::string& given) {
  const DispatchMember* member = FindMember(id);
  return member != nullptr ? member->name : given;
}

// Registration writes HKEY_CLASSES_ROOT, which needs an elevated caller from Windows 6 on;
// like regsvr32 run from an elevated prompt, the command asks for elevation first.
int Register(bool install) {
  const os::ImageSettings& image = os::CurrentMachine()->settings();
  if (image.os_major >= 6 && image.refuse_elevation) {
    return Failure("the elevation prompt was refused; the registration needs an elevated caller");
  }
  os::ImpersonationScope elevated(os::Token{os::IntegrityLevel::kHigh});
  os::LONG registry_error = os::ERROR_SUCCESS;
  os::HRESULT hr = install ? DllRegisterServer(&registry_error)
                           : DllUnregisterServer(&registry_error);
  const char* entry = install ? "DllRegisterServer" : "DllUnregisterServer";
  if (os::FAILED(hr)) {
    return Failure(std::string(entry) + " failed with " + Hex(hr) + ": " +
                   os::RegErrorText(registry_error));
  }
  std::printf("%s succeeded.\n", entry);
  return kExitTrue;
}

bool IsWindowMethod(const std::string& name) {
  for (const char* method :
       {"setStyle", "setStyle2", "setIEResizable", "protectSystemMenu", "ChangeWindowState"}) {
    if (name == method) return true;
  }
  return false;
}

// Invokes one method and prints its result line; the exit status its result calls for.
int CallOne(CPelistoCtrl& control, os::LONG id, const std::string& name,
            const std::vector<std::string>& arg_texts, bool json) {
  std::vector<os::Variant> args;
  for (const std::string& arg : arg_texts) args.push_back(os::Variant::Text(arg));
  os::Variant result;
  unsigned arg_error = 0;
  os::HRESULT hr = control.Invoke(id, DISPATCH_METHOD, args, &result, &arg_error);
  if (os::FAILED(hr)) return DispatchUsage("method", name, hr, arg_error);
  std::printf("%s\n", ResultLine(result, json).c_str());
  std::fflush(stdout);
  if (result.IsEmpty()) return kExitTrue;
  if (result.vt() == os::VT_BSTR) return result.bstrVal().empty() ? kExitFalse : kExitTrue;
  os::LONG number = 0;
  result.ToLong(&number);
  return number != 0 ? kExitTrue : kExitFalse;
}

// Loads the page's bag into the control embedded in `page`, then plays the start of its
// script: --set, --custom-dir. 0 when that went well, else the exit status.
int LoadPage(HostPage& page, CPelistoCtrl& control, const CliOptions& options) {
  PropertyBag bag;
  for (const auto& [name, value] : options.params) bag.Write(name, os::Variant::Text(value));
  control.Load(bag);
  page.Embed(control);

  unsigned arg_error = 0;
  for (const auto& [name, value] : options.sets) {
    os::LONG id = 0;
    os::HRESULT hr = GetIDsOfNames(name, &id);
    if (os::SUCCEEDED(hr)) {
      hr = control.Invoke(id, DISPATCH_PROPERTYPUT, {os::Variant::Text(value)}, nullptr,
                          &arg_error);
    }
    if (os::FAILED(hr)) return DispatchUsage("property", name, hr, arg_error);
  }
  for (const auto& [symbol, folder] : options.custom_dirs) {
    control.setCustomDir(symbol, folder);
  }
  return 0;
}

ControlOptions PageControlOptions(HostPage& page) {
  ControlOptions control_options;
  control_options.main_window = page.MainWindow();
  return control_options;
}

// The page's script: LoadPage, then the calls or the property.
int RunControl(const CliOptions& options) {
  HostPage page(options);
  CPelistoCtrl control(PageControlOptions(page));
  EventPrinter printer(stdout, options.events, options.cancel_rules);
  control.SetEventSink(&printer);
  if (int status = LoadPage(page, control, options)) return status;

  unsigned arg_error = 0;
  const bool json = options.events == EventFormat::kJson;
  if (options.command == CliCommand::kGet) {
    os::LONG id = 0;
    os::HRESULT hr = GetIDsOfNames(options.name, &id);
    if (os::FAILED(hr)) return DispatchUsage("property", options.name, hr, 0);
    const std::string name = CanonicalName(id, options.name);
    os::Variant result;
    hr = control.Invoke(id, DISPATCH_PROPERTYGET, {}, &result, &arg_error);
    if (os::FAILED(hr)) return DispatchUsage("property", name, hr, arg_error);
    // A property prints as it is: texts unquoted, BOOLs as 1 / 0.
    const std::string shown = json                          ? ResultLine(result, true)
                              : result.vt() == os::VT_BSTR ? os::AnsiToUtf8(result.bstrVal())
                                                            : TextValue(result);
    std::printf("%s\n", shown.c_str());
    return kExitTrue;
  }

  // Every name is known before the first call runs.
  std::vector<MethodCall> calls = {{options.name, options.args}};
  calls.insert(calls.end(), options.then.begin(), options.then.end());
  std::vector<os::LONG> ids;
  for (const MethodCall& call : calls) {
    os::LONG id = 0;
    os::HRESULT hr = GetIDsOfNames(call.name, &id);
    if (os::FAILED(hr)) return DispatchUsage("method", call.name, hr, 0);
    ids.push_back(id);
  }
  int status = kExitTrue;
  bool report = !options.sys_commands.empty();
  for (size_t i = 0; i < calls.size(); ++i) {
    const std::string name = CanonicalName(ids[i], calls[i].name);
    status = CallOne(control, ids[i], name, calls[i].args, json);
    if (status == kExitUsage) return status;
    report = report || IsWindowMethod(name);
    // The page's thread goes back to its message loop between script calls.
    page.PumpMessages();
  }
  for (os::WPARAM command : options.sys_commands) {
    std::printf("%s\n", SysCommandLine(command, page.SendSysCommand(command), json).c_str());
  }
  if (report) std::fputs(BrowserReport(page.browser(), json).c_str(), stdout);
  return status;
}

int Run(const std::vector<std::string>& argv) {
  CliOptions options;
  std::string error;
  if (!ParseCommandLine(argv, &options, &error)) return Usage(error);
  if (options.command == CliCommand::kHelp) {
    std::fputs(UsageText(), stdout);
    return kExitTrue;
  }
  if (options.command == CliCommand::kVersion) {
    std::printf("%s\n", kDrawingText);
    return kExitTrue;
  }

  if (options.command == CliCommand::kDemo) return RunDemo(options);
  // The publisher's tools work on host files, without a machine image.
  if (options.command == CliCommand::kSign) {
    return RunSign(options.key_file, options.name, stdout, stderr);
  }
  if (options.command == CliCommand::kKeygen) {
    return RunKeygen(options.key_file.empty() ? kDefaultKeyFile : options.key_file, stdout, stderr);
  }

  std::unique_ptr<os::Machine> machine =
      os::Machine::Open(os::ChoosePrefix(options.prefix), &error);
  if (!machine) return Failure(error);
  if (options.os_version) machine->mutable_settings().os_major = *options.os_version;
  os::SetCurrentMachine(machine.get());
  os::SetAnsiCodePage(machine->settings().code_page);
  if (!ConvertArgumentsToCodePage(&options, &error)) return Usage(error);
  if (!os::ui::SelectFrontEnd(options.ui, &error)) return Usage(error);
  if (!options.ui_script.empty() && !os::ui::LoadHeadlessScript(options.ui_script, &error)) {
    return Usage(error);
  }

  int status = kExitFalse;
  switch (options.command) {
    case CliCommand::kRegister: status = Register(true); break;
    case CliCommand::kUnregister: status = Register(false); break;
    case CliCommand::kRegQuery: {
      os::HKEY root;
      std::string subkey;
      if (!os::SplitKeyPath(options.name, &root, &subkey)) {
        status = Usage("reg query: '" + options.name + "' does not start with a root key");
        break;
      }
      std::optional<std::string> value;
      if (!options.args.empty()) value = options.args[0];
      status = RegQuery(options.name, value, stdout, stderr);
      break;
    }
    case CliCommand::kRegSet: {
      // The control is the context, as for a configuration's entry: it knows the Windows
      // version and owns the broker for the write.
      CPelistoCtrl control;
      status = RegSet(control, options.name, options.args.at(0), options.args.at(1),
                      options.number, stdout, stderr);
      break;
    }
    case CliCommand::kDownload: {
      const bool ole = os::SUCCEEDED(os::OleInitialize(nullptr));
      {
        HostPage page(options);
        CPelistoCtrl control(PageControlOptions(page));
        EventPrinter printer(stdout, options.events, options.cancel_rules);
        control.SetEventSink(&printer);
        status = LoadPage(page, control, options);
        if (status == 0) status = RunDownload(control, options, stdout) == 1 ? kExitTrue : kExitFalse;
      }
      if (ole) os::OleUninitialize();
      break;
    }
    case CliCommand::kCall:
    case CliCommand::kGet: {
      // The page's thread is a browser's user-interface thread: an OLE apartment, which the
      // control's own multithreaded initialisation then leaves as it is. Components the run
      // registers in-process need OLE on this thread.
      const bool ole = os::SUCCEEDED(os::OleInitialize(nullptr));
      status = RunControl(options);
      if (ole) os::OleUninitialize();
      break;
    }
    case CliCommand::kDemo:
    case CliCommand::kSign:
    case CliCommand::kKeygen:
    case CliCommand::kVersion:
    case CliCommand::kHelp: break;
  }
  std::fflush(stdout);
  os::SetCurrentMachine(nullptr);
  return status;
}

}  // namespace
}  // namespace pelisto

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return pelisto::Run(args);
}
