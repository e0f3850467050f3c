#include "os/com/com_error.h"

#include <cstdio>

#include "os/base/error.h"
#include "os/com/hresult.h"

namespace os {
namespace {
std::string WhatText(HRESULT hr, const std::string& interface_name) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "COM error 0x%08lX", static_cast<unsigned long>(static_cast<DWORD>(hr)));
  std::string s = buf;
  if (!interface_name.empty()) s += " from " + interface_name;
  return s + ": " + HResultText(hr);
}
}  // namespace

ComError::ComError(HRESULT hr, std::string interface_name, std::string description, std::string source)
    : std::runtime_error(WhatText(hr, interface_name)),
      hr_(hr),
      interface_name_(std::move(interface_name)),
      description_(std::move(description)),
      source_(std::move(source)) {}

std::string ComError::ErrorMessage() const { return HResultText(hr_); }

std::string HResultText(HRESULT hr) {
  switch (hr) {
    case S_OK: return "The operation completed successfully.";
    case S_FALSE: return "Incorrect function.";
    case E_NOTIMPL: return "Not implemented";
    case E_NOINTERFACE: return "No such interface supported";
    case E_POINTER: return "Invalid pointer";
    case E_ABORT: return "Operation aborted";
    case E_FAIL: return "Unspecified error";
    case E_UNEXPECTED: return "Catastrophic failure";
    case CO_E_NOTINITIALIZED: return "CoInitialize has not been called.";
    case CO_E_SERVER_EXEC_FAILURE: return "Server execution failed";
    case REGDB_E_CLASSNOTREG: return "Class not registered";
    case RPC_E_CHANGED_MODE: return "Cannot change thread mode after it is set.";
    case RPC_E_DISCONNECTED: return "The object invoked has disconnected from its clients.";
    case RPC_E_TIMEOUT: return "This operation returned because the timeout period expired.";
    case DISP_E_MEMBERNOTFOUND: return "Member not found.";
    case DISP_E_UNKNOWNNAME: return "Unknown name.";
    case DISP_E_TYPEMISMATCH: return "Type mismatch.";
    case DISP_E_BADPARAMCOUNT: return "Invalid number of parameters.";
    case DISP_E_PARAMNOTOPTIONAL: return "Parameter not optional.";
    case DISP_E_EXCEPTION: return "Exception occurred.";
    case DISP_E_BADVARTYPE: return "Bad variable type.";
    case DISP_E_OVERFLOW: return "Out of present range.";
    case CLASS_E_NOAGGREGATION: return "Class does not support aggregation (or class object is remote)";
    case SELFREG_E_TYPELIB: return "Failed to register/unregister type library";
    case SELFREG_E_CLASS: return "Failed to register/unregister class";
    default: break;
  }
  DWORD u = static_cast<DWORD>(hr);
  if ((u & 0xFFFF0000u) == 0x80070000u) return Win32ErrorText(u & 0xFFFF);
  char buf[48];
  std::snprintf(buf, sizeof buf, "Unknown error 0x%08lX", static_cast<unsigned long>(u));
  return buf;
}

}  // namespace os
