#include "catalogue/minisign.h"

#include <gtest/gtest.h>

#include <string>

#include "catalogue/base64.h"
#include "publish/signing/minisign_signing.h"

namespace {

// A fresh key pair without a password, ready to sign and to check.
struct TestKeys {
  TestKeys() {
    std::string publicFile, secretFile, error;
    SealedMinisignKey sealed;
    EXPECT_TRUE(MakeMinisignKeyPair("", PasswordCost(), publicFile, secretFile, error)) << error;
    EXPECT_TRUE(ParseMinisignPublicKey(publicFile, publicKey));
    EXPECT_TRUE(ParseMinisignSecretKeyFile(secretFile, sealed, error)) << error;
    EXPECT_TRUE(UnsealMinisignSecretKey(sealed, "", secretKey, error)) << error;
  }
  MinisignPublicKey publicKey;
  MinisignSecretKey secretKey;
};

SignatureCheck Check(const MinisignPublicKey& key, const std::string& content,
                     const std::string& signature) {
  VerifiedSignature verified;
  return VerifyMinisignSignature(key, content, signature, verified);
}

// Replaces the line'th line (from 0) of a signature file.
std::string WithLine(const std::string& signature, int line, const std::string& text) {
  size_t start = 0;
  for (int i = 0; i < line; ++i) {
    start = signature.find('\n', start) + 1;
  }
  return signature.substr(0, start) + text + signature.substr(signature.find('\n', start));
}

TEST(Minisign, RefusesEverySignatureThatIsNotTheKeysOwnOfTheseBytes) {
  TestKeys keys, other;
  const std::string manifest = "\"paths\":[\"\":[\"a\":{\"l\":\"1\",\"v\":\"1\"}]]\n";
  const std::string signature =
      SignWithMinisignKey(keys.secretKey, manifest, "timestamp:1700000000\tfile:version.txt");
  ASSERT_FALSE(signature.empty());

  VerifiedSignature verified;
  ASSERT_EQ(VerifyMinisignSignature(keys.publicKey, manifest, signature, verified),
            SignatureCheck::kValid);
  EXPECT_EQ(verified.timestamp, 1700000000);
  EXPECT_EQ(verified.trustedComment, "timestamp:1700000000\tfile:version.txt");

  std::string altered = manifest;
  altered[5] ^= 1;
  MinisignPublicKey sameIdOtherKey{keys.publicKey.keyId, other.publicKey.publicKey};
  std::string line2 = signature.substr(signature.find('\n') + 1);
  line2 = line2.substr(0, line2.find('\n'));
  std::string bytes;
  ASSERT_TRUE(DecodeBase64(line2, bytes));
  const struct {
    const char* what;
    MinisignPublicKey key;
    std::string content;
    std::string signature;
    SignatureCheck expected;
  } cases[] = {
      {"one byte altered", keys.publicKey, altered, signature, SignatureCheck::kBadSignature},
      {"another key", other.publicKey, manifest, signature, SignatureCheck::kOtherKey},
      {"another key, same id", sameIdOtherKey, manifest, signature, SignatureCheck::kBadSignature},
      {"another manifest's signature", keys.publicKey, manifest,
       SignWithMinisignKey(keys.secretKey, altered, "timestamp:1700000001"),
       SignatureCheck::kBadSignature},
      {"trusted comment altered", keys.publicKey, manifest,
       WithLine(signature, 2, "trusted comment: timestamp:1800000000\tfile:version.txt"),
       SignatureCheck::kBadTrustedComment},
      {"no timestamp", keys.publicKey, manifest,
       SignWithMinisignKey(keys.secretKey, manifest, "file:version.txt"),
       SignatureCheck::kNoTimestamp},
      {"missing", keys.publicKey, manifest, "", SignatureCheck::kMalformed},
      {"an HTML error page", keys.publicKey, manifest, "<html>404</html>\n",
       SignatureCheck::kMalformed},
      {"cut short", keys.publicKey, manifest, signature.substr(0, signature.size() - 20),
       SignatureCheck::kMalformed},
      {"unknown algorithm", keys.publicKey, manifest,
       WithLine(signature, 1, EncodeBase64("Xx" + bytes.substr(2))), SignatureCheck::kMalformed},
      {"CRLF line ends", keys.publicKey, manifest,
       WithLine(WithLine(signature, 0, "untrusted comment: x\r"), 1, line2 + "\r"),
       SignatureCheck::kValid},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Check(c.key, c.content, c.signature), c.expected) << c.what;
  }
}

TEST(Minisign, TimestampIsOnePlainNumberField) {
  const struct {
    const char* comment;
    bool found;
    int64_t seconds;
  } cases[] = {
      {"timestamp:1700000000\tfile:version.txt\thashed", true, 1700000000},
      {"file:version.txt\ttimestamp:0", true, 0},
      {"timestamp:", false, 0},
      {"timestamp:12a", false, 0},
      {"timestamp:-5", false, 0},
      {"timestamp:1\ttimestamp:2", false, 0},
      {"my timestamp:5", false, 0},
      {"timestamp:1234567890123456789", false, 0},
  };
  for (const auto& c : cases) {
    int64_t seconds = -1;
    EXPECT_EQ(TrustedCommentTimestamp(c.comment, seconds), c.found) << c.comment;
    if (c.found) {
      EXPECT_EQ(seconds, c.seconds) << c.comment;
    }
  }
}

TEST(Minisign, PublicKeysReadFromTheLineOrTheFile) {
  TestKeys keys;
  std::string line = EncodeBase64("Ed" + keys.publicKey.keyId + keys.publicKey.publicKey);
  const struct {
    std::string text;
    bool accepted;
  } cases[] = {
      {line, true},
      {"  " + line + "\r\n", true},
      {"untrusted comment: minisign public key\n" + line + "\n", true},
      {line.substr(4), false},
      {EncodeBase64("Xy" + keys.publicKey.keyId + keys.publicKey.publicKey), false},
      {line + "\n" + line, false},
  };
  for (const auto& c : cases) {
    MinisignPublicKey key;
    EXPECT_EQ(ParseMinisignPublicKey(c.text, key), c.accepted) << c.text;
    if (c.accepted) {
      EXPECT_EQ(key.publicKey, keys.publicKey.publicKey);
    }
  }
}

TEST(Base64, RoundTripsAndRefusesSloppyText) {
  const std::string samples[] = {"", "f", "fo", "foo", "foob", std::string("\xff\x00\x80", 3)};
  for (const std::string& bytes : samples) {
    std::string back;
    EXPECT_TRUE(DecodeBase64(EncodeBase64(bytes), back));
    EXPECT_EQ(back, bytes);
  }
  EXPECT_EQ(EncodeBase64("foob"), "Zm9vYg==");
  std::string out;
  for (const char* bad : {"Zm9vYg=", "Zm9vYg", "Zm9v Yg==", "Zm=vYg==", "Zm9vYh==", "Zg=a"}) {
    EXPECT_FALSE(DecodeBase64(bad, out)) << bad;
  }
}

}  // namespace
