// A small VARIANT: empty, 32-bit integer (VT_I4), boolean (VT_BOOL) or text (VT_BSTR).
//
// Text is narrow, in the image's ANSI code page (a real BSTR is wide; callers convert at the
// edges). A Variant is a plain value: copying copies the text, nothing is shared.
#pragma once

#include <string>
#include <string_view>

#include "os/base/types.h"

namespace os {

using VARTYPE = unsigned short;
using VARIANT_BOOL = short;

inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_BOOL = 11;

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// Flags of VariantChangeType. With VARIANT_ALPHABOOL a boolean becomes "True"/"False" as text;
// without it "-1"/"0", as the system converts.
inline constexpr unsigned short VARIANT_ALPHABOOL = 0x2;

class Variant {
 public:
  Variant() = default;
  static Variant Long(LONG value);
  static Variant Bool(bool value);
  static Variant Text(std::string_view text);

  VARTYPE vt() const { return vt_; }
  bool IsEmpty() const { return vt_ == VT_EMPTY; }
  // The value of the held kind; the accessors of other kinds return 0 / VARIANT_FALSE / "".
  LONG lVal() const { return vt_ == VT_I4 ? long_ : 0; }
  VARIANT_BOOL boolVal() const { return vt_ == VT_BOOL ? bool_ : VARIANT_FALSE; }
  const std::string& bstrVal() const;

  void Clear() { *this = Variant(); }

  // Converts in place, as VariantChangeType does; on failure the value is left as it was.
  HRESULT ChangeType(VARTYPE vt, unsigned short flags = 0);
  // Conveniences: the value as text or as a number, converted as ChangeType does.
  HRESULT ToText(std::string* out, unsigned short flags = 0) const;
  HRESULT ToLong(LONG* out) const;

  bool operator==(const Variant& o) const;

 private:
  VARTYPE vt_ = VT_EMPTY;
  LONG long_ = 0;
  VARIANT_BOOL bool_ = VARIANT_FALSE;
  std::string text_;
};

// Stores `src` converted to `vt` in `*dest` (which may be `src` itself). Conversions:
//   to VT_EMPTY   anything: the value is dropped.
//   to VT_I4      empty: 0; boolean: -1 / 0; text: a decimal number with optional sign,
//                 fraction and exponent (rounded half to even), or "&H" hexadecimal / "&O" octal,
//                 blanks around it allowed; DISP_E_TYPEMISMATCH for other text, DISP_E_OVERFLOW
//                 beyond 32 bits.
//   to VT_BOOL    empty: false; number: not 0; text: "True"/"False" (any case) or a number.
//   to VT_BSTR    empty: ""; number: decimal; boolean: "-1"/"0" ("True"/"False" with
//                 VARIANT_ALPHABOOL).
// Any other type: DISP_E_BADVARTYPE. On failure `*dest` is untouched.
HRESULT VariantChangeType(Variant* dest, const Variant& src, unsigned short flags, VARTYPE vt);

}  // namespace os
