#include "os/com/variant.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

#include "os/base/text.h"
#include "os/com/hresult.h"

namespace os {
namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// "&H1F" / "&O17": digits of the base only, at most 32 bits; the value is taken as a signed
// 32-bit pattern, so "&HFFFFFFFF" is -1 as the system reads it.
HRESULT ParseRadix(std::string_view digits, int base, LONG* out) {
  if (digits.empty()) return DISP_E_TYPEMISMATCH;
  std::uint64_t value = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else {
      return DISP_E_TYPEMISMATCH;
    }
    if (d >= base) return DISP_E_TYPEMISMATCH;
    value = value * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    if (value > 0xFFFFFFFFu) return DISP_E_OVERFLOW;
  }
  *out = static_cast<LONG>(static_cast<std::uint32_t>(value));
  return S_OK;
}

// Decimal text with optional sign, fraction and exponent. The form is checked by hand so that
// "inf", "nan" and the like are not accepted.
HRESULT ParseDecimal(std::string_view s, double* out) {
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return DISP_E_TYPEMISMATCH;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t exp_digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++exp_digits;
    if (exp_digits == 0) return DISP_E_TYPEMISMATCH;
  }
  if (i != s.size()) return DISP_E_TYPEMISMATCH;
  if (s.front() == '+') s.remove_prefix(1);
  // from_chars, unlike strtod, ignores the process locale's decimal point.
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
  if (ec == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
  if (ec != std::errc() || end != s.data() + s.size()) return DISP_E_TYPEMISMATCH;
  return S_OK;
}

HRESULT TextToLong(std::string_view text, LONG* out) {
  std::string_view s = TrimBlanks(text);
  if (s.size() >= 2 && s[0] == '&') {
    if (s[1] == 'H' || s[1] == 'h') return ParseRadix(s.substr(2), 16, out);
    if (s[1] == 'O' || s[1] == 'o') return ParseRadix(s.substr(2), 8, out);
    return DISP_E_TYPEMISMATCH;
  }
  double value;
  if (HRESULT hr = ParseDecimal(s, &value); FAILED(hr)) return hr;
  // Half-way values go to the even neighbour, as the system rounds.
  double rounded = std::nearbyint(value);
  if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) return DISP_E_OVERFLOW;
  *out = static_cast<LONG>(rounded);
  return S_OK;
}

HRESULT TextToBool(std::string_view text, bool* out) {
  std::string_view s = TrimBlanks(text);
  if (EqualsIgnoreCase(s, "True")) {
    *out = true;
    return S_OK;
  }
  if (EqualsIgnoreCase(s, "False")) {
    *out = false;
    return S_OK;
  }
  double value;
  if (s.size() >= 2 && s[0] == '&') {
    LONG n;
    if (HRESULT hr = TextToLong(s, &n); FAILED(hr)) return hr;
    *out = n != 0;
    return S_OK;
  }
  if (HRESULT hr = ParseDecimal(s, &value); FAILED(hr)) return hr;
  *out = value != 0.0;
  return S_OK;
}
}  // namespace

Variant Variant::Long(LONG value) {
  Variant v;
  v.vt_ = VT_I4;
  v.long_ = value;
  return v;
}

Variant Variant::Bool(bool value) {
  Variant v;
  v.vt_ = VT_BOOL;
  v.bool_ = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

Variant Variant::Text(std::string_view text) {
  Variant v;
  v.vt_ = VT_BSTR;
  v.text_ = text;
  return v;
}

const std::string& Variant::bstrVal() const {
  static const std::string kEmpty;
  return vt_ == VT_BSTR ? text_ : kEmpty;
}

HRESULT Variant::ChangeType(VARTYPE vt, unsigned short flags) {
  return VariantChangeType(this, *this, flags, vt);
}

HRESULT Variant::ToText(std::string* out, unsigned short flags) const {
  Variant v;
  HRESULT hr = VariantChangeType(&v, *this, flags, VT_BSTR);
  if (SUCCEEDED(hr)) *out = v.text_;
  return hr;
}

HRESULT Variant::ToLong(LONG* out) const {
  Variant v;
  HRESULT hr = VariantChangeType(&v, *this, 0, VT_I4);
  if (SUCCEEDED(hr)) *out = v.long_;
  return hr;
}

bool Variant::operator==(const Variant& o) const {
  if (vt_ != o.vt_) return false;
  switch (vt_) {
    case VT_I4: return long_ == o.long_;
    case VT_BOOL: return bool_ == o.bool_;
    case VT_BSTR: return text_ == o.text_;
    default: return true;
  }
}

HRESULT VariantChangeType(Variant* dest, const Variant& src, unsigned short flags, VARTYPE vt) {
  if (dest == nullptr) return E_INVALIDARG;
  Variant result;
  switch (vt) {
    case VT_EMPTY:
      break;
    case VT_I4: {
      LONG n = 0;
      if (src.vt() == VT_I4) {
        n = src.lVal();
      } else if (src.vt() == VT_BOOL) {
        n = src.boolVal();
      } else if (src.vt() == VT_BSTR) {
        if (HRESULT hr = TextToLong(src.bstrVal(), &n); FAILED(hr)) return hr;
      }
      result = Variant::Long(n);
      break;
    }
    case VT_BOOL: {
      bool b = false;
      if (src.vt() == VT_I4) {
        b = src.lVal() != 0;
      } else if (src.vt() == VT_BOOL) {
        b = src.boolVal() != VARIANT_FALSE;
      } else if (src.vt() == VT_BSTR) {
        if (HRESULT hr = TextToBool(src.bstrVal(), &b); FAILED(hr)) return hr;
      }
      result = Variant::Bool(b);
      break;
    }
    case VT_BSTR: {
      std::string text;
      if (src.vt() == VT_I4) {
        text = std::to_string(src.lVal());
      } else if (src.vt() == VT_BOOL) {
        bool b = src.boolVal() != VARIANT_FALSE;
        text = (flags & VARIANT_ALPHABOOL) ? (b ? "True" : "False") : (b ? "-1" : "0");
      } else if (src.vt() == VT_BSTR) {
        text = src.bstrVal();
      }
      result = Variant::Text(text);
      break;
    }
    default:
      return DISP_E_BADVARTYPE;
  }
  *dest = std::move(result);
  return S_OK;
}

}  // namespace os
