#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"

// An S3-compatible store for tests: moto_server started on a free loopback port, holding one
// bucket that anyone may read (as a bucket that serves a release is set up). Test thread.
class S3TestStore {
 public:
  struct Options {
    // The store checks every request's signature as AWS does, against an access key pair it
    // made (accessKey(), secretKey()); otherwise any keys pass.
    bool checkSignatures = false;
    // The smallest part but the last of a multipart upload; 0 for S3's 5 MiB.
    size_t minPartSize = 0;
  };

  explicit S3TestStore(const Options& options);
  ~S3TestStore();
  S3TestStore(const S3TestStore&) = delete;
  S3TestStore& operator=(const S3TestStore&) = delete;

  // Why the store is not there (moto_server missing or not starting); "" when it is.
  const std::string& missing() const { return missing_; }
  const std::string& bucket() const { return bucket_; }
  const std::string& accessKey() const { return accessKey_; }
  const std::string& secretKey() const { return secretKey_; }
  // "http://127.0.0.1:PORT"
  std::string Endpoint() const;
  // The bucket's address for anonymous readers, as a server list names it: Endpoint() + "/" +
  // bucket + ("/" + prefix when given).
  std::string Url(const std::string& prefix = "") const;
  // NAME=value entries that point an upload at the store with its keys.
  std::vector<std::string> Environment() const;
  // Every object of the bucket with its content.
  std::map<std::string, std::string> Objects() const;
  // Stores an object (as someone else would).
  void Put(const std::string& key, const std::string& content) const;
  // The unfinished multipart uploads' keys.
  std::vector<std::string> UnfinishedUploads() const;

 private:
  std::string missing_;
  std::string bucket_ = "lodestar-test";
  std::string accessKey_ = "AKIDLODESTARTEST";
  std::string secretKey_ = "not-checked";
  int port_ = 0;
  std::unique_ptr<BackgroundChild> server_;
};
