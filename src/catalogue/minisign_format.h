#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The pieces of minisign's file formats that writing keys and signatures (the publisher's part)
// shares with reading them. Any thread.

constexpr std::string_view kMinisignEd25519 = "Ed";    // keys; signatures of the content itself
constexpr std::string_view kMinisignPrehashed = "ED";  // signatures of the content's BLAKE2b-512
constexpr std::string_view kMinisignUntrusted = "untrusted comment: ";
constexpr std::string_view kMinisignTrusted = "trusted comment: ";
constexpr size_t kMinisignKeyIdBytes = 8;

// The payload of a key file: its untrusted comment line, then exactly size bytes in base64, with
// blanks and line breaks around them ignored; false when text is no such file.
bool ReadMinisignKeyFile(std::string_view text, size_t size, std::string& payload);

// What a signature of the given algorithm signs: the content's BLAKE2b-512 for kMinisignPrehashed,
// the content itself otherwise.
std::string MinisignSignedMessage(std::string_view algorithm, std::string_view content);
