// The exception that carries a failing HRESULT and the interface that reported it.
#pragma once

#include <stdexcept>
#include <string>

#include "os/base/types.h"

namespace os {

class ComError : public std::runtime_error {
 public:
  // `interface_name` names the failing interface ("IXMLDOMDocument"); `description` and
  // `source` are the error object's texts, empty when there is none.
  explicit ComError(HRESULT hr, std::string interface_name = {}, std::string description = {},
                    std::string source = {});

  HRESULT Error() const { return hr_; }
  const std::string& InterfaceName() const { return interface_name_; }
  const std::string& Description() const { return description_; }
  const std::string& Source() const { return source_; }
  // The system's text for the code ("Unspecified error").
  std::string ErrorMessage() const;

 private:
  HRESULT hr_;
  std::string interface_name_;
  std::string description_;
  std::string source_;
};

// The system's text for an HRESULT, as FormatMessage gives it (without a line end);
// "Unknown error 0x%08lX" for codes it has no text for.
std::string HResultText(HRESULT hr);

}  // namespace os
