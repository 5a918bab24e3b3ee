#include "platform/crypto.h"

#include <gcrypt.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

constexpr const char* kLeastVersion = "1.8.0";

// libgcrypt wants one initialisation before any other call; every entry point below runs this.
void Initialise() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (gcry_check_version(kLeastVersion) == nullptr) {
      std::fprintf(stderr, "libgcrypt %s or newer is needed, found %s\n", kLeastVersion,
                   gcry_check_version(nullptr));
      std::abort();
    }
    // Keys live in ordinary memory anyway (std::string); locked pages would only warn.
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  });
}

// Owns one S-expression.
struct Sexp {
  gcry_sexp_t value = nullptr;
  ~Sexp() { gcry_sexp_release(value); }
};

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

int Blake2bAlgorithm(size_t digestBytes) {
  switch (digestBytes) {
    case 20:
      return GCRY_MD_BLAKE2B_160;
    case 32:
      return GCRY_MD_BLAKE2B_256;
    case 48:
      return GCRY_MD_BLAKE2B_384;
    case 64:
      return GCRY_MD_BLAKE2B_512;
    default:
      return 0;
  }
}

// EdDSA signs the message itself; libgcrypt takes it as the value of a data expression.
bool BuildData(std::string_view message, Sexp& data) {
  return gcry_sexp_build(&data.value, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                         static_cast<int>(message.size()), message.data()) == 0;
}

}  // namespace

struct Sha256::State {
  gcry_md_hd_t handle = nullptr;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  Initialise();
  if (gcry_md_open(&state_->handle, GCRY_MD_SHA256, 0) != 0) {
    std::fprintf(stderr, "libgcrypt offers no SHA-256\n");
    std::abort();
  }
}

Sha256::~Sha256() {
  gcry_md_close(state_->handle);
}

void Sha256::Update(const void* data, size_t size) {
  gcry_md_write(state_->handle, data, size);
}

std::string Sha256::HexDigest() {
  static constexpr char kDigits[] = "0123456789abcdef";
  const unsigned char* digest = gcry_md_read(state_->handle, GCRY_MD_SHA256);
  std::string hex;
  hex.reserve(64);
  for (size_t i = 0; i < 32; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 15];
  }
  gcry_md_reset(state_->handle);
  return hex;
}

std::string Blake2b(std::string_view data, size_t digestBytes) {
  Initialise();
  int algorithm = Blake2bAlgorithm(digestBytes);
  if (algorithm == 0) {
    return {};
  }
  std::string digest(digestBytes, '\0');
  gcry_md_hash_buffer(algorithm, digest.data(), data.data(), data.size());
  return digest;
}

bool Ed25519Verify(std::string_view publicKey, std::string_view message,
                   std::string_view signature) {
  Initialise();
  if (publicKey.size() != kEd25519PublicKeyBytes || signature.size() != kEd25519SignatureBytes) {
    return false;
  }
  Sexp key, sig, data;
  if (gcry_sexp_build(&key.value, nullptr,
                      "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                      static_cast<int>(publicKey.size()), publicKey.data()) != 0 ||
      gcry_sexp_build(&sig.value, nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32, signature.data(),
                      32, signature.data() + 32) != 0 ||
      !BuildData(message, data)) {
    return false;
  }
  return gcry_pk_verify(sig.value, data.value, key.value) == 0;
}

bool Ed25519Sign(std::string_view seed, std::string_view message, std::string& signature) {
  Initialise();
  if (seed.size() != kEd25519SeedBytes) {
    return false;
  }
  Sexp key, data, result;
  if (gcry_sexp_build(&key.value, nullptr,
                      "(private-key (ecc (curve Ed25519) (flags eddsa) (d %b)))",
                      static_cast<int>(seed.size()), seed.data()) != 0 ||
      !BuildData(message, data) || gcry_pk_sign(&result.value, data.value, key.value) != 0) {
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
  Initialise();
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
  Initialise();
  std::string bytes(count, '\0');
  gcry_randomize(bytes.data(), count, GCRY_STRONG_RANDOM);
  return bytes;
}

bool Scrypt(std::string_view password, std::string_view salt, unsigned nLog2, uint32_t r,
            uint32_t p, size_t size, std::string& out) {
  Initialise();
  // The library's scrypt has r fixed at 8 and takes N as an int.
  if (r != 8 || nLog2 == 0 || nLog2 > 30 || p == 0 || p > 0x7fffffff) {
    return false;
  }
  out.assign(size, '\0');
  return gcry_kdf_derive(password.data(), password.size(), GCRY_KDF_SCRYPT, 1 << nLog2, salt.data(),
                         salt.size(), p, size, out.data()) == 0;
}
