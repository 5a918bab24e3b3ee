#include "publish/signing/minisign_signing.h"

#include <gtest/gtest.h>

#include <string>

#include "catalogue/minisign.h"

namespace {

TEST(MinisignSigning, SecretKeysOpenOnlyWithTheirPassword) {
  PasswordCost cheap{32768, 1 << 20};  // scrypt N = 1024: the format, not the cost, is tested
  std::string publicFile, secretFile, error;
  ASSERT_TRUE(MakeMinisignKeyPair("pass word", cheap, publicFile, secretFile, error)) << error;
  SealedMinisignKey sealed;
  ASSERT_TRUE(ParseMinisignSecretKeyFile(secretFile, sealed, error)) << error;
  EXPECT_TRUE(sealed.encrypted);
  MinisignSecretKey key;
  EXPECT_FALSE(UnsealMinisignSecretKey(sealed, "pass Word", key, error));
  EXPECT_EQ(error, "wrong password for the secret key");
  ASSERT_TRUE(UnsealMinisignSecretKey(sealed, "pass word", key, error)) << error;
  MinisignPublicKey publicKey;
  ASSERT_TRUE(ParseMinisignPublicKey(publicFile, publicKey));
  EXPECT_EQ(key.keyId, publicKey.keyId);
  VerifiedSignature verified;
  EXPECT_EQ(VerifyMinisignSignature(publicKey, "x", SignWithMinisignKey(key, "x", "timestamp:1"),
                                    verified),
            SignatureCheck::kValid);

  std::string damaged = secretFile;
  damaged[damaged.size() - 10] = damaged[damaged.size() - 10] == 'A' ? 'B' : 'A';
  EXPECT_FALSE(ParseMinisignSecretKeyFile(damaged, sealed, error) &&
               UnsealMinisignSecretKey(sealed, "pass word", key, error));
  EXPECT_FALSE(ParseMinisignSecretKeyFile(publicFile, sealed, error));
}

}  // namespace
