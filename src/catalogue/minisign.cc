#include "catalogue/minisign.h"

#include <vector>

#include "catalogue/base64.h"
#include "catalogue/whole_number.h"
#include "platform/crypto.h"

namespace {

constexpr std::string_view kEd25519 = "Ed";    // key files; signatures of the content itself
constexpr std::string_view kPrehashed = "ED";  // signatures of the content's BLAKE2b-512
constexpr std::string_view kScrypt = "Sc";     // secret key sealed with a password
constexpr std::string_view kNoKdf("\0\0", 2);  // secret key stored as it is
constexpr std::string_view kBlake2b = "B2";    // checksum of a secret key
constexpr std::string_view kUntrusted = "untrusted comment: ";
constexpr std::string_view kTrusted = "trusted comment: ";

constexpr size_t kKeyIdBytes = 8;
constexpr size_t kChecksumBytes = 32;
constexpr size_t kSaltBytes = 32;
constexpr size_t kSecretBytes = kEd25519SeedBytes + kEd25519PublicKeyBytes;
constexpr size_t kSealedBytes = kKeyIdBytes + kSecretBytes + kChecksumBytes;
constexpr size_t kPublicKeyFileBytes = 2 + kKeyIdBytes + kEd25519PublicKeyBytes;
constexpr size_t kSignatureLineBytes = 2 + kKeyIdBytes + kEd25519SignatureBytes;
constexpr size_t kSecretKeyFileBytes = 2 + 2 + 2 + kSaltBytes + 8 + 8 + kSealedBytes;
// More than minisign ever asks for (1 GiB) but bounded, so a crafted key cannot exhaust memory.
constexpr unsigned kLargestScryptLog2 = 22;

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string_view Trim(std::string_view text) {
  const char* blanks = " \t\r\n";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos)
    return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The lines of text without their "\n" or "\r\n"; trailing empty lines are dropped.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    lines.push_back(line);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  while (!lines.empty() && lines.back().empty())
    lines.pop_back();
  return lines;
}

// A key or signature file: the untrusted comment, then the base64 payload of the given size.
bool ReadCommentedPayload(std::string_view text, size_t size, std::string& payload) {
  std::vector<std::string_view> lines = Lines(text);
  return lines.size() == 2 && StartsWith(lines[0], kUntrusted) && DecodeBase64(lines[1], payload) &&
         payload.size() == size;
}

uint64_t LoadLittleEndian(std::string_view bytes) {
  uint64_t value = 0;
  for (size_t i = 8; i-- > 0;)
    value = (value << 8) | static_cast<uint8_t>(bytes[i]);
  return value;
}

std::string StoreLittleEndian(uint64_t value) {
  std::string bytes(8, '\0');
  for (size_t i = 0; i < 8; ++i)
    bytes[i] = static_cast<char>((value >> (8 * i)) & 0xff);
  return bytes;
}

// How minisign (through its crypto library) turns an ops and a memory limit into scrypt's N, r
// and p; the same numbers must come out here or the password opens nothing.
void PickScryptParameters(uint64_t opsLimit, uint64_t memLimit, unsigned& nLog2, uint32_t& r,
                          uint32_t& p) {
  if (opsLimit < 32768)
    opsLimit = 32768;
  r = 8;
  uint64_t maxN = opsLimit < memLimit / 32 ? opsLimit / (r * 4) : memLimit / (r * 128);
  for (nLog2 = 1; nLog2 < 63; ++nLog2) {
    if ((uint64_t{1} << nLog2) > maxN / 2)
      break;
  }
  if (opsLimit < memLimit / 32) {
    p = 1;
  } else {
    uint64_t maxrp = (opsLimit / 4) / (uint64_t{1} << nLog2);
    if (maxrp > 0x3fffffff)
      maxrp = 0x3fffffff;
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
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(data[i] ^ stream[i]);
}

std::string SecretChecksum(std::string_view keyId, std::string_view secret) {
  std::string input(kEd25519);
  input.append(keyId).append(secret);
  return Blake2b(input, kChecksumBytes);
}

// The signed form of content for a signature algorithm.
std::string SignedMessage(std::string_view algorithm, std::string_view content) {
  return algorithm == kPrehashed ? Blake2b(content, 64) : std::string(content);
}

}  // namespace

bool ParseMinisignPublicKey(std::string_view text, MinisignPublicKey& key) {
  text = Trim(text);
  std::string payload;
  bool read = text.find('\n') == std::string_view::npos
                  ? DecodeBase64(text, payload) && payload.size() == kPublicKeyFileBytes
                  : ReadCommentedPayload(text, kPublicKeyFileBytes, payload);
  if (!read || payload.compare(0, 2, kEd25519) != 0)
    return false;
  key.keyId = payload.substr(2, kKeyIdBytes);
  key.publicKey = payload.substr(2 + kKeyIdBytes);
  return true;
}

std::string MinisignKeyIdText(std::string_view keyId) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = keyId.size(); i-- > 0;) {
    text += kDigits[static_cast<uint8_t>(keyId[i]) >> 4];
    text += kDigits[static_cast<uint8_t>(keyId[i]) & 15];
  }
  return text;
}

namespace {

// The four lines of a signature file, decoded: false when it is none.
bool ReadSignatureFile(std::string_view text, std::string& line, std::string_view& comment,
                       std::string& global) {
  std::vector<std::string_view> lines = Lines(text);
  if (lines.size() != 4 || !StartsWith(lines[0], kUntrusted) || !DecodeBase64(lines[1], line) ||
      line.size() != kSignatureLineBytes || !StartsWith(lines[2], kTrusted) ||
      !DecodeBase64(lines[3], global) || global.size() != kEd25519SignatureBytes) {
    return false;
  }
  comment = lines[2].substr(kTrusted.size());
  return true;
}

}  // namespace

bool ReadMinisignTrustedComment(std::string_view signatureFile, std::string& comment) {
  std::string line;
  std::string_view text;
  std::string global;
  if (!ReadSignatureFile(signatureFile, line, text, global))
    return false;
  comment = std::string(text);
  return true;
}

SignatureCheck VerifyMinisignSignature(const MinisignPublicKey& key, std::string_view content,
                                       std::string_view signatureFile,
                                       VerifiedSignature& verified) {
  std::string line;
  std::string_view comment;
  std::string global;
  if (!ReadSignatureFile(signatureFile, line, comment, global))
    return SignatureCheck::kMalformed;
  std::string_view algorithm = std::string_view(line).substr(0, 2);
  if (algorithm != kPrehashed && algorithm != kEd25519)
    return SignatureCheck::kMalformed;
  if (line.compare(2, kKeyIdBytes, key.keyId) != 0)
    return SignatureCheck::kOtherKey;

  std::string signature = line.substr(2 + kKeyIdBytes);
  if (!Ed25519Verify(key.publicKey, SignedMessage(algorithm, content), signature))
    return SignatureCheck::kBadSignature;
  if (!Ed25519Verify(key.publicKey, signature + std::string(comment), global))
    return SignatureCheck::kBadTrustedComment;
  int64_t timestamp = -1;
  if (!TrustedCommentTimestamp(comment, timestamp))
    return SignatureCheck::kNoTimestamp;
  verified.trustedComment = std::string(comment);
  verified.timestamp = timestamp;
  return SignatureCheck::kValid;
}

bool TrustedCommentTimestamp(std::string_view comment, int64_t& seconds) {
  constexpr std::string_view kField = "timestamp:";
  bool found = false;
  while (true) {
    size_t tab = comment.find('\t');
    std::string_view field = comment.substr(0, tab);
    if (StartsWith(field, kField)) {
      if (found || !ReadWholeNumber(field.substr(kField.size()), seconds))
        return false;
      found = true;
    }
    if (tab == std::string_view::npos)
      return found;
    comment.remove_prefix(tab + 1);
  }
}

bool ParseMinisignSecretKeyFile(std::string_view text, SealedMinisignKey& key, std::string& error) {
  std::string payload;
  if (!ReadCommentedPayload(Trim(text), kSecretKeyFileBytes, payload)) {
    error = "not a minisign secret key file";
    return false;
  }
  std::string_view bytes(payload);
  std::string_view kdf = bytes.substr(2, 2);
  if (bytes.substr(0, 2) != kEd25519 || bytes.substr(4, 2) != kBlake2b ||
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
    if (!PasswordStream(password, sealed.salt, sealed.opsLimit, sealed.memLimit, stream, error))
      return false;
    Xor(open, stream);
  }
  std::string_view bytes(open);
  std::string_view keyId = bytes.substr(0, kKeyIdBytes);
  std::string_view secret = bytes.substr(kKeyIdBytes, kSecretBytes);
  std::string_view checksum = bytes.substr(kKeyIdBytes + kSecretBytes);
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
  std::string keyId = RandomBytes(kKeyIdBytes);
  std::string secret = seed + publicKey;
  std::string sealed = keyId + secret + SecretChecksum(keyId, secret);

  std::string payload(kEd25519);
  if (password.empty()) {
    payload.append(kNoKdf).append(kBlake2b).append(kSaltBytes + 16, '\0');
  } else {
    std::string salt = RandomBytes(kSaltBytes);
    std::string stream;
    if (!PasswordStream(password, salt, cost.opsLimit, cost.memLimit, stream, error))
      return false;
    Xor(sealed, stream);
    payload.append(kScrypt).append(kBlake2b).append(salt);
    payload.append(StoreLittleEndian(cost.opsLimit)).append(StoreLittleEndian(cost.memLimit));
  }
  payload.append(sealed);

  publicKeyFile = std::string(kUntrusted) + "minisign public key " + MinisignKeyIdText(keyId) +
                  "\n" + EncodeBase64(std::string(kEd25519) + keyId + publicKey) + "\n";
  secretKeyFile = std::string(kUntrusted) +
                  (password.empty() ? "minisign secret key without a password"
                                    : "minisign encrypted secret key") +
                  "\n" + EncodeBase64(payload) + "\n";
  return true;
}

std::string SignWithMinisignKey(const MinisignSecretKey& key, std::string_view content,
                                std::string_view trustedComment) {
  if (trustedComment.find_first_of("\r\n") != std::string_view::npos)
    return {};
  std::string signature;
  std::string global;
  if (!Ed25519Sign(key.seed, SignedMessage(kPrehashed, content), signature) ||
      !Ed25519Sign(key.seed, signature + std::string(trustedComment), global)) {
    return {};
  }
  std::string text = std::string(kUntrusted) + "signature from lodestar-publish secret key\n" +
                     EncodeBase64(std::string(kPrehashed) + key.keyId + signature) + "\n" +
                     std::string(kTrusted) + std::string(trustedComment) + "\n" +
                     EncodeBase64(global) + "\n";
  // A key whose two halves disagree would sign what no client accepts.
  MinisignPublicKey check{key.keyId, key.publicKey};
  VerifiedSignature verified;
  SignatureCheck result = VerifyMinisignSignature(check, content, text, verified);
  return result == SignatureCheck::kValid || result == SignatureCheck::kNoTimestamp ? text
                                                                                    : std::string();
}
