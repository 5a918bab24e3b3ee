#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The cryptographic primitives that make keys and sign, from the system's crypto library, for
// the publisher; the sizes are crypto.h's. Binary values travel as byte strings. Any thread.

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
