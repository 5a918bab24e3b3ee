#include "publish/signing/minisign_signing.h"

#include "catalogue/base64.h"
#include "catalogue/minisign.h"
#include "catalogue/minisign_format.h"
#include "platform/crypto.h"
#include "platform/crypto_signing.h"

namespace {

constexpr std::string_view kScrypt = "Sc";     // secret key sealed with a password
constexpr std::string_view kNoKdf("\0\0", 2);  // secret key stored as it is
constexpr std::string_view kBlake2b = "B2";    // checksum of a secret key

constexpr size_t kChecksumBytes = 32;
constexpr size_t kSaltBytes = 32;
constexpr size_t kSecretBytes = kEd25519SeedBytes + kEd25519PublicKeyBytes;
constexpr size_t kSealedBytes = kMinisignKeyIdBytes + kSecretBytes + kChecksumBytes;
constexpr size_t kSecretKeyFileBytes = 2 + 2 + 2 + kSaltBytes + 8 + 8 + kSealedBytes;
// More than minisign ever asks for (1 GiB) but bounded, so a crafted key cannot exhaust memory.
constexpr unsigned kLargestScryptLog2 = 22;

uint64_t LoadLittleEndian(std::string_view bytes) {
  uint64_t value = 0;
  for (size_t i = 8; i-- > 0;) {
    value = (value << 8) | static_cast<uint8_t>(bytes[i]);
  }
  return value;
}

std::string StoreLittleEndian(uint64_t value) {
  std::string bytes(8, '\0');
  for (size_t i = 0; i < 8; ++i) {
    bytes[i] = static_cast<char>((value >> (8 * i)) & 0xff);
  }
  return bytes;
}

// How minisign (through its crypto library) turns an ops and a memory limit into scrypt's N, r
// and p; the same numbers must come out here or the password opens nothing.
void PickScryptParameters(uint64_t opsLimit, uint64_t memLimit, unsigned& nLog2, uint32_t& r,
                          uint32_t& p) {
  if (opsLimit < 32768) {
    opsLimit = 32768;
  }
  r = 8;
  uint64_t maxN = opsLimit < memLimit / 32 ? opsLimit / (r * 4) : memLimit / (r * 128);
  for (nLog2 = 1; nLog2 < 63; ++nLog2) {
    if ((uint64_t{1} << nLog2) > maxN / 2) {
      break;
    }
  }
  if (opsLimit < memLimit / 32) {
    p = 1;
  } else {
    uint64_t maxrp = (opsLimit / 4) / (uint64_t{1} << nLog2);
    if (maxrp > 0x3fffffff) {
      maxrp = 0x3fffffff;
    }
    p = static_cast<uint32_t>(maxrp) / r;
  }
}

// The key stream that seals or opens a secret key with a password.
bool PasswordStream(std::string_view password, std::string_view salt, uint64_t opsLimit,
                    uint64_t memLimit, std::string& stream, std::string& error) {
  unsigned nLog2 = 0;
  uint32_t r = 0;
  uint32_t p = 0;
  PickScryptParameters(opsLimit, memLimit, nLog2, r, p);
  if (nLog2 > kLargestScryptLog2 || p == 0) {
    error = "the secret key asks for an unreasonable password derivation";
    return false;
  }
  if (!Scrypt(password, salt, nLog2, r, p, kSealedBytes, stream)) {
    error = "cannot derive a key from the password (not enough memory?)";
    return false;
  }
  return true;
}

void Xor(std::string& data, std::string_view stream) {
  for (size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<char>(data[i] ^ stream[i]);
  }
}

std::string SecretChecksum(std::string_view keyId, std::string_view secret) {
  std::string input(kMinisignEd25519);
  input.append(keyId).append(secret);
  return Blake2b(input, kChecksumBytes);
}

}  // namespace

bool ParseMinisignSecretKeyFile(std::string_view text, SealedMinisignKey& key, std::string& error) {
  std::string payload;
  if (!ReadMinisignKeyFile(text, kSecretKeyFileBytes, payload)) {
    error = "not a minisign secret key file";
    return false;
  }
  std::string_view bytes(payload);
  std::string_view kdf = bytes.substr(2, 2);
  if (bytes.substr(0, 2) != kMinisignEd25519 || bytes.substr(4, 2) != kBlake2b ||
      (kdf != kScrypt && kdf != kNoKdf)) {
    error = "the secret key uses algorithms this program does not know";
    return false;
  }
  key.encrypted = kdf == kScrypt;
  key.salt = std::string(bytes.substr(6, kSaltBytes));
  key.opsLimit = LoadLittleEndian(bytes.substr(6 + kSaltBytes, 8));
  key.memLimit = LoadLittleEndian(bytes.substr(14 + kSaltBytes, 8));
  key.sealed = std::string(bytes.substr(22 + kSaltBytes));
  return true;
}

bool UnsealMinisignSecretKey(const SealedMinisignKey& sealed, std::string_view password,
                             MinisignSecretKey& key, std::string& error) {
  std::string open = sealed.sealed;
  if (sealed.encrypted) {
    std::string stream;
    if (!PasswordStream(password, sealed.salt, sealed.opsLimit, sealed.memLimit, stream, error)) {
      return false;
    }
    Xor(open, stream);
  }
  std::string_view bytes(open);
  std::string_view keyId = bytes.substr(0, kMinisignKeyIdBytes);
  std::string_view secret = bytes.substr(kMinisignKeyIdBytes, kSecretBytes);
  std::string_view checksum = bytes.substr(kMinisignKeyIdBytes + kSecretBytes);
  // Keys stored without a password may carry no checksum (all zero bytes).
  bool unchecked = !sealed.encrypted && checksum == std::string(kChecksumBytes, '\0');
  if (!unchecked && SecretChecksum(keyId, secret) != checksum) {
    error = sealed.encrypted ? "wrong password for the secret key" : "the secret key is damaged";
    return false;
  }
  key.keyId = std::string(keyId);
  key.seed = std::string(secret.substr(0, kEd25519SeedBytes));
  key.publicKey = std::string(secret.substr(kEd25519SeedBytes));
  return true;
}

bool MakeMinisignKeyPair(std::string_view password, const PasswordCost& cost,
                         std::string& publicKeyFile, std::string& secretKeyFile,
                         std::string& error) {
  std::string seed;
  std::string publicKey;
  if (!Ed25519NewKeyPair(seed, publicKey)) {
    error = "cannot make an Ed25519 key pair";
    return false;
  }
  std::string keyId = RandomBytes(kMinisignKeyIdBytes);
  std::string secret = seed + publicKey;
  std::string sealed = keyId + secret + SecretChecksum(keyId, secret);

  std::string payload(kMinisignEd25519);
  if (password.empty()) {
    payload.append(kNoKdf).append(kBlake2b).append(kSaltBytes + 16, '\0');
  } else {
    std::string salt = RandomBytes(kSaltBytes);
    std::string stream;
    if (!PasswordStream(password, salt, cost.opsLimit, cost.memLimit, stream, error)) {
      return false;
    }
    Xor(sealed, stream);
    payload.append(kScrypt).append(kBlake2b).append(salt);
    payload.append(StoreLittleEndian(cost.opsLimit)).append(StoreLittleEndian(cost.memLimit));
  }
  payload.append(sealed);

  publicKeyFile = std::string(kMinisignUntrusted) + "minisign public key " +
                  MinisignKeyIdText(keyId) + "\n" +
                  EncodeBase64(std::string(kMinisignEd25519) + keyId + publicKey) + "\n";
  secretKeyFile = std::string(kMinisignUntrusted) +
                  (password.empty() ? "minisign secret key without a password"
                                    : "minisign encrypted secret key") +
                  "\n" + EncodeBase64(payload) + "\n";
  return true;
}

std::string SignWithMinisignKey(const MinisignSecretKey& key, std::string_view content,
                                std::string_view trustedComment) {
  if (trustedComment.find_first_of("\r\n") != std::string_view::npos) {
    return {};
  }
  std::string signature;
  std::string global;
  if (!Ed25519Sign(key.seed, MinisignSignedMessage(kMinisignPrehashed, content), signature) ||
      !Ed25519Sign(key.seed, signature + std::string(trustedComment), global)) {
    return {};
  }
  std::string text = std::string(kMinisignUntrusted) +
                     "signature from lodestar-publish secret key\n" +
                     EncodeBase64(std::string(kMinisignPrehashed) + key.keyId + signature) + "\n" +
                     std::string(kMinisignTrusted) + std::string(trustedComment) + "\n" +
                     EncodeBase64(global) + "\n";
  // A key whose two halves disagree would sign what no client accepts.
  MinisignPublicKey check{key.keyId, key.publicKey};
  VerifiedSignature verified;
  SignatureCheck result = VerifyMinisignSignature(check, content, text, verified);
  return result == SignatureCheck::kValid || result == SignatureCheck::kNoTimestamp ? text
                                                                                    : std::string();
}
