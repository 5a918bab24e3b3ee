#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "catalogue/minisign.h"
#include "publish/release_scanner.h"
#include "publish/signing/minisign_signing.h"

// The signature an output folder serves now, as the key about to sign sees it. Publishing thread.
struct ServedSignature {
  bool present = false;  // version.txt.minisig exists
  // What the key's public half says of it over the served version.txt.
  SignatureCheck check = SignatureCheck::kMalformed;
  int64_t timestamp = -1;  // when check is kValid

  // Made by this key over the manifest served now (a timestamp or not).
  bool Authentic() const {
    return check == SignatureCheck::kValid || check == SignatureCheck::kNoTimestamp;
  }
  // Why it is not authentic, in a few words.
  std::string Fault() const;
};

// Reads outDir's signature and checks it over manifest (the text of the served version.txt, ""
// when there is none) with key's public half.
ServedSignature CheckServedSignature(const MinisignSecretKey& key, const std::string& outDir,
                                     const std::string& manifest);

// The timestamp for the next signature in outDir: the larger of now and the served one's + 1, so
// that timestamps strictly increase and no two releases share one. The served timestamp counts
// only when this key made it over the manifest served now: anyone who can write the served folder
// could otherwise plant a far-future one that every later release would carry. A served signature
// that does not count is named in a warning through log.
int64_t NextSignatureTimestamp(const ServedSignature& served, std::time_t now,
                               const std::string& outDir, const PublishLog& log);

// The text of version.txt.minisig for manifest, its trusted comment carrying timestamp; throws
// PublishError when the key cannot make a valid signature.
std::string SignManifest(const MinisignSecretKey& key, const std::string& manifest,
                         int64_t timestamp);
