#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "publish/s3_location.h"

// One object as a listing shows it.
struct StoredObject {
  std::string key;
  uint64_t size = 0;
};

// What a HEAD request tells of one object.
struct ObjectFacts {
  uint64_t length = 0;
  std::string sha256;  // the x-amz-meta-sha256 the upload stored; "" when none
};

// The bytes a request sends: a text in memory, or a range of an open file; with their SHA-256,
// which the signature covers and the store checks.
struct RequestBody {
  std::string text;
  int fd = -1;  // when >= 0, the body is [offset, offset + length) of this file
  uint64_t offset = 0;
  uint64_t length = 0;
  std::string sha256;  // 64 lower-case hex digits

  static RequestBody Text(std::string text);
};

// Speaks the S3 REST API to one bucket over libcurl, every request signed by libcurl's own AWS
// SigV4 support. Failed requests are tried again a few times when the failure may pass (the
// network, 500, 503); the others throw PublishError naming the request, the key and the store's
// answer. Publishing thread.
class S3Client {
 public:
  using Headers = std::vector<std::pair<std::string, std::string>>;

  explicit S3Client(S3Location location);
  ~S3Client();
  S3Client(const S3Client&) = delete;
  S3Client& operator=(const S3Client&) = delete;

  const S3Location& location() const { return location_; }

  // The object's bytes; none when there is no such object. Refuses one longer than limit.
  std::optional<std::string> Get(const std::string& key, size_t limit);
  // None when there is no such object.
  std::optional<ObjectFacts> Head(const std::string& key);
  // Every object whose key starts with prefix.
  std::vector<StoredObject> List(const std::string& prefix);
  void Put(const std::string& key, const RequestBody& body, const Headers& headers);
  // Removes the object; no error when it is gone already.
  void Delete(const std::string& key);

  // Multipart upload: start (with the object's headers), send the parts numbered from 1, then
  // complete or abort.
  std::string StartMultipart(const std::string& key, const Headers& headers);
  // Returns the part's ETag, which completion needs.
  std::string PutPart(const std::string& key, const std::string& uploadId, int number,
                      const RequestBody& body);
  void CompleteMultipart(const std::string& key, const std::string& uploadId,
                         const std::vector<std::string>& etags);
  void AbortMultipart(const std::string& key, const std::string& uploadId);
  // The multipart uploads started and neither completed nor aborted below prefix: key, id.
  std::vector<std::pair<std::string, std::string>> ListMultipart(const std::string& prefix);

 private:
  struct Response;
  Response Send(const char* method, const std::string& key, const std::string& query,
                const RequestBody& body, const Headers& headers, size_t limit);
  Response SendOnce(const char* method, const std::string& url, const RequestBody& body,
                    const Headers& headers, size_t limit);
  [[noreturn]] void Fail(const std::string& what, const std::string& key,
                         const Response& response) const;

  S3Location location_;
  void* curl_;  // CURL*, kept for its connection cache
  std::string emptyHash_;
};
