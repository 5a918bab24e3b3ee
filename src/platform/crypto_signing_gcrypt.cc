#include "platform/crypto_signing.h"

#include "platform/crypto.h"
#include "platform/crypto_gcrypt.h"

namespace {

// The raw bytes of the first element after token in expression; "" when absent.
std::string TokenData(gcry_sexp_t expression, const char* token) {
  Sexp list;
  list.value = gcry_sexp_find_token(expression, token, 0);
  if (list.value == nullptr) {
    return {};
  }
  size_t size = 0;
  const char* data = gcry_sexp_nth_data(list.value, 1, &size);
  return data != nullptr ? std::string(data, size) : std::string();
}

}  // namespace

bool Ed25519Sign(std::string_view seed, std::string_view message, std::string& signature) {
  InitialiseGcrypt();
  if (seed.size() != kEd25519SeedBytes) {
    return false;
  }
  Sexp key, data, result;
  if (gcry_sexp_build(&key.value, nullptr,
                      "(private-key (ecc (curve Ed25519) (flags eddsa) (d %b)))",
                      static_cast<int>(seed.size()), seed.data()) != 0 ||
      !BuildEddsaData(message, data) || gcry_pk_sign(&result.value, data.value, key.value) != 0) {
    return false;
  }
  std::string r = TokenData(result.value, "r");
  std::string s = TokenData(result.value, "s");
  if (r.size() != 32 || s.size() != 32) {
    return false;
  }
  signature = r + s;
  return true;
}

bool Ed25519NewKeyPair(std::string& seed, std::string& publicKey) {
  InitialiseGcrypt();
  Sexp parameters, pair;
  if (gcry_sexp_build(&parameters.value, nullptr, "(genkey (ecc (curve Ed25519) (flags eddsa)))") !=
          0 ||
      gcry_pk_genkey(&pair.value, parameters.value) != 0) {
    return false;
  }
  Sexp secret;
  secret.value = gcry_sexp_find_token(pair.value, "private-key", 0);
  if (secret.value == nullptr) {
    return false;
  }
  seed = TokenData(secret.value, "d");
  publicKey = TokenData(secret.value, "q");
  // Some versions mark a compressed point with a leading 0x40.
  if (publicKey.size() == kEd25519PublicKeyBytes + 1 && publicKey[0] == 0x40) {
    publicKey.erase(0, 1);
  }
  return seed.size() == kEd25519SeedBytes && publicKey.size() == kEd25519PublicKeyBytes;
}

std::string RandomBytes(size_t count) {
  InitialiseGcrypt();
  std::string bytes(count, '\0');
  gcry_randomize(bytes.data(), count, GCRY_STRONG_RANDOM);
  return bytes;
}

bool Scrypt(std::string_view password, std::string_view salt, unsigned nLog2, uint32_t r,
            uint32_t p, size_t size, std::string& out) {
  InitialiseGcrypt();
  // The library's scrypt has r fixed at 8 and takes N as an int.
  if (r != 8 || nLog2 == 0 || nLog2 > 30 || p == 0 || p > 0x7fffffff) {
    return false;
  }
  out.assign(size, '\0');
  return gcry_kdf_derive(password.data(), password.size(), GCRY_KDF_SCRYPT, 1 << nLog2, salt.data(),
                         salt.size(), p, size, out.data()) == 0;
}
