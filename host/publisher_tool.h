// The publisher's side of signed configurations: `pelisto keygen` makes an Ed25519 key pair
// (the private key as a PKCS#8 PEM file only its owner can read, the public key printed as
// the base64 a page gives the control in configPublicKey), and `pelisto sign` writes the
// detached signature of a document beside it (its name + ".sig", one line of base64).
// Both act on host files, not on a machine image.
#pragma once

#include <cstdio>
#include <string>

namespace pelisto {

// The key file keygen writes when no --out names one.
inline constexpr char kDefaultKeyFile[] = "pelisto-signing-key.pem";

// The 32-byte seed of the Ed25519 private key in the PEM text `pem`. False with a reason in
// `*error` for anything else: no PEM private key, an encrypted one, another kind of key.
bool ReadEd25519PrivateKeyPem(const std::string& pem, std::string* seed, std::string* error);
// The PKCS#8 PEM text of the Ed25519 private key with `seed`.
bool WriteEd25519PrivateKeyPem(const std::string& seed, std::string* pem);

// keygen: writes a new private key to `key_path`, never replacing an existing file, and
// prints the public key's base64 on `out` (one line). 0 on success, else 1 after a line on
// `err`.
int RunKeygen(const std::string& key_path, std::FILE* out, std::FILE* err);

// sign: signs the exact bytes of `document_path` with the key in `key_path` and writes
// `document_path` + ".sig"; prints that path and the key's public base64 on `out`. 0 on
// success, else 1 after a line on `err` (and no signature file is written).
int RunSign(const std::string& key_path, const std::string& document_path, std::FILE* out,
            std::FILE* err);

}  // namespace pelisto
