#include "os/inet/inet_object.h"

#include <algorithm>

#include "os/base/error.h"

namespace os::inet {

void Object::Notify(DWORD status, const void* info, DWORD length) {
  INTERNET_STATUS_CALLBACK cb = callback();
  if (cb == nullptr || context_ == 0) return;
  cb(handle_, context_, status, const_cast<void*>(info), length);
}

void Object::AddChild(HINTERNET child) {
  std::lock_guard<std::mutex> lock(children_mu_);
  children_.push_back(child);
}

std::vector<HINTERNET> Object::TakeChildren() {
  std::lock_guard<std::mutex> lock(children_mu_);
  return std::move(children_);
}

HandleTable& HandleTable::Get() {
  static HandleTable* table = new HandleTable;  // lives as long as the process
  return *table;
}

HINTERNET HandleTable::Add(std::shared_ptr<Object> object) {
  std::lock_guard<std::mutex> lock(mu_);
  std::uintptr_t id = next_++;
  object->handle_ = reinterpret_cast<HINTERNET>(id);
  objects_.emplace_back(id, std::move(object));
  return reinterpret_cast<HINTERNET>(id);
}

std::shared_ptr<Object> HandleTable::Find(HINTERNET handle) {
  auto id = reinterpret_cast<std::uintptr_t>(handle);
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = std::lower_bound(objects_.begin(), objects_.end(), id,
                               [](const auto& entry, std::uintptr_t key) { return entry.first < key; });
    if (it != objects_.end() && it->first == id) return it->second;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

std::shared_ptr<Object> HandleTable::Remove(HINTERNET handle) {
  auto id = reinterpret_cast<std::uintptr_t>(handle);
  std::lock_guard<std::mutex> lock(mu_);
  auto it = std::lower_bound(objects_.begin(), objects_.end(), id,
                             [](const auto& entry, std::uintptr_t key) { return entry.first < key; });
  if (it == objects_.end() || it->first != id) return nullptr;
  std::shared_ptr<Object> object = std::move(it->second);
  objects_.erase(it);
  return object;
}

}  // namespace os::inet
