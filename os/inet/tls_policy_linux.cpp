#include "os/inet/tls_policy.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>


#include "os/inet/wininet.h"

namespace os::inet {
namespace {

int PolicyIndex() {
  static int index = [] { return SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr); }();
  return index;
}

bool IsUnknownCaFault(int fault) {
  switch (fault) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
      return true;
    default:
      return false;
  }
}

bool IsDateFault(int fault) {
  return fault == X509_V_ERR_CERT_HAS_EXPIRED || fault == X509_V_ERR_CERT_NOT_YET_VALID;
}

// OpenSSL calls this for every certificate of the chain; a fault the policy ignores is
// cleared so that the final verdict (which libcurl reads) stays "ok".
int VerifyCallback(int preverify_ok, X509_STORE_CTX* store) {
  if (preverify_ok == 1) return 1;
  int fault = X509_STORE_CTX_get_error(store);
  auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto* policy = ssl == nullptr ? nullptr
                                : static_cast<TlsPolicy*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), PolicyIndex()));
  if (policy == nullptr) return 0;
  if ((policy->ignore_unknown_ca && IsUnknownCaFault(fault)) || (policy->ignore_date && IsDateFault(fault))) {
    X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
  }
  if (policy->first_fault == 0) policy->first_fault = fault;
  return 0;
}

}  // namespace

CURLcode ApplyTlsPolicy(CURL*, void* ssl_ctx, void* policy) {
  auto* ctx = static_cast<SSL_CTX*>(ssl_ctx);
  if (SSL_CTX_set_ex_data(ctx, PolicyIndex(), policy) != 1) return CURLE_SSL_CERTPROBLEM;
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, VerifyCallback);
  return CURLE_OK;
}

DWORD WinInetErrorFromCertificateFault(int fault) {
  if (IsUnknownCaFault(fault)) return ERROR_INTERNET_INVALID_CA;
  if (IsDateFault(fault)) return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
  if (fault == X509_V_ERR_CERT_REVOKED) return ERROR_INTERNET_SEC_CERT_REVOKED;
  return ERROR_INTERNET_SEC_INVALID_CERT;
}

}  // namespace os::inet
