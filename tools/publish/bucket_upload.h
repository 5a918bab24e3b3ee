#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "publish/release_scanner.h"

// What one upload is asked to do.
struct UploadOptions {
  std::string outDir;   // a published output folder
  std::string address;  // s3://BUCKET/PREFIX
  // A variable's value, "" when unset (tests give their own); the process's environment when
  // empty.
  std::function<std::string(const std::string&)> environment;
  PublishLog log;  // one line per object sent or removed and per warning; may be empty
  // Files of at least this many bytes go up in parts of partSize (more when a file would need
  // more than the 10,000 parts S3 allows).
  uint64_t multipartThreshold = 64ull << 20;
  uint64_t partSize = 16ull << 20;
};

// What one upload did.
struct UploadSummary {
  std::string address;         // s3://BUCKET/PREFIX
  size_t files = 0;            // in the release
  uint64_t bytes = 0;          // their total length
  size_t sent = 0;             // copies uploaded
  uint64_t sentBytes = 0;      // their total length
  size_t present = 0;          // copies already there with the same content
  size_t removed = 0;          // objects that neither this release nor the one before it uses
  bool manifestSent = false;   // false: the store served this manifest already
  bool signatureSent = false;  // the same for its signature
  bool recovered = false;      // an interrupted publish into the output folder was rolled back
};

// Copies the release that outDir serves to the S3-compatible store at address, in an order that
// makes a half-finished upload harmless: every copy that is missing there or differs (each
// checked against the manifest before it goes and against the store after it went), then
// version.txt, then version.txt.minisig (both marked not to be cached), then the removal of the
// objects under the prefix that neither this release nor the one served before it names. The
// release before is the manifest the store served when the upload began, kept in the store as
// version.txt.previous so that a rerun after the flip still knows it. Rerunning after any failure
// finishes the job. Requests are signed by libcurl's SigV4. Throws PublishError. Publishing
// thread.
UploadSummary Upload(const UploadOptions& options);
