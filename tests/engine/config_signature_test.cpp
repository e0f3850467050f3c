// The signature primitives: the strict base64 of keys and signatures, the signature file's
// two forms, and Ed25519 over the exact bytes.
#include "engine/config_signature.h"

#include <gtest/gtest.h>

#include <string>

namespace pelisto::testing {
namespace {

struct Base64Case {
  const char* text;
  std::size_t size;
  bool valid;
};

class Base64Decode : public ::testing::TestWithParam<Base64Case> {};

TEST_P(Base64Decode, AcceptsOnlyTheExactCanonicalText) {
  const Base64Case& c = GetParam();
  std::string bytes = "untouched";
  EXPECT_EQ(DecodeBase64(c.text, c.size, &bytes), c.valid) << c.text;
  if (!c.valid) {
    EXPECT_EQ(bytes, "untouched") << c.text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Base64Decode,
    ::testing::Values(Base64Case{"YWJj", 3, true}, Base64Case{"YWI=", 2, true},
                      Base64Case{"YQ==", 1, true}, Base64Case{" \t\r\nYWJj\r\n ", 3, true},
                      Base64Case{"YWJj", 2, false},     // holds 3 bytes, not 2
                      Base64Case{"YWI", 2, false},      // padding missing
                      Base64Case{"YQ=A", 1, false},     // padding inside
                      Base64Case{"YW Jj", 3, false},    // a blank inside
                      Base64Case{"YW-j", 3, false},     // the URL alphabet
                      Base64Case{"YR==", 1, false},     // stray bits past the last byte
                      Base64Case{"", 1, false}, Base64Case{"====", 1, false}));

TEST(Base64, EncodingRoundTripsEveryLength) {
  std::string bytes;
  for (int n = 0; n < 70; ++n) {
    const std::string text = EncodeBase64(bytes);
    EXPECT_EQ(text.size(), 4u * ((bytes.size() + 2) / 3)) << n;
    std::string back;
    ASSERT_TRUE(DecodeBase64(text, bytes.size(), &back)) << text;
    EXPECT_EQ(back, bytes);
    bytes.push_back(static_cast<char>(n * 37 + 250));
  }
}

class Ed25519 : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(GenerateEd25519Key(&seed_, &public_key_)); }
  std::string Sign(const std::string& message) {
    std::string signature;
    EXPECT_TRUE(SignEd25519(seed_, message, &signature));
    return signature;
  }
  std::string seed_, public_key_;
};

TEST_F(Ed25519, AKeyAndItsSignatureHaveTheirSizes) {
  EXPECT_EQ(seed_.size(), kEd25519PrivateKeySize);
  EXPECT_EQ(public_key_.size(), kEd25519PublicKeySize);
  std::string again;
  ASSERT_TRUE(Ed25519PublicKeyOf(seed_, &again));
  EXPECT_EQ(again, public_key_);
  EXPECT_EQ(Sign("<list/>").size(), kEd25519SignatureSize);
  std::string other_seed, other_key;
  ASSERT_TRUE(GenerateEd25519Key(&other_seed, &other_key));
  EXPECT_NE(other_key, public_key_) << "each key is new";
}

TEST_F(Ed25519, VerifiesTheExactBytesOnly) {
  const std::string document = "<list><content name='a' url='a'/></list>\r\n";
  const std::string signature = Sign(document);
  EXPECT_TRUE(VerifyEd25519(public_key_, document, signature));
  for (std::size_t i = 0; i < document.size(); ++i) {
    std::string changed = document;
    changed[i] = static_cast<char>(changed[i] ^ 0x01);
    EXPECT_FALSE(VerifyEd25519(public_key_, changed, signature)) << "byte " << i;
  }
  EXPECT_FALSE(VerifyEd25519(public_key_, document + " ", signature));
  EXPECT_FALSE(VerifyEd25519(public_key_, document.substr(1), signature));
  std::string flipped = signature;
  flipped[10] = static_cast<char>(flipped[10] ^ 0x80);
  EXPECT_FALSE(VerifyEd25519(public_key_, document, flipped));
  EXPECT_FALSE(VerifyEd25519(public_key_, document, signature.substr(0, 63)));
  EXPECT_FALSE(VerifyEd25519(public_key_.substr(0, 31), document, signature));

  std::string other_seed, other_key;
  ASSERT_TRUE(GenerateEd25519Key(&other_seed, &other_key));
  EXPECT_FALSE(VerifyEd25519(other_key, document, signature)) << "another key's check";
}

TEST_F(Ed25519, AnEmptyDocumentIsSignedLikeAnyOther) {
  const std::string signature = Sign("");
  EXPECT_TRUE(VerifyEd25519(public_key_, "", signature));
  EXPECT_FALSE(VerifyEd25519(public_key_, std::string(1, '\0'), signature));
}

TEST_F(Ed25519, SigningRefusesASeedOfTheWrongSize) {
  std::string signature = "untouched";
  EXPECT_FALSE(SignEd25519(seed_.substr(1), "x", &signature));
  EXPECT_EQ(signature, "untouched");
  std::string key;
  EXPECT_FALSE(Ed25519PublicKeyOf(seed_ + "x", &key));
}

TEST_F(Ed25519, TheSignatureFileHoldsRawBytesOrTheirBase64) {
  const std::string signature = Sign("doc");
  std::string read;
  ASSERT_TRUE(ParseSignatureFile(signature, &read));
  EXPECT_EQ(read, signature);
  read.clear();
  ASSERT_TRUE(ParseSignatureFile("  " + EncodeBase64(signature) + "\r\n", &read));
  EXPECT_EQ(read, signature);

  for (const std::string& bad :
       {signature.substr(0, 63), signature + "\n", EncodeBase64(signature.substr(0, 63)),
        EncodeBase64(signature + "x"), EncodeBase64(signature).substr(0, 80), std::string(),
        std::string(88, '!')}) {
    std::string out = "untouched";
    EXPECT_FALSE(ParseSignatureFile(bad, &out)) << bad.size();
    EXPECT_EQ(out, "untouched");
  }
}

TEST(PublicKey, IsTheBase64OfThirtyTwoBytes) {
  std::string key;
  EXPECT_TRUE(ParsePublicKey(EncodeBase64(std::string(32, 'k')), &key));
  EXPECT_EQ(key, std::string(32, 'k'));
  EXPECT_FALSE(ParsePublicKey(EncodeBase64(std::string(31, 'k')), &key));
  EXPECT_FALSE(ParsePublicKey(EncodeBase64(std::string(33, 'k')), &key));
  EXPECT_FALSE(ParsePublicKey("not a key", &key));
  EXPECT_FALSE(ParsePublicKey(std::string(32, 'k'), &key)) << "raw bytes are no base64";
}

}  // namespace
}  // namespace pelisto::testing
