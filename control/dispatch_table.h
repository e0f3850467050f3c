// The control's dispatch interface: every scriptable method and property with its dispatch
// identifier, its type and its parameters, and the coercion of script arguments to them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "os/base/types.h"
#include "os/com/variant.h"

namespace pelisto {

using DISPID = os::LONG;
inline constexpr DISPID DISPID_ABOUTBOX = -552;

// The dispatch identifiers of the type library, named once for the table and the control.
enum DispatchId : DISPID {
  kDispidAboutBox = DISPID_ABOUTBOX,
  kDispidDeleteZipFile = 1,
  kDispidRegistry = 2,
  kDispidGetConfig = 3,
  kDispidSetStyle = 4,
  kDispidSetIEResizable = 5,
  kDispidSetCustomDir = 6,
  kDispidConfigDir = 7,
  kDispidEnableLog = 8,
  kDispidSelfUi = 9,
  kDispidDlgNotClose = 10,
  kDispidLogLevel = 11,
  kDispidGetPreCheck = 12,
  kDispidCheckAndUpdate = 13,
  kDispidSetStyle2 = 14,
  kDispidProtectSystemMenu = 15,
  kDispidChangeWindowState = 16,
  kDispidLanguage = 17,
};

// IDispatch::Invoke flags.
inline constexpr os::WORD DISPATCH_METHOD = 0x1;
inline constexpr os::WORD DISPATCH_PROPERTYGET = 0x2;
inline constexpr os::WORD DISPATCH_PROPERTYPUT = 0x4;

enum class ValueType { kVoid, kBool, kLong, kText };

struct DispatchParam {
  const char* name;
  ValueType type;
  bool optional;  // a missing argument takes the type's empty value
};

struct DispatchMember {
  DISPID id;
  const char* name;
  bool is_property;
  ValueType type;  // a property's type, or a method's result
  std::vector<DispatchParam> params;
};

// Methods and properties in dispatch-identifier order.
const std::vector<DispatchMember>& DispatchTable();
// Null when the control has no such member.
const DispatchMember* FindMember(DISPID id);
// The member's identifier by name, compared without regard to case as IDispatch does;
// DISP_E_UNKNOWNNAME (and `*id` untouched) for an unknown name.
os::HRESULT GetIDsOfNames(std::string_view name, DISPID* id);

// Converts `value` to `type` as script arguments are converted (VariantChangeType); a BOOL
// becomes VT_BOOL. DISP_E_TYPEMISMATCH or DISP_E_OVERFLOW, `*out` untouched, when it cannot.
os::HRESULT CoerceArgument(const os::Variant& value, ValueType type, os::Variant* out);

}  // namespace pelisto
