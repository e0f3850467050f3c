#include "host/publisher_tool.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

#include "engine/config_signature.h"
#include "os/fs/host_file.h"
#include "platform/openssl_handles.h"
#include "platform/xml_bounds.h"

namespace pelisto {
namespace {

// A PEM key file is a few hundred bytes; anything near this is no key.
constexpr std::size_t kMaxKeyFileBytes = 64 * 1024;

using Key = EvpKey;

// An encrypted key is refused rather than prompting for its passphrase on the terminal.
int NoPassphrase(char*, int, int, void*) { return -1; }

int Fail(std::FILE* err, const std::string& message) {
  std::fprintf(err, "pelisto: %s\n", message.c_str());
  return 1;
}

}  // namespace

bool ReadEd25519PrivateKeyPem(const std::string& pem, std::string* seed, std::string* error) {
  Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  Key key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassphrase, nullptr) : nullptr);
  ERR_clear_error();
  if (!key) {
    *error = "no unencrypted PEM private key";
    return false;
  }
  if (EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
    *error = "not an Ed25519 key";
    return false;
  }
  std::string raw(kEd25519PrivateKeySize, '\0');
  std::size_t size = raw.size();
  if (EVP_PKEY_get_raw_private_key(key.get(), reinterpret_cast<unsigned char*>(raw.data()),
                                   &size) != 1 ||
      size != kEd25519PrivateKeySize) {
    ERR_clear_error();
    *error = "the Ed25519 key cannot be read";
    return false;
  }
  *seed = std::move(raw);
  return true;
}

bool WriteEd25519PrivateKeyPem(const std::string& seed, std::string* pem) {
  Key key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr,
                                       reinterpret_cast<const unsigned char*>(seed.data()),
                                       seed.size()));
  Bio bio(BIO_new(BIO_s_mem()));
  // PEM_write_bio_PrivateKey writes PKCS#8 ("BEGIN PRIVATE KEY"), unencrypted here.
  if (!key || !bio ||
      PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    ERR_clear_error();
    return false;
  }
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  if (size <= 0 || data == nullptr) return false;
  pem->assign(data, static_cast<std::size_t>(size));
  return true;
}

int RunKeygen(const std::string& key_path, std::FILE* out, std::FILE* err) {
  std::string seed, public_key, pem, error;
  if (!GenerateEd25519Key(&seed, &public_key) || !WriteEd25519PrivateKeyPem(seed, &pem)) {
    return Fail(err, "keygen: the key pair could not be made");
  }
  if (!os::CreatePrivateHostFile(key_path, pem, &error)) return Fail(err, "keygen: " + error);
  std::fprintf(out, "%s\n", EncodeBase64(public_key).c_str());
  std::fprintf(err, "pelisto: private key written to %s (keep it secret); the line above is "
                    "the page's configPublicKey\n", key_path.c_str());
  return 0;
}

int RunSign(const std::string& key_path, const std::string& document_path, std::FILE* out,
            std::FILE* err) {
  std::string pem, seed, document, signature, public_key, error;
  if (!os::ReadHostFileBounded(key_path, kMaxKeyFileBytes, &pem, &error)) {
    return Fail(err, "sign: " + error);
  }
  if (!ReadEd25519PrivateKeyPem(pem, &seed, &error)) {
    return Fail(err, "sign: " + key_path + ": " + error);
  }
  // The control refuses a configuration past this bound; a signature of one helps no one.
  if (!os::ReadHostFileBounded(document_path, kConfigBounds.max_document_bytes, &document, &error)) {
    return Fail(err, "sign: " + error);
  }
  if (!SignEd25519(seed, document, &signature) || !Ed25519PublicKeyOf(seed, &public_key)) {
    return Fail(err, "sign: the signature could not be made");
  }
  const std::string signature_path = document_path + kSignatureSuffix;
  if (!os::ReplaceHostFile(signature_path, EncodeBase64(signature) + "\n", &error)) {
    return Fail(err, "sign: " + error);
  }
  std::fprintf(out, "%s\n", signature_path.c_str());
  std::fprintf(out, "configPublicKey %s\n", EncodeBase64(public_key).c_str());
  return 0;
}

}  // namespace pelisto
