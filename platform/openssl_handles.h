// Owners of the OpenSSL objects the signature check, the publisher's tool and the content
// hash use, so that every early return frees them.
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>

#include <memory>

namespace pelisto {

struct OpensslFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
  void operator()(BIO* bio) const { BIO_free(bio); }
};

using EvpKey = std::unique_ptr<EVP_PKEY, OpensslFree>;
using EvpDigestContext = std::unique_ptr<EVP_MD_CTX, OpensslFree>;
using Bio = std::unique_ptr<BIO, OpensslFree>;

}  // namespace pelisto
