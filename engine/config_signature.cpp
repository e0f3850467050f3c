#include "engine/config_signature.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <memory>

#include "platform/openssl_handles.h"

namespace pelisto {
namespace {

using Key = EvpKey;
using DigestContext = EvpDigestContext;

const unsigned char* Bytes(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

int Sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

Key PrivateKey(std::string_view seed) {
  if (seed.size() != kEd25519PrivateKeySize) return nullptr;
  return Key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, Bytes(seed), seed.size()));
}

}  // namespace

std::string EncodeBase64(std::string_view bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), Bytes(bytes),
                                      static_cast<int>(bytes.size()));
  text.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return text;
}

bool DecodeBase64(std::string_view text, std::size_t size, std::string* bytes) {
  text = Trimmed(text);
  if (text.size() != 4 * ((size + 2) / 3)) return false;
  const std::size_t padding = (3 - size % 3) % 3;
  for (std::size_t i = 0; i < padding; ++i) {
    if (text[text.size() - 1 - i] != '=') return false;
  }
  const std::string_view digits = text.substr(0, text.size() - padding);
  std::string out;
  out.reserve(size + 2);
  unsigned bits = 0;
  int held = 0;
  for (char c : digits) {
    const int value = Sextet(c);
    if (value < 0) return false;
    bits = (bits << 6) | static_cast<unsigned>(value);
    held += 6;
    if (held >= 8) {
      held -= 8;
      out.push_back(static_cast<char>((bits >> held) & 0xFF));
    }
  }
  // Bits left over past the last byte must be zero, so one text stands for one value.
  if ((bits & ((1u << held) - 1)) != 0 || out.size() != size) return false;
  *bytes = std::move(out);
  return true;
}

bool ParsePublicKey(std::string_view text, std::string* key) {
  return DecodeBase64(text, kEd25519PublicKeySize, key);
}

bool ParseSignatureFile(std::string_view content, std::string* signature) {
  if (content.size() == kEd25519SignatureSize) {
    *signature = std::string(content);
    return true;
  }
  return DecodeBase64(content, kEd25519SignatureSize, signature);
}

bool VerifyEd25519(std::string_view public_key, std::string_view message,
                   std::string_view signature) {
  if (public_key.size() != kEd25519PublicKeySize || signature.size() != kEd25519SignatureSize) {
    return false;
  }
  Key key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, Bytes(public_key),
                                      public_key.size()));
  DigestContext context(EVP_MD_CTX_new());
  if (!key || !context) return false;
  // Ed25519 hashes the message itself: no digest, one call over the whole message.
  if (EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) return false;
  return EVP_DigestVerify(context.get(), Bytes(signature), signature.size(), Bytes(message),
                          message.size()) == 1;
}

bool GenerateEd25519Key(std::string* private_seed, std::string* public_key) {
  std::string seed(kEd25519PrivateKeySize, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(seed.data()), static_cast<int>(seed.size())) != 1) {
    return false;
  }
  std::string pub;
  if (!Ed25519PublicKeyOf(seed, &pub)) return false;
  *private_seed = std::move(seed);
  *public_key = std::move(pub);
  return true;
}

bool Ed25519PublicKeyOf(std::string_view private_seed, std::string* public_key) {
  Key key = PrivateKey(private_seed);
  if (!key) return false;
  std::string pub(kEd25519PublicKeySize, '\0');
  std::size_t size = pub.size();
  if (EVP_PKEY_get_raw_public_key(key.get(), reinterpret_cast<unsigned char*>(pub.data()), &size) != 1 ||
      size != kEd25519PublicKeySize) {
    return false;
  }
  *public_key = std::move(pub);
  return true;
}

bool SignEd25519(std::string_view private_seed, std::string_view message, std::string* signature) {
  Key key = PrivateKey(private_seed);
  DigestContext context(EVP_MD_CTX_new());
  if (!key || !context) return false;
  if (EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) return false;
  std::string out(kEd25519SignatureSize, '\0');
  std::size_t size = out.size();
  if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(out.data()), &size,
                     Bytes(message), message.size()) != 1 ||
      size != kEd25519SignatureSize) {
    return false;
  }
  *signature = std::move(out);
  return true;
}

}  // namespace pelisto
