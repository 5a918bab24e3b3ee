#pragma once

#include <cstdint>
#include <string>

#include "catalogue/minisign.h"

class CInetFile;

// The line of detail under a failure line of the run, in the process's language: where it
// failed (a URL, a local file) and why (the HTTP status, the connection's or certificate's error,
// the check that did not hold). Lines start with two blanks, so that they read as belonging to
// the line above. Window's thread.

// A transfer that ended with code (not TransferOk).
std::string TransferDetail(const CInetFile& transfer, uint32_t code);
// A server list at url that arrived whole without one usable line.
std::string UnusableListDetail(const std::string& url);
// A manifest's signature that does not hold: its transfer ended with code; when it arrived,
// check is what verifying signatureText with key found.
std::string SignatureDetail(const CInetFile& signature, uint32_t code, SignatureCheck check,
                            const MinisignPublicKey& key, const std::string& signatureText);
// A validly signed manifest refused as older than the installed release (signed at timestamp,
// the floor below which none is taken), or as older than maxAgeDays.
std::string OlderDetail(int64_t timestamp, int64_t floor);
std::string ExpiredDetail(int64_t timestamp, int64_t maxAgeDays);
// A manifest at url that arrived but is none.
std::string UnloadableManifestDetail(const std::string& url);

// Seconds since 1970 as a date and time in UTC: "2026-12-08 10:00:00 UTC".
std::string UtcText(int64_t seconds);
