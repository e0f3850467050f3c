#include "actions/registration.h"

#include "engine/folder_symbols.h"
#include "os/base/text.h"
#include "os/com/hresult.h"
#include "platform/self_registration.h"

namespace pelisto {
namespace {

// The texts of one direction of RegisterComponent / UnregisterComponent.
struct RegistrationTexts {
  const char* start;
  const char* end;
  const char* message;
  const char* failed;
};

constexpr RegistrationTexts kRegisterTexts{
    " Start regsvr32 - ", " End regsvr32 - ",
    "regsvr32 failed... Try Again and Check log file", " dll/ocx set registry failed !!!"};
constexpr RegistrationTexts kUnregisterTexts{
    " Start Unregsvr32 - ", " End Unregsvr32 - ",
    "unregsvr32 failed... Try Again and Check log file", " dll/ocx delete registry failed !!!"};

void RunRegistration(RunContext& context, const std::string& path, SelfRegEntry entry) {
  const bool install = entry == SelfRegEntry::kRegister;
  const RegistrationTexts& texts = install ? kRegisterTexts : kUnregisterTexts;
  context.WriteLog(context.GetLogTime() + texts.start + path, 0);
  PrivilegedOps& privileged = context.Privileged();
  const bool ok =
      (install ? privileged.RegisterComponent(path) : privileged.UnregisterComponent(path)) == 1;
  if (!ok) {
    context.ShowMessage(path + ":" + texts.message);
    context.WriteLog(context.GetLogTime() + " " + path + texts.failed, 1);
  }
  context.WriteLog(context.GetLogTime() + texts.end + path, 0);
}

bool HasComponentExtension(const std::string& path) {
  const std::string tail = os::AsciiLower(path.size() > 3 ? path.substr(path.size() - 3) : path);
  return tail == "ocx" || tail == "dll";
}

}  // namespace

int CRegSvr32::Register(const std::string& path) {
  return os::SUCCEEDED(CallSelfRegistration(path, SelfRegEntry::kRegister)) ? 1 : 0;
}

int CRegSvr32::Unregister(const std::string& path) {
  return os::SUCCEEDED(CallSelfRegistration(path, SelfRegEntry::kUnregister)) ? 1 : 0;
}

void RegisterComponent(RunContext& context, const std::string& path) {
  RunRegistration(context, path, SelfRegEntry::kRegister);
}

void UnregisterComponent(RunContext& context, const std::string& path) {
  RunRegistration(context, path, SelfRegEntry::kUnregister);
}

int RegisterIfComponent(RunContext& context, const std::string& path) {
  if (path.empty() || !HasComponentExtension(path)) return -1;
  return context.Privileged().RegisterExtractedComponent(path);
}

int RegisterDownloadedComponent(const RunContext& context, const std::string& url,
                                const std::string& target) {
  std::string folder = target;
  ReplaceFirstFolderSymbol(&folder, context.Folders());
  const std::size_t slash = url.rfind('/');
  const std::string file_name = slash == std::string::npos ? url : url.substr(slash + 1);
  // In this process whatever the Windows version: never through the privileged steps.
  return CRegSvr32().Register(folder + "\\" + file_name);
}

}  // namespace pelisto
