#include "os/reg/key_table.h"

#include <mutex>
#include <unordered_map>

namespace os::reg {
namespace {

// Handle numbers step by 4 as Windows handles do, and stay clear of the predefined keys.
constexpr std::uintptr_t kFirstHandle = 0x10000;
constexpr std::uintptr_t kPredefinedFirst = 0x80000000;
constexpr std::uintptr_t kPredefinedLast = 0x800000FF;

struct Table {
  std::mutex mu;
  std::uintptr_t next = kFirstHandle;
  std::unordered_map<std::uintptr_t, RegKeyObject> objects;
};

Table& TheTable() {
  static Table* table = new Table;  // never destroyed: handles may be closed during exit
  return *table;
}

}  // namespace

HKEY AddKeyHandle(RegKeyObject object) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> lock(t.mu);
  std::uintptr_t value = t.next;
  t.next += 4;
  if (t.next >= kPredefinedFirst && t.next <= kPredefinedLast) t.next = kPredefinedLast + 1;
  t.objects.emplace(value, std::move(object));
  return reinterpret_cast<HKEY>(value);
}

bool LookupKeyHandle(HKEY key, RegKeyObject* object) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> lock(t.mu);
  auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(key));
  if (it == t.objects.end()) return false;
  *object = it->second;
  return true;
}

bool RemoveKeyHandle(HKEY key) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> lock(t.mu);
  return t.objects.erase(reinterpret_cast<std::uintptr_t>(key)) > 0;
}

}  // namespace os::reg
