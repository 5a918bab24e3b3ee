#include "catalogue/minisign.h"

#include <vector>

#include "catalogue/base64.h"
#include "catalogue/minisign_format.h"
#include "catalogue/whole_number.h"
#include "platform/crypto.h"

namespace {

constexpr size_t kPublicKeyFileBytes = 2 + kMinisignKeyIdBytes + kEd25519PublicKeyBytes;
constexpr size_t kSignatureLineBytes = 2 + kMinisignKeyIdBytes + kEd25519SignatureBytes;

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string_view Trim(std::string_view text) {
  const char* blanks = " \t\r\n";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The lines of text without their "\n" or "\r\n"; trailing empty lines are dropped.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    lines.push_back(line);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  while (!lines.empty() && lines.back().empty()) {
    lines.pop_back();
  }
  return lines;
}

}  // namespace

bool ReadMinisignKeyFile(std::string_view text, size_t size, std::string& payload) {
  std::vector<std::string_view> lines = Lines(Trim(text));
  return lines.size() == 2 && StartsWith(lines[0], kMinisignUntrusted) &&
         DecodeBase64(lines[1], payload) && payload.size() == size;
}

std::string MinisignSignedMessage(std::string_view algorithm, std::string_view content) {
  return algorithm == kMinisignPrehashed ? Blake2b(content, 64) : std::string(content);
}

bool ParseMinisignPublicKey(std::string_view text, MinisignPublicKey& key) {
  text = Trim(text);
  std::string payload;
  bool read = text.find('\n') == std::string_view::npos
                  ? DecodeBase64(text, payload) && payload.size() == kPublicKeyFileBytes
                  : ReadMinisignKeyFile(text, kPublicKeyFileBytes, payload);
  if (!read || payload.compare(0, 2, kMinisignEd25519) != 0) {
    return false;
  }
  key.keyId = payload.substr(2, kMinisignKeyIdBytes);
  key.publicKey = payload.substr(2 + kMinisignKeyIdBytes);
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
  if (lines.size() != 4 || !StartsWith(lines[0], kMinisignUntrusted) ||
      !DecodeBase64(lines[1], line) || line.size() != kSignatureLineBytes ||
      !StartsWith(lines[2], kMinisignTrusted) || !DecodeBase64(lines[3], global) ||
      global.size() != kEd25519SignatureBytes) {
    return false;
  }
  comment = lines[2].substr(kMinisignTrusted.size());
  return true;
}

}  // namespace

bool ReadMinisignTrustedComment(std::string_view signatureFile, std::string& comment) {
  std::string line;
  std::string_view text;
  std::string global;
  if (!ReadSignatureFile(signatureFile, line, text, global)) {
    return false;
  }
  comment = std::string(text);
  return true;
}

bool ReadMinisignSignatureKeyId(std::string_view signatureFile, std::string& keyId) {
  std::string line;
  std::string_view comment;
  std::string global;
  if (!ReadSignatureFile(signatureFile, line, comment, global)) {
    return false;
  }
  keyId = line.substr(2, kMinisignKeyIdBytes);
  return true;
}

SignatureCheck VerifyMinisignSignature(const MinisignPublicKey& key, std::string_view content,
                                       std::string_view signatureFile,
                                       VerifiedSignature& verified) {
  std::string line;
  std::string_view comment;
  std::string global;
  if (!ReadSignatureFile(signatureFile, line, comment, global)) {
    return SignatureCheck::kMalformed;
  }
  std::string_view algorithm = std::string_view(line).substr(0, 2);
  if (algorithm != kMinisignPrehashed && algorithm != kMinisignEd25519) {
    return SignatureCheck::kMalformed;
  }
  if (line.compare(2, kMinisignKeyIdBytes, key.keyId) != 0) {
    return SignatureCheck::kOtherKey;
  }

  std::string signature = line.substr(2 + kMinisignKeyIdBytes);
  if (!Ed25519Verify(key.publicKey, MinisignSignedMessage(algorithm, content), signature)) {
    return SignatureCheck::kBadSignature;
  }
  if (!Ed25519Verify(key.publicKey, signature + std::string(comment), global)) {
    return SignatureCheck::kBadTrustedComment;
  }
  int64_t timestamp = -1;
  if (!TrustedCommentTimestamp(comment, timestamp)) {
    return SignatureCheck::kNoTimestamp;
  }
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
      if (found || !ReadWholeNumber(field.substr(kField.size()), seconds)) {
        return false;
      }
      found = true;
    }
    if (tab == std::string_view::npos) {
      return found;
    }
    comment.remove_prefix(tab + 1);
  }
}
