#pragma once

#include <functional>
#include <string>

// Where an upload goes and how to reach it: the bucket and prefix of an s3://BUCKET/PREFIX
// address, with the endpoint, region and keys from the variables every S3 tool reads. Pure once
// read; publishing thread.
struct S3Location {
  std::string bucket;
  std::string prefix;     // "/"-separated, without a leading or trailing "/"; "" for the top
  std::string endpoint;   // scheme://host[:port][/path] without a trailing "/"
  bool pathStyle = true;  // the bucket in the path (a custom endpoint), else in the host name
  std::string region;
  std::string accessKey;
  std::string secretKey;
  std::string sessionToken;  // "" for long-lived keys

  // "s3://bucket/prefix", as the user gave it.
  std::string Address() const;
  // The object key of a path relative to the prefix: the key that a client's request for the
  // prefix's address + "/" + relative names.
  std::string Key(const std::string& relative) const;
  // The URL of an object ("" for the bucket itself), its key percent-encoded as the signature
  // needs; query is appended as it is (already sorted and encoded).
  std::string Url(const std::string& key, const std::string& query = "") const;
};

// Reads address (s3://BUCKET or s3://BUCKET/PREFIX) and, through variable (a name's value, ""
// when unset), AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY and AWS_SESSION_TOKEN, AWS_REGION (else
// AWS_DEFAULT_REGION, else us-east-1), and AWS_ENDPOINT_URL_S3 or AWS_ENDPOINT_URL (path-style
// addressing there; AWS itself otherwise). Throws PublishError naming what is missing or wrong.
S3Location ReadS3Location(const std::string& address,
                          const std::function<std::string(const std::string&)>& variable);

// An S3 query value (or name) as the signature's canonical form needs it: every byte but
// letters, digits, "-", ".", "_" and "~" as %XX.
std::string EncodeQueryValue(const std::string& text);
