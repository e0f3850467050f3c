#include "control/dispatch_table.h"

#include "os/base/text.h"
#include "os/com/hresult.h"

namespace pelisto {

const std::vector<DispatchMember>& DispatchTable() {
  using T = ValueType;
  // Members whose work comes with later parts of the control answer FALSE until then.
  static const std::vector<DispatchMember> table = {
      {DISPID_ABOUTBOX, "AboutBox", false, T::kVoid, {}},
      {1, "deleteZipFile", true, T::kBool, {}},
      {2, "registry", true, T::kBool, {}},
      {3, "getConfig", false, T::kBool, {{"strConfigURL", T::kText, false}}},
      {4, "setStyle", false, T::kVoid, {}},
      {5, "setIEResizable", false, T::kVoid, {{"bResizable", T::kLong, false}}},
      {6, "setCustomDir", false, T::kLong,
       {{"dirSymbol", T::kText, false}, {"localDirName", T::kText, true}}},
      {7, "configDir", true, T::kText, {}},
      {8, "enableLog", true, T::kBool, {}},
      {9, "selfUi", true, T::kBool, {}},
      {10, "dlgNotClose", true, T::kBool, {}},
      {11, "logLevel", true, T::kLong, {}},
      {12, "getPreCheck", false, T::kBool,
       {{"checkURL", T::kText, false}, {"fileType", T::kText, false}}},
      {13, "checkAndUpdate", false, T::kBool,
       {{"strConfigURL", T::kText, false}, {"ext", T::kText, false},
        {"fileType", T::kText, false}}},
      {14, "setStyle2", false, T::kVoid, {{"status", T::kText, false}}},
      {15, "protectSystemMenu", false, T::kVoid, {{"param", T::kLong, false}}},
      {16, "ChangeWindowState", false, T::kVoid, {{"param", T::kLong, false}}},
      {17, "language", true, T::kText, {}},
  };
  return table;
}

const DispatchMember* FindMember(DISPID id) {
  for (const DispatchMember& m : DispatchTable()) {
    if (m.id == id) return &m;
  }
  return nullptr;
}

os::HRESULT GetIDsOfNames(std::string_view name, DISPID* id) {
  for (const DispatchMember& m : DispatchTable()) {
    if (os::EqualsIgnoreCase(m.name, name)) {
      *id = m.id;
      return os::S_OK;
    }
  }
  return os::DISP_E_UNKNOWNNAME;
}

os::HRESULT CoerceArgument(const os::Variant& value, ValueType type, os::Variant* out) {
  switch (type) {
    case ValueType::kBool: return os::VariantChangeType(out, value, 0, os::VT_BOOL);
    case ValueType::kLong: return os::VariantChangeType(out, value, 0, os::VT_I4);
    case ValueType::kText: return os::VariantChangeType(out, value, 0, os::VT_BSTR);
    case ValueType::kVoid: break;
  }
  return os::DISP_E_TYPEMISMATCH;
}

}  // namespace pelisto
