// Detached Ed25519 signatures of the configuration document: the publisher's key as the page
// carries it (configPublicKey, base64 of 32 bytes), the signature file published beside the
// document (its address + ".sig": the raw 64 bytes or their base64), and the one-shot
// signing and verification over the document's exact bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pelisto {

inline constexpr char kSignatureSuffix[] = ".sig";
inline constexpr std::size_t kEd25519PublicKeySize = 32;
inline constexpr std::size_t kEd25519PrivateKeySize = 32;  // the seed
inline constexpr std::size_t kEd25519SignatureSize = 64;
// A signature file longer than this is malformed unread (base64 of 64 bytes is 88 characters).
inline constexpr std::size_t kMaxSignatureFileBytes = 4096;

// Standard base64 with "=" padding, no line breaks.
std::string EncodeBase64(std::string_view bytes);

// Decodes standard base64 that holds exactly `size` bytes: blanks, tabs, CR and LF around the
// text are allowed, nothing inside it; the padding must be the one `size` calls for. False
// (and `*bytes` untouched) for anything else.
bool DecodeBase64(std::string_view text, std::size_t size, std::string* bytes);

// The raw key of a configPublicKey value; false when it is not the base64 of 32 bytes.
bool ParsePublicKey(std::string_view text, std::string* key);

// The signature of a signature file: exactly 64 bytes are the raw signature; anything else
// must be the base64 of 64 bytes (DecodeBase64). False when it is neither.
bool ParseSignatureFile(std::string_view content, std::string* signature);

// True when `signature` (64 bytes) is `public_key`'s (32 bytes) Ed25519 signature of exactly
// `message`. Wrong sizes are false.
bool VerifyEd25519(std::string_view public_key, std::string_view message,
                   std::string_view signature);

// The publisher's side. A new key: its 32-byte seed and the public key belonging to it.
// False only when the system's random source or the library fails.
bool GenerateEd25519Key(std::string* private_seed, std::string* public_key);
// The public key of a 32-byte seed; false for another size.
bool Ed25519PublicKeyOf(std::string_view private_seed, std::string* public_key);
// The 64-byte signature of `message` with the key of `private_seed`; false for a seed of the
// wrong size.
bool SignEd25519(std::string_view private_seed, std::string_view message, std::string* signature);

}  // namespace pelisto
