#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// The cryptographic primitives of the updater and the publisher, from the system's crypto
// library: nothing here is written by hand. Binary values travel as byte strings. Any thread;
// one object per thread.

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

// Signs message with the key whose 32-byte seed is given; false on malformed input.
bool Ed25519Sign(std::string_view seed, std::string_view message, std::string& signature);

// A new key pair: the 32-byte seed and the 32-byte public key; false on failure.
bool Ed25519NewKeyPair(std::string& seed, std::string& publicKey);

// Bytes from the library's strong random generator.
std::string RandomBytes(size_t count);

// scrypt(password, salt, N = 2^nLog2, r, p) into size bytes; false for parameters the library
// does not take (r other than 8) or on failure (too little memory).
bool Scrypt(std::string_view password, std::string_view salt, unsigned nLog2, uint32_t r,
            uint32_t p, size_t size, std::string& out);
