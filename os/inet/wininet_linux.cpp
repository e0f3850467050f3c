// The WinINet-shaped calls: argument checks and handle resolution; the work is done by the
// objects of os/inet.
#include <cstring>
#include <memory>

#include "os/base/error.h"
#include "os/image/machine.h"
#include "os/inet/inet_object.h"
#include "os/inet/proxy_config.h"
#include "os/inet/request.h"
#include "os/inet/wininet.h"

namespace os {
namespace {
using inet::HandleKind;
using inet::HandleTable;
using inet::Object;

template <typename T>
std::shared_ptr<T> FindAs(HINTERNET handle, HandleKind kind) {
  std::shared_ptr<Object> object = HandleTable::Get().Find(handle);
  if (object == nullptr) return nullptr;
  if (object->kind() != kind) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return nullptr;
  }
  return std::static_pointer_cast<T>(std::move(object));
}

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

BOOL Result(DWORD code) {
  if (code != ERROR_SUCCESS) return Fail(code);
  return TRUE;
}

void NotifyCreated(Object& object) {
  INTERNET_ASYNC_RESULT created;
  created.dwResult = reinterpret_cast<DWORD_PTR>(object.handle());
  object.Notify(INTERNET_STATUS_HANDLE_CREATED, &created, sizeof created);
}

// Closes `handle` and what was made from it, the children first.
void CloseTree(HINTERNET handle) {
  std::shared_ptr<Object> object = HandleTable::Get().Remove(handle);
  if (object == nullptr) return;  // closed already by its own call
  object->Abort();
  for (HINTERNET child : object->TakeChildren()) CloseTree(child);
  HINTERNET closing = handle;
  object->Notify(INTERNET_STATUS_HANDLE_CLOSING, &closing, sizeof closing);
}

DWORD* TimeoutSlot(inet::Inherited& settings, DWORD option) {
  switch (option) {
    case INTERNET_OPTION_CONNECT_TIMEOUT: return &settings.connect_timeout_ms;
    case INTERNET_OPTION_SEND_TIMEOUT: return &settings.send_timeout_ms;
    case INTERNET_OPTION_RECEIVE_TIMEOUT: return &settings.receive_timeout_ms;
    default: return nullptr;
  }
}

}  // namespace

HINTERNET InternetOpenA(const char* agent, DWORD access_type, const char* proxy,
                        const char* bypass, DWORD) {
  inet::ProxyConfig proxies;
  switch (access_type) {
    case INTERNET_OPEN_TYPE_PRECONFIG:
    case INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY:
      proxies = inet::ProxyFromEnvironment();
      break;
    case INTERNET_OPEN_TYPE_DIRECT:
      break;
    case INTERNET_OPEN_TYPE_PROXY:
      if (proxy == nullptr || *proxy == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
      }
      proxies = inet::ProxyFromArguments(proxy, bypass != nullptr ? bypass : "");
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
  }
  inet::Inherited settings;
  settings.user_agent = agent != nullptr ? agent : "";
  settings.http_proxy = proxies.http;
  settings.https_proxy = proxies.https;
  settings.no_proxy = proxies.no_proxy;
  if (const Machine* machine = CurrentMachine()) {
    const TransferBounds& bounds = machine->settings().transfer;
    settings.min_rate = bounds.min_rate;
    settings.rate_window_ms = bounds.rate_window_ms;
    settings.exchange_timeout_ms = bounds.timeout_ms;
  }
  return HandleTable::Get().Add(std::make_shared<inet::Session>(std::move(settings)));
}

INTERNET_STATUS_CALLBACK InternetSetStatusCallback(HINTERNET handle, INTERNET_STATUS_CALLBACK callback) {
  std::shared_ptr<Object> object = HandleTable::Get().Find(handle);
  if (object == nullptr) return INTERNET_INVALID_STATUS_CALLBACK;
  return object->ExchangeCallback(callback);
}

INTERNET_STATUS_CALLBACK InternetSetStatusCallbackA(HINTERNET handle, INTERNET_STATUS_CALLBACK callback) {
  return InternetSetStatusCallback(handle, callback);
}

HINTERNET InternetConnectA(HINTERNET session, const char* server, INTERNET_PORT port, const char* user,
                           const char* password, DWORD service, DWORD, DWORD_PTR context) {
  auto parent = FindAs<inet::Session>(session, HandleKind::kSession);
  if (parent == nullptr) return nullptr;
  if (server == nullptr || *server == '\0' || service != INTERNET_SERVICE_HTTP) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto connection = std::make_shared<inet::Connection>(parent->settings(), parent->callback(), context);
  connection->server = server;
  connection->port = port;
  if (user != nullptr) connection->user = user;
  if (password != nullptr) connection->password = password;
  HINTERNET handle = HandleTable::Get().Add(connection);
  parent->AddChild(handle);
  NotifyCreated(*connection);
  return handle;
}

HINTERNET HttpOpenRequestA(HINTERNET connection, const char* verb, const char* object, const char*,
                           const char*, const char* const* accept_types, DWORD flags, DWORD_PTR context) {
  auto parent = FindAs<inet::Connection>(connection, HandleKind::kConnection);
  if (parent == nullptr) return nullptr;
  std::vector<std::string> accept;
  for (const char* const* type = accept_types; type != nullptr && *type != nullptr; ++type) {
    accept.emplace_back(*type);
  }
  auto request = std::make_shared<inet::Request>(*parent, verb != nullptr ? verb : "",
                                                 object != nullptr ? object : "", std::move(accept), flags,
                                                 context);
  HINTERNET handle = HandleTable::Get().Add(request);
  parent->AddChild(handle);
  NotifyCreated(*request);
  return handle;
}

BOOL HttpSendRequestA(HINTERNET request, const char* headers, DWORD headers_length, const void* optional,
                      DWORD optional_length) {
  auto r = FindAs<inet::Request>(request, HandleKind::kRequest);
  if (r == nullptr) return FALSE;
  std::string_view extra;
  if (headers != nullptr) {
    extra = headers_length == 0xFFFFFFFF ? std::string_view(headers) : std::string_view(headers, headers_length);
  }
  if (optional == nullptr && optional_length != 0) return Fail(ERROR_INVALID_PARAMETER);
  return Result(r->Send(extra, optional, optional_length));
}

BOOL HttpQueryInfoA(HINTERNET request, DWORD info_level, void* buffer, DWORD* buffer_length, DWORD* index) {
  auto r = FindAs<inet::Request>(request, HandleKind::kRequest);
  if (r == nullptr) return FALSE;
  return Result(r->Query(info_level, buffer, buffer_length, index));
}

BOOL InternetReadFile(HINTERNET request, void* buffer, DWORD to_read, DWORD* read) {
  if (read == nullptr || (buffer == nullptr && to_read != 0)) return Fail(ERROR_INVALID_PARAMETER);
  *read = 0;
  auto r = FindAs<inet::Request>(request, HandleKind::kRequest);
  if (r == nullptr) return FALSE;
  return Result(r->Read(buffer, to_read, read));
}

BOOL InternetSetOptionA(HINTERNET handle, DWORD option, const void* buffer, DWORD length) {
  std::shared_ptr<Object> object = HandleTable::Get().Find(handle);
  if (object == nullptr) return FALSE;
  if (option != INTERNET_OPTION_SECURITY_FLAGS && TimeoutSlot(object->settings(), option) == nullptr) {
    return Fail(ERROR_INTERNET_INVALID_OPTION);
  }
  if (buffer == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (length != sizeof(DWORD)) return Fail(ERROR_INTERNET_BAD_OPTION_LENGTH);
  DWORD value;
  std::memcpy(&value, buffer, sizeof value);
  if (option == INTERNET_OPTION_SECURITY_FLAGS) {
    if (object->kind() != HandleKind::kRequest) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    std::static_pointer_cast<inet::Request>(object)->SetSecurityFlags(value);
    return TRUE;
  }
  if (value == 0) return Fail(ERROR_INVALID_PARAMETER);
  *TimeoutSlot(object->settings(), option) = value;
  return TRUE;
}

BOOL InternetQueryOptionA(HINTERNET handle, DWORD option, void* buffer, DWORD* length) {
  std::shared_ptr<Object> object = HandleTable::Get().Find(handle);
  if (object == nullptr) return FALSE;
  if (length == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  DWORD value;
  if (option == INTERNET_OPTION_SECURITY_FLAGS) {
    if (object->kind() != HandleKind::kRequest) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    value = std::static_pointer_cast<inet::Request>(object)->security_flags();
  } else if (DWORD* slot = TimeoutSlot(object->settings(), option)) {
    value = *slot;
  } else {
    return Fail(ERROR_INTERNET_INVALID_OPTION);
  }
  if (buffer == nullptr || *length < sizeof value) {
    *length = sizeof value;
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, &value, sizeof value);
  *length = sizeof value;
  return TRUE;
}

BOOL InternetCloseHandle(HINTERNET handle) {
  if (HandleTable::Get().Find(handle) == nullptr) return FALSE;
  CloseTree(handle);
  return TRUE;
}

}  // namespace os
