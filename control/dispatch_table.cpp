#include "control/dispatch_table.h"

#include "os/base/text.h"
#include "os/com/hresult.h"

namespace pelisto {

const std::vector<DispatchMember>& DispatchTable() {
  using T = ValueType;
  // Members whose work comes with later parts of the control answer FALSE until then.
  static const std::vector<DispatchMember> table = {
      {kDispidAboutBox, "AboutBox", false, T::kVoid, {}},
      {kDispidDeleteZipFile, "deleteZipFile", true, T::kBool, {}},
      {kDispidRegistry, "registry", true, T::kBool, {}},
      {kDispidGetConfig, "getConfig", false, T::kBool, {{"strConfigURL", T::kText, false}}},
      {kDispidSetStyle, "setStyle", false, T::kVoid, {}},
      {kDispidSetIEResizable, "setIEResizable", false, T::kVoid,
       {{"bResizable", T::kLong, false}}},
      {kDispidSetCustomDir, "setCustomDir", false, T::kLong,
       {{"dirSymbol", T::kText, false}, {"localDirName", T::kText, true}}},
      {kDispidConfigDir, "configDir", true, T::kText, {}},
      {kDispidEnableLog, "enableLog", true, T::kBool, {}},
      {kDispidSelfUi, "selfUi", true, T::kBool, {}},
      {kDispidDlgNotClose, "dlgNotClose", true, T::kBool, {}},
      {kDispidLogLevel, "logLevel", true, T::kLong, {}},
      {kDispidGetPreCheck, "getPreCheck", false, T::kBool,
       {{"checkURL", T::kText, false}, {"fileType", T::kText, false}}},
      {kDispidCheckAndUpdate, "checkAndUpdate", false, T::kBool,
       {{"strConfigURL", T::kText, false}, {"ext", T::kText, false},
        {"fileType", T::kText, false}}},
      {kDispidSetStyle2, "setStyle2", false, T::kVoid, {{"status", T::kText, false}}},
      {kDispidProtectSystemMenu, "protectSystemMenu", false, T::kVoid,
       {{"param", T::kLong, false}}},
      {kDispidChangeWindowState, "ChangeWindowState", false, T::kVoid,
       {{"param", T::kLong, false}}},
      {kDispidLanguage, "language", true, T::kText, {}},
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
