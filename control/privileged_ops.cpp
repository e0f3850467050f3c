#include "control/privileged_ops.h"

#include <cstdio>

#include "actions/execute_file.h"
#include "actions/registration.h"
#include "actions/registry_ops.h"
#include "actions/shortcuts.h"
#include "control/run_context.h"
#include "os/base/error.h"
#include "os/base/text.h"
#include "os/com/hresult.h"
#include "os/fs/file_api.h"
#include "os/fs/file_util.h"
#include "platform/broker_client.h"

namespace pelisto {
namespace {

// Before Windows 6: the operating system's calls, with the calling thread's token.
class DirectOps final : public PrivilegedOps {
 public:
  explicit DirectOps(RunContext& context) : context_(context) {}

  bool Brokered() const override { return false; }

  int CopyFile(const std::string& source, const std::string& destination,
               os::BOOL fail_if_exists) override {
    return BrokerCopyFile(source, destination, fail_if_exists, false);
  }
  int MoveFile(const std::string& source, const std::string& destination) override {
    return BrokerMoveFile(source, destination, false);
  }
  int MoveFileReplacing(const std::string& source, const std::string& destination) override {
    return BrokerMoveFileReplacing(source, destination, false);
  }
  int DeleteFile(const std::string& path) override { return BrokerDeleteFile(path, false); }
  int CreateDirectory(const std::string& path) override {
    return BrokerCreateDirectory(path, nullptr, false);
  }
  os::HRESULT CreateDirectoryResult(const std::string& path) override {
    if (os::CreateDirectoryA(path, nullptr)) return os::S_OK;
    return os::HRESULT_FROM_WIN32(os::GetLastError());
  }

  int WriteFileAtomically(const std::string& path, std::string_view bytes) override {
    return os::WriteFileAtomically(path, bytes) ? 1 : 0;
  }
  int CreateFileIfMissing(const std::string& path) override {
    // Append mode: a file that another run created in the meantime is kept, not truncated.
    std::FILE* f = os::FileOpen(path, "ab");
    if (f == nullptr) return 0;
    const bool flushed = std::fflush(f) == 0;
    return std::fclose(f) == 0 && flushed ? 1 : 0;
  }
  int AppendToFile(const std::string& path, std::string_view text) override {
    // "r+b" never creates.
    std::FILE* f = os::FileOpen(path, "r+b");
    if (f == nullptr) return 0;
    bool ok = std::fseek(f, 0, SEEK_END) == 0 &&
              std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fclose(f) == 0 && ok;
    return ok ? 1 : 0;
  }

  // The direct program start and shortcuts arrive with the install actions.
  int RunProgram(const std::string& path) override { return ExecuteFile(context_, path) ? 1 : 0; }
  os::LONG CreateShellLink(const std::string& target, const std::string& link,
                           const std::string& description, const std::string& icon,
                           const std::string& arguments) override {
    return pelisto::CreateShellLink(target, link, description, icon, arguments);
  }
  os::LONG CreateInternetShortcut(const std::string& url, const std::string& path,
                                  const std::string& description, const std::string& icon,
                                  os::LONG icon_index) override {
    return pelisto::CreateInternetShortcut(url, path, description, icon, icon_index);
  }

  int RegisterComponent(const std::string& path) override { return CRegSvr32().Register(path); }
  int UnregisterComponent(const std::string& path) override {
    return CRegSvr32().Unregister(path);
  }
  int RegisterExtractedComponent(const std::string& path) override {
    return CRegSvr32().Register(path);
  }

  int WriteRegString(os::HKEY root, const std::string& subkey, const std::string& name,
                     const std::string& text) override {
    return WriteRegistryString(context_, root, subkey, name, text);
  }
  int WriteRegNumber(os::HKEY root, const std::string& subkey, const std::string& name,
                     os::LONG number) override {
    return WriteRegistryNumber(context_, root, subkey, name, number);
  }
  std::string ReadRegString(os::HKEY root, const std::string& subkey,
                            const std::string& name) override {
    return ReadRegistryString(root, subkey, name);
  }

 private:
  RunContext& context_;
};

// Windows 6 and later: the elevated broker, fetched for the calling thread.
class BrokeredOps final : public PrivilegedOps {
 public:
  bool Brokered() const override { return true; }

  int CopyFile(const std::string& source, const std::string& destination,
               os::BOOL fail_if_exists) override {
    return BrokerCopyFile(source, destination, fail_if_exists, true);
  }
  int MoveFile(const std::string& source, const std::string& destination) override {
    return BrokerMoveFile(source, destination, true);
  }
  int MoveFileReplacing(const std::string& source, const std::string& destination) override {
    return BrokerMoveFileReplacing(source, destination, true);
  }
  int DeleteFile(const std::string& path) override { return BrokerDeleteFile(path, true); }
  int CreateDirectory(const std::string& path) override {
    return BrokerCreateDirectory(path, nullptr, true);
  }
  os::HRESULT CreateDirectoryResult(const std::string& path) override {
    BrokerRef broker;
    GetBroker(broker.ReleaseAndGetAddressOf());
    if (!broker) return os::E_FAIL;
    os::BOOL created = os::FALSE;
    return broker->CreateDirectory(os::AnsiToWide(path), &created);
  }

  int WriteFileAtomically(const std::string& path, std::string_view bytes) override {
    return BrokerWriteFileAtomically(path, std::string(bytes));
  }
  int CreateFileIfMissing(const std::string& path) override {
    return BrokerAppendToFile(path, std::string());
  }
  int AppendToFile(const std::string& path, std::string_view text) override {
    return BrokerAppendToFile(path, std::string(text));
  }

  int RunProgram(const std::string& path) override { return BrokerRunProgram(path); }
  os::LONG CreateShellLink(const std::string& target, const std::string& link,
                           const std::string& description, const std::string& icon,
                           const std::string& arguments) override {
    return BrokerCreateShellLink(target, link, description, icon, arguments);
  }
  os::LONG CreateInternetShortcut(const std::string& url, const std::string& path,
                                  const std::string& description, const std::string& icon,
                                  os::LONG icon_index) override {
    return BrokerCreateInternetShortcut(url, path, description, icon, icon_index);
  }

  int RegisterComponent(const std::string& path) override { return BrokerRegisterServer(path); }
  int UnregisterComponent(const std::string& path) override {
    return BrokerUnregisterServer(path);
  }
  int RegisterExtractedComponent(const std::string& path) override {
    BrokerRef broker;
    GetBrokerFromGlobal(broker.ReleaseAndGetAddressOf());
    if (!broker) return -1;
    return os::SUCCEEDED(broker->RegisterComponent(os::AnsiToWide(path))) ? 1 : -1;
  }

  int WriteRegString(os::HKEY root, const std::string& subkey, const std::string& name,
                     const std::string& text) override {
    return BrokerWriteRegString(root, subkey, name, text);
  }
  int WriteRegNumber(os::HKEY root, const std::string& subkey, const std::string& name,
                     os::LONG number) override {
    return BrokerWriteRegNumber(root, subkey, name, number);
  }
  std::string ReadRegString(os::HKEY root, const std::string& subkey,
                            const std::string& name) override {
    return BrokerReadRegString(root, subkey, name);
  }
};

}  // namespace

std::unique_ptr<PrivilegedOps> MakePrivilegedOps(bool brokered, RunContext& context) {
  if (brokered) return std::make_unique<BrokeredOps>();
  return std::make_unique<DirectOps>(context);
}

}  // namespace pelisto
