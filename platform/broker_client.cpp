#include "platform/broker_client.h"

#include <cstdint>
#include <mutex>
#include <thread>

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/com/apartment.h"
#include "os/com/global_interface_table.h"
#include "os/com/hresult.h"
#include "os/fs/file_api.h"
#include "os/ui/message_box.h"
#include "platform/broker_proxy.h"

namespace pelisto {
namespace {

constexpr char kCreateFailed[] = "Create Brokerprocess failed...[IFileManager]";
constexpr char kTableFailed[] = "Failed to create instance";
constexpr char kFetchFailed[] = "Failed to Get Interface from Global";

// The process-wide broker state. The lock is held only around the state, never while a
// message box is up or the elevation prompt runs, so a box cannot block another thread.
struct BrokerState {
  std::mutex mu;
  os::ComPtr<IFileManager> broker;
  std::thread::id creating_thread;
  os::ComPtr<os::IGlobalInterfaceTable> table;
  os::DWORD cookie = 0;
  os::ComPtr<IFileManager> foreign;  // last pointer fetched for a foreign thread
};

BrokerState& State() {
  static BrokerState* state = new BrokerState;  // lives until the process ends
  return *state;
}

void Show(const char* text) { os::MessageBoxA(nullptr, text, "Pelisto", os::MB_OK); }

os::HRESULT NewTable(os::ComPtr<os::IGlobalInterfaceTable>* table) {
  return os::CoCreateInstance(os::CLSID_StdGlobalInterfaceTable, nullptr,
                              os::CLSCTX_INPROC_SERVER, os::IID_IGlobalInterfaceTable,
                              table->ReleaseAndGetVoidAddressOf());
}

// Forgets the broker (revoking it from the global table); `s.mu` is held. References that
// callers hold stay valid.
void DropBrokerLocked(BrokerState& s) {
  if (s.broker && s.cookie != 0) {
    os::ComPtr<os::IGlobalInterfaceTable> table = s.table;
    if (table || os::SUCCEEDED(NewTable(&table))) table->RevokeInterfaceFromGlobal(s.cookie);
  }
  s.table.Reset();
  s.foreign.Reset();
  s.broker.Reset();
  s.cookie = 0;
  s.creating_thread = std::thread::id();
}

void CreateBroker(IFileManager** out) {
  os::ComPtr<IFileManager> created;
  os::HRESULT hr = CreateElevatedInstance(nullptr, CLSID_PelistoBroker, IID_IFileManager,
                                          created.ReleaseAndGetVoidAddressOf());
  if (os::FAILED(hr) || !created) {
    Show(kCreateFailed);
    return;
  }
  BrokerState& s = State();
  std::unique_lock<std::mutex> lock(s.mu);
  if (s.broker) {
    // Another thread made one while this prompt was up: keep the first.
    lock.unlock();
    GetBroker(out);
    return;
  }
  s.broker = created;
  s.table.Reset();
  s.cookie = 0;
  if (os::SUCCEEDED(NewTable(&s.table))) {
    s.table->RegisterInterfaceInGlobal(s.broker.Get(), IID_IFileManager, &s.cookie);
  }
  s.creating_thread = std::this_thread::get_id();
  s.broker.CopyTo(out);
}

void FetchForForeignThread(IFileManager** out) {
  // COM for this thread: apartment-threaded, kept for the thread's life.
  os::CoInitializeEx(nullptr, os::COINIT_APARTMENTTHREADED);
  BrokerState& s = State();
  std::unique_lock<std::mutex> lock(s.mu);
  if (os::FAILED(NewTable(&s.table))) {
    lock.unlock();
    Show(kTableFailed);
    return;
  }
  os::HRESULT hr = s.table->GetInterfaceFromGlobal(s.cookie, IID_IFileManager,
                                                   s.foreign.ReleaseAndGetVoidAddressOf());
  if (os::FAILED(hr) || !s.foreign) {
    s.foreign.Reset();
    lock.unlock();
    Show(kFetchFailed);
    return;
  }
  s.foreign.CopyTo(out);
}

std::u16string Wide(const std::string& text) { return os::AnsiToWide(text); }

os::ULONG RootNumber(os::HKEY root) {
  return static_cast<os::ULONG>(reinterpret_cast<std::uintptr_t>(root));
}

// Runs `call` on the broker; 1 when it succeeds, 0 without a broker or on a failing HRESULT.
template <typename Call>
int WithBroker(Call call) {
  BrokerRef broker;
  GetBroker(broker.ReleaseAndGetAddressOf());
  if (!broker) return 0;
  return os::SUCCEEDED(call(broker.Get())) ? 1 : 0;
}

}  // namespace

void GetBroker(IFileManager** broker) {
  *broker = nullptr;
  BrokerState& s = State();
  bool exists;
  {
    std::lock_guard<std::mutex> lock(s.mu);
    // A broker whose process died is replaced, by whichever thread asks next.
    if (IsBrokerGone(s.broker.Get())) DropBrokerLocked(s);
    exists = static_cast<bool>(s.broker);
    if (exists && s.creating_thread == std::this_thread::get_id()) {
      s.broker.CopyTo(broker);
      return;
    }
  }
  if (exists) {
    FetchForForeignThread(broker);
  } else {
    CreateBroker(broker);
  }
}

void GetBrokerFromGlobal(IFileManager** broker) {
  *broker = nullptr;
  BrokerState& s = State();
  os::DWORD cookie;
  {
    std::lock_guard<std::mutex> lock(s.mu);
    if (!s.broker || IsBrokerGone(s.broker.Get())) return;
    cookie = s.cookie;
  }
  os::ComPtr<os::IGlobalInterfaceTable> table;
  if (os::FAILED(NewTable(&table))) return;
  if (os::FAILED(table->GetInterfaceFromGlobal(cookie, IID_IFileManager,
                                               reinterpret_cast<void**>(broker)))) {
    *broker = nullptr;
  }
}

void ReleaseBroker() {
  BrokerState& s = State();
  std::lock_guard<std::mutex> lock(s.mu);
  DropBrokerLocked(s);
}

int BrokerCopyFile(const std::string& source, const std::string& destination,
                   os::BOOL fail_if_exists, bool use_broker) {
  if (!use_broker) return os::CopyFileA(source, destination, fail_if_exists) ? 1 : 0;
  return WithBroker([&](IFileManager* b) {
    return b->CopyFile(Wide(source), Wide(destination), fail_if_exists);
  });
}

int BrokerCreateDirectory(const std::string& path, const void* security, bool use_broker) {
  if (!use_broker) {
    if (os::CreateDirectoryA(path, security)) return 1;
    return os::GetLastError() == os::ERROR_ALREADY_EXISTS ? 1 : 0;
  }
  BrokerRef broker;
  GetBroker(broker.ReleaseAndGetAddressOf());
  if (!broker) return 0;
  os::BOOL created = os::FALSE;
  os::HRESULT hr = broker->CreateDirectory(Wide(path), &created);
  if (hr == os::HRESULT_FROM_WIN32(os::ERROR_ALREADY_EXISTS)) return 1;
  return os::SUCCEEDED(hr) && created ? 1 : 0;
}

int BrokerMoveFile(const std::string& source, const std::string& destination, bool use_broker) {
  if (!use_broker) return os::MoveFileA(source, destination) ? 1 : 0;
  return WithBroker(
      [&](IFileManager* b) { return b->MoveFile(Wide(source), Wide(destination)); });
}

int BrokerMoveFileReplacing(const std::string& source, const std::string& destination,
                            bool use_broker) {
  if (!use_broker) {
    return os::MoveFileExA(source, destination,
                           os::MOVEFILE_REPLACE_EXISTING | os::MOVEFILE_COPY_ALLOWED)
               ? 1
               : 0;
  }
  return WithBroker(
      [&](IFileManager* b) { return b->MoveFileReplacing(Wide(source), Wide(destination)); });
}

int BrokerDeleteFile(const std::string& path, bool use_broker) {
  if (!use_broker) return os::DeleteFileA(path) ? 1 : 0;
  return WithBroker([&](IFileManager* b) { return b->DeleteFile(Wide(path)); });
}

int BrokerWriteFileAtomically(const std::string& path, const std::string& text) {
  BrokerRef broker;
  GetBroker(broker.ReleaseAndGetAddressOf());
  if (!broker) return 0;
  // Held across the three calls (not while the broker is asked for, which may show a box):
  // another sequence would end this one's open file.
  static std::mutex* const open_file = new std::mutex;  // lives until the process ends
  std::lock_guard<std::mutex> lock(*open_file);
  os::LONG file = 0;
  if (os::FAILED(broker->OpenFile(Wide(path), u"w", &file))) return 0;
  // After a failed write the close keeps the target and fails too.
  const bool written = os::SUCCEEDED(broker->WriteText(Wide(text), file));
  const bool closed = os::SUCCEEDED(broker->CloseFile());
  return written && closed ? 1 : 0;
}

int BrokerAppendToFile(const std::string& path, const std::string& text) {
  return WithBroker([&](IFileManager* b) { return b->AppendText(Wide(path), Wide(text)); });
}

int BrokerRunProgram(const std::string& path) {
  return WithBroker([&](IFileManager* b) { return b->RunProgram(Wide(path)); });
}

int BrokerRegisterServer(const std::string& path) {
  return WithBroker([&](IFileManager* b) { return b->RegisterComponent(Wide(path)); });
}

int BrokerUnregisterServer(const std::string& path) {
  return WithBroker([&](IFileManager* b) { return b->UnregisterComponent(Wide(path)); });
}

int BrokerWriteRegString(os::HKEY root, const std::string& subkey, const std::string& name,
                         const std::string& text) {
  return WithBroker([&](IFileManager* b) {
    return b->WriteRegString(RootNumber(root), Wide(subkey), Wide(name), Wide(text));
  });
}

int BrokerWriteRegNumber(os::HKEY root, const std::string& subkey, const std::string& name,
                         os::LONG number) {
  return WithBroker([&](IFileManager* b) {
    return b->WriteRegNumber(RootNumber(root), Wide(subkey), Wide(name), number);
  });
}

std::string BrokerReadRegString(os::HKEY root, const std::string& subkey,
                                const std::string& name) {
  BrokerRef broker;
  GetBroker(broker.ReleaseAndGetAddressOf());
  if (!broker) return {};
  std::u16string text;
  if (os::FAILED(broker->ReadRegString(RootNumber(root), Wide(subkey), Wide(name), &text))) {
    return {};
  }
  return os::WideToAnsi(text);
}

os::LONG BrokerCreateShellLink(const std::string& target, const std::string& link,
                               const std::string& description, const std::string& icon,
                               const std::string& arguments) {
  BrokerRef broker;
  GetBroker(broker.ReleaseAndGetAddressOf());
  if (!broker) return -1;
  os::LONG result = -1;
  os::HRESULT hr = broker->CreateShellLink(Wide(target), Wide(link), Wide(description),
                                           Wide(icon), Wide(arguments), &result);
  return os::SUCCEEDED(hr) ? result : -1;
}

os::LONG BrokerCreateInternetShortcut(const std::string& url, const std::string& path,
                                      const std::string& description, const std::string& icon,
                                      os::LONG icon_index) {
  BrokerRef broker;
  GetBroker(broker.ReleaseAndGetAddressOf());
  if (!broker) return -1;
  os::LONG result = -1;
  os::HRESULT hr = broker->CreateInternetShortcut(Wide(url), Wide(path), Wide(description),
                                                  Wide(icon), icon_index, &result);
  return os::SUCCEEDED(hr) ? result : -1;
}

}  // namespace pelisto
