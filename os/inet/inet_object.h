// The objects HINTERNET handles stand for, and the process-wide table that resolves them.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "os/inet/wininet.h"

namespace os::inet {

enum class HandleKind { kSession, kConnection, kRequest };

// Settings a handle passes on to the handles made from it.
struct Inherited {
  std::string user_agent;
  std::string http_proxy;   // empty: none
  std::string https_proxy;  // empty: none
  std::string no_proxy;     // comma-separated
  DWORD connect_timeout_ms = 60000;
  DWORD send_timeout_ms = 30000;
  DWORD receive_timeout_ms = 30000;
  // From the image's transfer bounds (os/image/transfer_bounds.h); 0 switches one off.
  DWORD min_rate = 0;        // bytes per second
  DWORD rate_window_ms = 0;
  DWORD exchange_timeout_ms = 0;
};

class Object {
 public:
  Object(HandleKind kind, Inherited settings, INTERNET_STATUS_CALLBACK callback, DWORD_PTR context)
      : kind_(kind), settings_(std::move(settings)), callback_(callback), context_(context) {}
  virtual ~Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  HandleKind kind() const { return kind_; }
  HINTERNET handle() const { return handle_; }
  DWORD_PTR context() const { return context_; }
  Inherited& settings() { return settings_; }
  const Inherited& settings() const { return settings_; }

  INTERNET_STATUS_CALLBACK callback() const { return callback_.load(std::memory_order_acquire); }
  INTERNET_STATUS_CALLBACK ExchangeCallback(INTERNET_STATUS_CALLBACK callback) {
    return callback_.exchange(callback, std::memory_order_acq_rel);
  }
  // Whether Notify would call anybody (a zero context never gets callbacks).
  bool WantsStatus() const { return context_ != 0 && callback() != nullptr; }
  void Notify(DWORD status, const void* info, DWORD length);

  // Children are remembered so that closing this handle closes them.
  void AddChild(HINTERNET child);
  std::vector<HINTERNET> TakeChildren();

  // Wakes a call blocked on this object; later calls on it fail.
  virtual void Abort() {}

 private:
  friend class HandleTable;
  const HandleKind kind_;
  Inherited settings_;
  std::atomic<INTERNET_STATUS_CALLBACK> callback_;
  const DWORD_PTR context_;
  HINTERNET handle_ = nullptr;
  std::mutex children_mu_;
  std::vector<HINTERNET> children_;
};

class Session : public Object {
 public:
  explicit Session(Inherited settings) : Object(HandleKind::kSession, std::move(settings), nullptr, 0) {}
};

class Connection : public Object {
 public:
  Connection(Inherited settings, INTERNET_STATUS_CALLBACK callback, DWORD_PTR context)
      : Object(HandleKind::kConnection, std::move(settings), callback, context) {}
  std::string server;  // as given: a name, an IPv4 address or an IPv6 one in brackets
  INTERNET_PORT port = 0;
  std::string user;
  std::string password;
};

// Handles never repeat in a process, so a stale one is refused rather than reaching a newer
// object.
class HandleTable {
 public:
  static HandleTable& Get();
  HINTERNET Add(std::shared_ptr<Object> object);
  // The object, or null (last error ERROR_INVALID_HANDLE) for a handle that is not open.
  std::shared_ptr<Object> Find(HINTERNET handle);
  // Removes and returns the object; null when it was not open.
  std::shared_ptr<Object> Remove(HINTERNET handle);

 private:
  std::mutex mu_;
  std::vector<std::pair<std::uintptr_t, std::shared_ptr<Object>>> objects_;  // sorted by id
  std::uintptr_t next_ = 0x1000;
};

}  // namespace os::inet
