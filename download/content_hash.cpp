#include "download/content_hash.h"

#include <openssl/evp.h>

#include <memory>
#include <vector>

#include "os/base/text.h"
#include "platform/openssl_handles.h"
#include "os/fs/file_api.h"

namespace pelisto {
namespace {

constexpr std::size_t kBlock = 64 * 1024;

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

struct HandleClose {
  void operator()(os::KernelObject* h) const { os::CloseHandle(h); }
};

}  // namespace

bool IsSha256Text(std::string_view text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    if (!IsHexDigit(c)) return false;
  }
  return true;
}

bool FileSha256(const std::string& path, std::string* digest) {
  os::HANDLE raw = os::CreateFileA(path, os::GENERIC_READ, os::FILE_SHARE_READ, nullptr,
                                   os::OPEN_EXISTING, os::FILE_ATTRIBUTE_NORMAL, nullptr);
  if (!os::IsValidHandle(raw)) return false;
  std::unique_ptr<os::KernelObject, HandleClose> file(raw);
  EvpDigestContext context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return false;
  std::vector<unsigned char> block(kBlock);
  for (;;) {
    os::DWORD read = 0;
    if (!os::ReadFile(file.get(), block.data(), static_cast<os::DWORD>(block.size()), &read, nullptr)) {
      return false;
    }
    if (read == 0) break;
    if (EVP_DigestUpdate(context.get(), block.data(), read) != 1) return false;
  }
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(context.get(), value, &size) != 1) return false;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < size; ++i) {
    text.push_back(kHex[value[i] >> 4]);
    text.push_back(kHex[value[i] & 0xF]);
  }
  *digest = std::move(text);
  return true;
}

bool ContentCheck::Accepts(const std::string& path) {
  if (sha256_.empty()) return true;
  checked_ = true;
  actual_.clear();
  refused_ = !FileSha256(path, &actual_) || !os::EqualsIgnoreCase(actual_, sha256_);
  return !refused_;
}

}  // namespace pelisto
