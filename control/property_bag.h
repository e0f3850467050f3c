// The page's property bag: the values the embedding page hands the control at load (its
// <param> elements), and where the control saves its persisted state.
//
// Names compare without regard to case and keep the case of their first write. Not
// thread-safe; the control uses it on its own thread.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "os/com/variant.h"

namespace pelisto {

class PropertyBag {
 public:
  // False when the bag holds no value of that name; `*value` is then untouched.
  bool Read(const std::string& name, os::Variant* value) const;
  // Replaces a value of the same name, else appends.
  void Write(const std::string& name, const os::Variant& value);

  // The values in the order they were first written.
  const std::vector<std::pair<std::string, os::Variant>>& entries() const { return entries_; }

 private:
  std::vector<std::pair<std::string, os::Variant>> entries_;
};

// Exchanges persisted values between the control and a bag, in either direction: loading
// reads each value (a missing value, or one that cannot be converted to the member's type,
// gives the default), saving writes it.
class PropExchange {
 public:
  PropExchange(PropertyBag* bag, bool loading) : bag_(bag), loading_(loading) {}

  bool IsLoading() const { return loading_; }

  // The state's version under "_Version", as (major << 16) | minor. Loading stores the bag's
  // version in `*loaded` (`current` when it has none); saving writes `current`.
  void ExchangeVersion(os::DWORD* loaded, os::DWORD current);
  // A BOOL as the system converts it (numbers, "True"/"False"); VARIANT_TRUE (-1) loads as 1.
  void Bool(const char* name, os::BOOL* value, os::BOOL default_value);
  void Text(const char* name, std::string* value, const std::string& default_value);

 private:
  PropertyBag* bag_;
  bool loading_;
};

}  // namespace pelisto
