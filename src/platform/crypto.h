#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// The cryptographic primitives that check, from the system's crypto library: nothing here is
// written by hand. Those that make keys and sign are apart (crypto_signing.h), so that a program
// that only checks links none of them. Binary values travel as byte strings. Any thread; one
// object per thread.

constexpr size_t kEd25519SeedBytes = 32;
constexpr size_t kEd25519PublicKeyBytes = 32;
constexpr size_t kEd25519SignatureBytes = 64;

// SHA-256 of a stream of bytes, fed in pieces.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const void* data, size_t size);
  // The digest of everything fed so far as 64 lower-case hex digits; the object then starts over.
  std::string HexDigest();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Unkeyed BLAKE2b of data with a digest of digestBytes: 20, 32, 48 or 64; "" for other sizes.
std::string Blake2b(std::string_view data, size_t digestBytes);

// True when signature is a valid Ed25519 signature of message by publicKey; false for any
// malformed input.
bool Ed25519Verify(std::string_view publicKey, std::string_view message,
                   std::string_view signature);
