#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Public keys and signatures in the file formats of the minisign tool, so that releases can be
// signed and checked with it as well as with our own code: Ed25519 signatures of a file's
// BLAKE2b-512 digest ("ED", or of the file itself in the legacy "Ed" form), each carrying a
// trusted comment that is signed too. Only checking lives here; making keys and signing is the
// publisher's (publish/signing). Binary values travel as byte strings. Any thread.

// A public key: the base64 line that Lodestar.cfg's pubkey holds, or a .pub file.
struct MinisignPublicKey {
  std::string keyId;      // 8 bytes, as stored
  std::string publicKey;  // 32 bytes
};

// Reads the base64 line of a public key, or a whole public key file (comment line, key line);
// blanks and line breaks around the key are ignored. False when it is no Ed25519 minisign key.
bool ParseMinisignPublicKey(std::string_view text, MinisignPublicKey& key);

// A key id as minisign shows it: 16 upper-case hex digits of the 8 bytes read little-endian.
std::string MinisignKeyIdText(std::string_view keyId);

// The outcome of checking a signature file against some content.
enum class SignatureCheck {
  kValid,
  kMalformed,          // no signature file of a known algorithm
  kOtherKey,           // made with another key than the one trusted
  kBadSignature,       // the content is not what was signed
  kBadTrustedComment,  // the trusted comment is not the one that was signed
  kNoTimestamp,        // correctly signed, but the trusted comment holds no "timestamp:"
};

// What a valid signature tells.
struct VerifiedSignature {
  std::string trustedComment;
  int64_t timestamp = -1;  // seconds since 1970, from "timestamp:" in the trusted comment
};

// Checks that signatureFile (the text of a .minisig file) is key's signature of exactly
// content, that its trusted comment is signed, and that the comment holds a timestamp.
SignatureCheck VerifyMinisignSignature(const MinisignPublicKey& key, std::string_view content,
                                       std::string_view signatureFile, VerifiedSignature& verified);

// The trusted comment of a signature file, unchecked (to look at, not to trust); false when the
// text is no signature file.
bool ReadMinisignTrustedComment(std::string_view signatureFile, std::string& comment);

// The id of the key a signature file says it was made with, as stored (8 bytes), unchecked;
// false when the text is no signature file.
bool ReadMinisignSignatureKeyId(std::string_view signatureFile, std::string& keyId);

// The number after "timestamp:" in a trusted comment of tab-separated fields, as minisign
// writes it ("timestamp:1700000000\tfile:version.txt\thashed"); false when there is none, it is
// no plain decimal number, or there are two.
bool TrustedCommentTimestamp(std::string_view comment, int64_t& seconds);
