#include "platform/file_manager.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string_view>
#include <thread>

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/com/apartment.h"
#include "os/com/hresult.h"
#include "os/fs/file_api.h"
#include "os/fs/file_util.h"
#include "os/image/integrity.h"
#include "os/image/machine.h"
#include "os/reg/key_helpers.h"
#include "os/reg/registry.h"
#include "platform/broker_proxy.h"
#include "platform/program_start.h"
#include "platform/self_registration.h"
#include "platform/shell_shortcuts.h"

namespace pelisto {
namespace {

// The failing call's last error as an HRESULT (E_FAIL when it left none).
os::HRESULT LastErrorResult() {
  os::DWORD code = os::GetLastError();
  return code == os::ERROR_SUCCESS ? os::E_FAIL : os::HRESULT_FROM_WIN32(code);
}

std::string Narrow(const std::u16string& text) { return os::WideToAnsi(text); }

bool IsFopenMode(std::string_view mode) {
  if (mode.empty() || (mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'a')) return false;
  bool plus = false, kind = false;
  for (char c : mode.substr(1)) {
    if (c == '+' && !plus) {
      plus = true;
    } else if ((c == 'b' || c == 't') && !kind) {
      kind = true;
    } else {
      return false;
    }
  }
  return true;
}

bool IsPredefinedRoot(os::ULONG root) {
  return root == 0x80000000u || root == 0x80000001u || root == 0x80000002u ||
         root == 0x80000003u || root == 0x80000005u;
}

// The broker that runs inside the control's process, acting with a high-integrity token on
// the machine image: what the elevated broker process does, without the process. Every
// operation holds the object's lock, so the open file is never shared between two calls.
class InProcessBroker final : public os::ComObject<IFileManager> {
 public:
  InProcessBroker() = default;

  os::HRESULT CloseFile() override {
    Scope scope(this);
    if (whole_.IsOpen()) {
      return whole_.Commit() ? os::S_OK : LastErrorResult();
    }
    if (file_ == nullptr) return os::S_FALSE;
    bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok ? os::S_OK : os::HRESULT_FROM_WIN32(os::ERROR_WRITE_FAULT);
  }

  os::HRESULT OpenFile(const std::u16string& path, const std::u16string& mode,
                       os::LONG* file) override {
    Scope scope(this);
    if (file == nullptr) return os::E_POINTER;
    const std::string narrow_mode = Narrow(mode);
    if (!IsFopenMode(narrow_mode)) return os::E_INVALIDARG;
    EndOpenFile();
    // "w" replaces the whole file: written beside it and renamed over it on close, so the
    // target is never seen half-written, whatever happens before the close.
    if (narrow_mode[0] == 'w') {
      if (!whole_.Open(Narrow(path))) return LastErrorResult();
    } else {
      file_ = os::FileOpen(Narrow(path), narrow_mode.c_str());
      if (file_ == nullptr) return LastErrorResult();
    }
    file_id_ = ++last_file_id_;
    *file = file_id_;
    return os::S_OK;
  }

  os::HRESULT QueryOpenFile(os::LONG* size) override {
    Scope scope(this);
    if (size == nullptr) return os::E_POINTER;
    if (whole_.IsOpen()) {
      *size = static_cast<os::LONG>(whole_.Size());
      return os::S_OK;
    }
    if (file_ == nullptr) return os::E_HANDLE;
    long here = std::ftell(file_);
    if (std::fseek(file_, 0, SEEK_END) != 0) return os::E_FAIL;
    long end = std::ftell(file_);
    if (here >= 0) std::fseek(file_, here, SEEK_SET);
    *size = static_cast<os::LONG>(end);
    return os::S_OK;
  }

  os::HRESULT WriteText(const std::u16string& text, os::LONG file) override {
    Scope scope(this);
    if ((file_ == nullptr && !whole_.IsOpen()) || file != file_id_) return os::E_HANDLE;
    const std::string bytes = Narrow(text);
    if (whole_.IsOpen()) return whole_.Write(bytes) ? os::S_OK : LastErrorResult();
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
      return os::HRESULT_FROM_WIN32(os::ERROR_WRITE_FAULT);
    }
    return os::S_OK;
  }

  os::HRESULT CopyFile(const std::u16string& source, const std::u16string& destination,
                       os::BOOL fail_if_exists) override {
    Scope scope(this);
    return os::CopyFileA(Narrow(source), Narrow(destination), fail_if_exists)
               ? os::S_OK
               : LastErrorResult();
  }

  os::HRESULT CreateDirectory(const std::u16string& path, os::BOOL* created) override {
    Scope scope(this);
    if (created == nullptr) return os::E_POINTER;
    *created = os::CreateDirectoryA(Narrow(path), nullptr);
    return *created ? os::S_OK : LastErrorResult();
  }

  os::HRESULT MoveFile(const std::u16string& source,
                       const std::u16string& destination) override {
    Scope scope(this);
    return os::MoveFileA(Narrow(source), Narrow(destination)) ? os::S_OK : LastErrorResult();
  }

  os::HRESULT DeleteFile(const std::u16string& path) override {
    Scope scope(this);
    return os::DeleteFileA(Narrow(path)) ? os::S_OK : LastErrorResult();
  }

  // Started elevated, with the broker's token, and not waited for: a broker call is bounded
  // in time (the proxy's time-out) and an installer is not.
  os::HRESULT RunProgram(const std::u16string& path) override {
    Scope scope(this);
    if (path.empty()) return os::E_INVALIDARG;
    os::PROCESS_INFORMATION process;
    if (!StartProgram(Narrow(path), &process)) return LastErrorResult();
    os::CloseHandle(process.hThread);
    os::CloseHandle(process.hProcess);
    return os::S_OK;
  }

  // The call itself succeeds whenever it was made; `*result` tells whether the link is saved.
  // No box: the broker shows nothing of its own.
  os::HRESULT CreateShellLink(const std::u16string& target, const std::u16string& link,
                              const std::u16string& description, const std::u16string& icon,
                              const std::u16string& arguments, os::LONG* result) override {
    Scope scope(this);
    if (result == nullptr) return os::E_POINTER;
    // The shell link object needs COM on the thread that makes it.
    const os::HRESULT init = os::CoInitialize(nullptr);
    *result = WriteShellLink(Narrow(target), Narrow(link), Narrow(description), Narrow(icon),
                             Narrow(arguments));
    if (os::SUCCEEDED(init)) os::CoUninitialize();
    return os::S_OK;
  }
  os::HRESULT CreateInternetShortcut(const std::u16string& url, const std::u16string& path,
                                     const std::u16string& description,
                                     const std::u16string& icon, os::LONG icon_index,
                                     os::LONG* result) override {
    Scope scope(this);
    if (result == nullptr) return os::E_POINTER;
    *result = WriteInternetShortcut(Narrow(url), Narrow(path), Narrow(description),
                                    Narrow(icon), icon_index);
    return os::S_OK;
  }

  os::HRESULT RegisterComponent(const std::u16string& path) override {
    return SelfRegister(path, SelfRegEntry::kRegister);
  }

  os::HRESULT WriteRegString(os::ULONG root, const std::u16string& subkey,
                             const std::u16string& name, const std::u16string& text) override {
    const std::string data = Narrow(text);
    // REG_SZ is stored with its terminating zero, as RegSetValueExA callers pass it.
    return WriteValue(root, subkey, name, os::REG_SZ,
                      reinterpret_cast<const os::BYTE*>(data.c_str()),
                      static_cast<os::DWORD>(data.size() + 1));
  }

  os::HRESULT ReadRegString(os::ULONG root, const std::u16string& subkey,
                            const std::u16string& name, std::u16string* text) override {
    Scope scope(this);
    if (text == nullptr) return os::E_POINTER;
    if (!IsPredefinedRoot(root)) return os::E_INVALIDARG;
    std::string data;
    const os::LONG rc = os::RegGetValueA(os::PredefinedKey(root), Narrow(subkey).c_str(),
                                         Narrow(name).c_str(),
                                         os::RRF_RT_REG_SZ | os::RRF_RT_REG_EXPAND_SZ, nullptr,
                                         &data);
    if (rc != os::ERROR_SUCCESS) return os::HRESULT_FROM_WIN32(static_cast<os::DWORD>(rc));
    // The text without the terminating zeros it was stored with; zeros inside it stay.
    while (!data.empty() && data.back() == '\0') data.pop_back();
    *text = os::AnsiToWide(data);
    return os::S_OK;
  }

  os::HRESULT WriteRegNumber(os::ULONG root, const std::u16string& subkey,
                             const std::u16string& name, os::LONG number) override {
    const os::DWORD value = static_cast<os::DWORD>(number);
    return WriteValue(root, subkey, name, os::REG_DWORD,
                      reinterpret_cast<const os::BYTE*>(&value), sizeof value);
  }

  os::HRESULT UnregisterComponent(const std::u16string& path) override {
    return SelfRegister(path, SelfRegEntry::kUnregister);
  }

  os::HRESULT AppendText(const std::u16string& path, const std::u16string& text) override {
    Scope scope(this);
    std::FILE* f = os::FileOpen(Narrow(path), "ab");
    if (f == nullptr) return LastErrorResult();
    const std::string bytes = Narrow(text);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const bool closed = std::fclose(f) == 0;
    return written && closed ? os::S_OK : os::HRESULT_FROM_WIN32(os::ERROR_WRITE_FAULT);
  }

  os::HRESULT MoveFileReplacing(const std::u16string& source,
                                const std::u16string& destination) override {
    Scope scope(this);
    const std::string from = Narrow(source);
    const std::string to = Narrow(destination);
    if (!IsPlainFile(from)) return LastErrorResult();
    if (!os::MoveFileExA(from, to, os::MOVEFILE_REPLACE_EXISTING | os::MOVEFILE_COPY_ALLOWED)) {
      return LastErrorResult();
    }
    // The source was tested before the move, and another process may have swapped a link or
    // a folder in meanwhile: what arrived is tested again and sent back when it is not a file.
    if (!IsPlainFile(to)) {
      os::MoveFileExA(to, from, 0);
      return os::HRESULT_FROM_WIN32(os::ERROR_ACCESS_DENIED);
    }
    return os::S_OK;
  }

 private:
  // True for a regular file that is not a link; otherwise false with the last error set.
  static bool IsPlainFile(const std::string& path) {
    const os::DWORD attributes = os::GetFileAttributesA(path);
    if (attributes == os::INVALID_FILE_ATTRIBUTES) return false;
    if ((attributes & (os::FILE_ATTRIBUTE_DIRECTORY | os::FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
      os::SetLastError(os::ERROR_ACCESS_DENIED);
      return false;
    }
    return true;
  }

  // Holds the object's lock and acts elevated for one operation.
  class Scope {
   public:
    explicit Scope(InProcessBroker* broker)
        : lock_(broker->mu_), elevated_(os::Token{os::IntegrityLevel::kHigh}) {}

   private:
    std::lock_guard<std::mutex> lock_;
    os::ImpersonationScope elevated_;
  };

  ~InProcessBroker() override {
    Scope scope(this);
    EndOpenFile();
  }

  // Ends the open file without a close: appended text stays, a whole-file write is dropped.
  void EndOpenFile() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    whole_.Abandon();
  }

  // The component runs on a thread of its own, as it would on the broker process's thread:
  // with the elevated token and COM state of its own, whatever apartment the caller's
  // thread is in (the control's thread is multithreaded, where OLE cannot be initialised).
  os::HRESULT SelfRegister(const std::u16string& path, SelfRegEntry entry) {
    std::lock_guard<std::mutex> lock(mu_);
    if (path.empty()) return os::E_INVALIDARG;
    const std::string narrow_path = Narrow(path);
    os::HRESULT result = os::E_FAIL;
    std::thread worker([&] {
      os::ImpersonationScope elevated(os::Token{os::IntegrityLevel::kHigh});
      result = CallSelfRegistration(narrow_path, entry);
    });
    worker.join();
    return result;
  }

  os::HRESULT WriteValue(os::ULONG root, const std::u16string& subkey,
                         const std::u16string& name, os::DWORD type, const os::BYTE* data,
                         os::DWORD size) {
    Scope scope(this);
    if (!IsPredefinedRoot(root)) return os::E_INVALIDARG;
    const os::LONG rc = os::RegSetKeyValueA(os::PredefinedKey(root), Narrow(subkey).c_str(),
                                            Narrow(name).c_str(), type, data, size);
    return os::HRESULT_FROM_WIN32(static_cast<os::DWORD>(rc));
  }

  std::mutex mu_;
  std::FILE* file_ = nullptr;     // the open file of modes "r" and "a"
  os::AtomicFileWriter whole_;    // the open file of mode "w"
  os::LONG file_id_ = 0;
  os::LONG last_file_id_ = 0;
};

// What binding the elevation moniker does: ask the user, then start the class elevated.
os::HRESULT BindElevationMoniker(const std::string& moniker, const os::IID& iid, void** out) {
  constexpr std::string_view kPrefix = "Elevation:Administrator!new:";
  os::CLSID clsid;
  if (moniker.compare(0, kPrefix.size(), kPrefix) != 0 ||
      !os::GuidFromString(std::string_view(moniker).substr(kPrefix.size()), &clsid)) {
    return os::E_INVALIDARG;
  }
  const os::Machine* machine = os::CurrentMachine();
  if (machine == nullptr) return os::CO_E_SERVER_EXEC_FAILURE;
  if (machine->settings().refuse_elevation) return os::HRESULT_FROM_WIN32(os::ERROR_CANCELLED);
  if (clsid != CLSID_PelistoBroker) return os::REGDB_E_CLASSNOTREG;
  os::ComPtr<IFileManager> broker;
  if (os::HRESULT hr = StartBrokerProcess(broker.ReleaseAndGetAddressOf()); os::FAILED(hr)) {
    return hr;
  }
  return broker->QueryInterface(iid, out);
}

}  // namespace

void CreateLocalFileManager(IFileManager** out) {
  *out = os::MakeCom<InProcessBroker>().Detach();
}

os::HRESULT CreateElevatedInstance(void* /*hwnd*/, const os::CLSID& clsid, const os::IID& iid,
                                   void** out) {
  if (out == nullptr) return os::E_POINTER;
  *out = nullptr;
  const std::string moniker = "Elevation:Administrator!new:" + os::GuidToString(clsid);
  return BindElevationMoniker(moniker, iid, out);
}

}  // namespace pelisto
