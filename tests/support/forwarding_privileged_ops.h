// PrivilegedOps that hands every step to another implementation: the base for test and
// benchmark wrappers that record, time or fail a few steps and leave the rest as they are.
// `real` must outlive the object.
#pragma once

#include <string>
#include <string_view>

#include "control/privileged_ops.h"

namespace pelisto::testing {

class ForwardingPrivilegedOps : public PrivilegedOps {
 public:
  explicit ForwardingPrivilegedOps(PrivilegedOps& real) : real_(real) {}

  bool Brokered() const override { return real_.Brokered(); }
  int CopyFile(const std::string& source, const std::string& destination, os::BOOL fail_if_exists) override {
    return real_.CopyFile(source, destination, fail_if_exists);
  }
  int MoveFile(const std::string& source, const std::string& destination) override {
    return real_.MoveFile(source, destination);
  }
  int MoveFileReplacing(const std::string& source, const std::string& destination) override {
    return real_.MoveFileReplacing(source, destination);
  }
  int DeleteFile(const std::string& path) override { return real_.DeleteFile(path); }
  int CreateDirectory(const std::string& path) override { return real_.CreateDirectory(path); }
  os::HRESULT CreateDirectoryResult(const std::string& path) override { return real_.CreateDirectoryResult(path); }
  int WriteFileAtomically(const std::string& path, std::string_view bytes) override {
    return real_.WriteFileAtomically(path, bytes);
  }
  int CreateFileIfMissing(const std::string& path) override { return real_.CreateFileIfMissing(path); }
  int AppendToFile(const std::string& path, std::string_view text) override { return real_.AppendToFile(path, text); }
  int RunProgram(const std::string& path) override { return real_.RunProgram(path); }
  os::LONG CreateShellLink(const std::string& target, const std::string& link, const std::string& description,
                           const std::string& icon, const std::string& arguments) override {
    return real_.CreateShellLink(target, link, description, icon, arguments);
  }
  os::LONG CreateInternetShortcut(const std::string& url, const std::string& path, const std::string& description,
                                  const std::string& icon, os::LONG icon_index) override {
    return real_.CreateInternetShortcut(url, path, description, icon, icon_index);
  }
  int RegisterComponent(const std::string& path) override { return real_.RegisterComponent(path); }
  int UnregisterComponent(const std::string& path) override { return real_.UnregisterComponent(path); }
  int RegisterExtractedComponent(const std::string& path) override { return real_.RegisterExtractedComponent(path); }
  int WriteRegString(os::HKEY root, const std::string& subkey, const std::string& name,
                     const std::string& text) override {
    return real_.WriteRegString(root, subkey, name, text);
  }
  int WriteRegNumber(os::HKEY root, const std::string& subkey, const std::string& name, os::LONG number) override {
    return real_.WriteRegNumber(root, subkey, name, number);
  }
  std::string ReadRegString(os::HKEY root, const std::string& subkey, const std::string& name) override {
    return real_.ReadRegString(root, subkey, name);
  }

 protected:
  PrivilegedOps& real() { return real_; }

 private:
  PrivilegedOps& real_;
};

}  // namespace pelisto::testing
