#include "platform/crypto.h"

#include "platform/crypto_gcrypt.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

constexpr const char* kLeastVersion = "1.8.0";

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

}  // namespace

void InitialiseGcrypt() {
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

bool BuildEddsaData(std::string_view message, Sexp& data) {
  return gcry_sexp_build(&data.value, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                         static_cast<int>(message.size()), message.data()) == 0;
}

struct Sha256::State {
  gcry_md_hd_t handle = nullptr;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  InitialiseGcrypt();
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
  InitialiseGcrypt();
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
  InitialiseGcrypt();
  if (publicKey.size() != kEd25519PublicKeyBytes || signature.size() != kEd25519SignatureBytes) {
    return false;
  }
  Sexp key, sig, data;
  if (gcry_sexp_build(&key.value, nullptr,
                      "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                      static_cast<int>(publicKey.size()), publicKey.data()) != 0 ||
      gcry_sexp_build(&sig.value, nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32, signature.data(),
                      32, signature.data() + 32) != 0 ||
      !BuildEddsaData(message, data)) {
    return false;
  }
  return gcry_pk_verify(sig.value, data.value, key.value) == 0;
}
