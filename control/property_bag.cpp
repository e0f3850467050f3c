#include "control/property_bag.h"

#include "os/base/text.h"
#include "os/com/hresult.h"

namespace pelisto {

bool PropertyBag::Read(const std::string& name, os::Variant* value) const {
  for (const auto& [key, stored] : entries_) {
    if (os::EqualsIgnoreCase(key, name)) {
      *value = stored;
      return true;
    }
  }
  return false;
}

void PropertyBag::Write(const std::string& name, const os::Variant& value) {
  for (auto& [key, stored] : entries_) {
    if (os::EqualsIgnoreCase(key, name)) {
      stored = value;
      return;
    }
  }
  entries_.emplace_back(name, value);
}

void PropExchange::ExchangeVersion(os::DWORD* loaded, os::DWORD current) {
  constexpr char kName[] = "_Version";
  if (!loading_) {
    bag_->Write(kName, os::Variant::Long(static_cast<os::LONG>(current)));
    *loaded = current;
    return;
  }
  os::Variant stored;
  os::LONG version;
  if (bag_->Read(kName, &stored) && os::SUCCEEDED(stored.ToLong(&version))) {
    *loaded = static_cast<os::DWORD>(version);
  } else {
    *loaded = current;
  }
}

void PropExchange::Bool(const char* name, os::BOOL* value, os::BOOL default_value) {
  if (!loading_) {
    bag_->Write(name, os::Variant::Bool(*value != os::FALSE));
    return;
  }
  os::Variant stored, converted;
  if (!bag_->Read(name, &stored) ||
      os::FAILED(os::VariantChangeType(&converted, stored, 0, os::VT_BOOL))) {
    *value = default_value;
    return;
  }
  // A stored true arrives as VARIANT_TRUE; rules that test for exactly 1 need TRUE.
  *value = converted.boolVal() == os::VARIANT_TRUE ? os::TRUE : converted.boolVal();
}

void PropExchange::Text(const char* name, std::string* value, const std::string& default_value) {
  if (!loading_) {
    bag_->Write(name, os::Variant::Text(*value));
    return;
  }
  os::Variant stored;
  std::string text;
  if (bag_->Read(name, &stored) && os::SUCCEEDED(stored.ToText(&text))) {
    *value = std::move(text);
  } else {
    *value = default_value;
  }
}

}  // namespace pelisto
