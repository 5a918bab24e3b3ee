#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Secret keys and signatures in minisign's file formats: making a key pair, opening a secret key
// file (sealed with scrypt and a password, or stored as it is) and signing. The client only checks
// (catalogue/minisign.h). Binary values travel as byte strings. Any thread.

// A secret key ready to sign.
struct MinisignSecretKey {
  std::string keyId;      // 8 bytes
  std::string seed;       // 32 bytes: the Ed25519 secret
  std::string publicKey;  // 32 bytes
};

// A secret key file as stored, maybe still locked by its password.
struct SealedMinisignKey {
  bool encrypted = false;
  std::string salt;
  uint64_t opsLimit = 0;
  uint64_t memLimit = 0;
  std::string sealed;  // key id, secret key and checksum, xored with the password's key stream
};

// Reads a secret key file; false with the reason in error when it is none minisign makes.
bool ParseMinisignSecretKeyFile(std::string_view text, SealedMinisignKey& key, std::string& error);

// Opens a sealed key with its password (ignored for a key without one); false with the reason
// in error for a wrong password or a damaged key.
bool UnsealMinisignSecretKey(const SealedMinisignKey& sealed, std::string_view password,
                             MinisignSecretKey& key, std::string& error);

// The cost of deriving a key from a password, in minisign's terms (its defaults: 1 GiB, about
// two seconds).
struct PasswordCost {
  uint64_t opsLimit = 33554432;
  uint64_t memLimit = 1073741824;
};

// A new key pair as the texts of a public key file and a secret key file; the secret key is
// sealed with the password unless it is empty. False with the reason in error on failure.
bool MakeMinisignKeyPair(std::string_view password, const PasswordCost& cost,
                         std::string& publicKeyFile, std::string& secretKeyFile,
                         std::string& error);

// The text of a .minisig file for content in the prehashed "ED" form, with trustedComment (one
// line) signed along; the signature is checked against the key's public half before it is
// returned. "" on failure.
std::string SignWithMinisignKey(const MinisignSecretKey& key, std::string_view content,
                                std::string_view trustedComment);
