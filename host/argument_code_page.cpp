#include "host/argument_code_page.h"

#include "os/base/text.h"

namespace pelisto {
namespace {

bool Convert(std::string* text, const std::string& what, std::string* error) {
  std::u16string wide;
  std::string ansi;
  if (!os::MultiByteToWide(*text, &wide, os::CP_UTF8) || !os::WideToMultiByte(wide, &ansi)) {
    *error = what + ": '" + *text + "' cannot be written in the image's code page " +
             std::to_string(os::GetACP());
    return false;
  }
  *text = std::move(ansi);
  return true;
}

}  // namespace

bool ConvertArgumentsToCodePage(CliOptions* options, std::string* error) {
  for (auto* list : {&options->params, &options->sets, &options->custom_dirs}) {
    const std::string what = list == &options->params ? "--param"
                             : list == &options->sets ? "--set"
                                                      : "--custom-dir";
    for (auto& [name, value] : *list) {
      if (!Convert(&name, what, error) || !Convert(&value, what, error)) return false;
    }
  }
  if (!Convert(&options->page_url, "--page-url", error)) return false;
  if (options->command != CliCommand::kCall && options->command != CliCommand::kDownload) {
    return true;
  }
  for (std::string& arg : options->args) {
    if (!Convert(&arg, options->name.empty() ? "argument" : options->name, error)) return false;
  }
  for (MethodCall& call : options->then) {
    for (std::string& arg : call.args) {
      if (!Convert(&arg, call.name, error)) return false;
    }
  }
  return true;
}

}  // namespace pelisto
