#include "publish/release_signature.h"

#include "base/install_names.h"
#include "publish/posix_files.h"
#include "publish/publish_error.h"

std::string ServedSignature::Fault() const {
  if (!present) {
    return "there is none";
  }
  switch (check) {
    case SignatureCheck::kValid:
    case SignatureCheck::kNoTimestamp:
      return "it verifies";
    case SignatureCheck::kMalformed:
      return "it is no signature file";
    case SignatureCheck::kOtherKey:
      return "it was made with another key";
    case SignatureCheck::kBadSignature:
      return "the served version.txt is not what it signed";
    case SignatureCheck::kBadTrustedComment:
      return "its trusted comment was altered";
  }
  return "it does not verify";
}

ServedSignature CheckServedSignature(const MinisignSecretKey& key, const std::string& outDir,
                                     const std::string& manifest) {
  ServedSignature served;
  std::string signature;
  served.present = ReadFileIfPresent(JoinPath(outDir, kSignatureName), signature);
  if (!served.present) {
    return served;
  }
  VerifiedSignature verified;
  served.check = VerifyMinisignSignature(MinisignPublicKey{key.keyId, key.publicKey}, manifest,
                                         signature, verified);
  if (served.check == SignatureCheck::kValid) {
    served.timestamp = verified.timestamp;
  }
  return served;
}

int64_t NextSignatureTimestamp(const ServedSignature& served, std::time_t now,
                               const std::string& outDir, const PublishLog& log) {
  const int64_t clock = static_cast<int64_t>(now);
  if (served.present && !served.Authentic() && log) {
    log("warning: ignoring the timestamp of '" + JoinPath(outDir, kSignatureName) +
        "': it does not verify with this key (" + served.Fault() + ")");
  }
  if (served.timestamp < clock) {
    return clock;
  }
  if (served.timestamp > clock && log) {
    log("warning: the clock is behind the signed release served now (timestamp " +
        std::to_string(served.timestamp) + "); the new signature takes the next second");
  }
  return served.timestamp + 1;
}

std::string SignManifest(const MinisignSecretKey& key, const std::string& manifest,
                         int64_t timestamp) {
  std::string signature = SignWithMinisignKey(
      key, manifest,
      "timestamp:" + std::to_string(timestamp) + "\tfile:" + kManifestName + "\thashed");
  if (signature.empty()) {
    throw PublishError("the secret key cannot make a valid signature (is it damaged?)");
  }
  return signature;
}
