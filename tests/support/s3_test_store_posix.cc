#include "support/s3_test_store.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "platform/crypto.h"

namespace {

// The first executable of that name on PATH; "" when none.
std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream folders(path != nullptr ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    std::string candidate = folder + "/" + name;
    if (!folder.empty() && access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return "";
}

int FreeLoopbackPort() {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

bool Listening(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

size_t Collect(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

std::string HashOf(const std::string& text) {
  Sha256 hash;
  hash.Update(text.data(), text.size());
  return hash.HexDigest();
}

// One request signed by libcurl for service ("s3", "iam"); the status, and the body in out.
long Signed(const std::string& method, const std::string& url, const std::string& service,
            const std::string& keys, const std::string& body, std::string& out) {
  CURL* curl = curl_easy_init();
  curl_slist* headers = nullptr;
  headers = curl_slist_append(headers, ("x-amz-content-sha256: " + HashOf(body)).c_str());
  // moto reads a form's body as its fields, so only IAM's requests may say they send one.
  headers = curl_slist_append(headers, service == "iam"
                                           ? "Content-Type: application/x-www-form-urlencoded"
                                           : "Content-Type: application/octet-stream");
  const std::string signing = "aws:amz:us-east-1:" + service;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_AWS_SIGV4, signing.c_str());
  curl_easy_setopt(curl, CURLOPT_USERPWD, keys.c_str());
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
  if (!body.empty() || method != "GET") {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  }
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &out);
  long status = 0;
  if (curl_easy_perform(curl) == CURLE_OK) {
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return status;
}

// The texts of every <name> element, in order.
std::vector<std::string> ElementTexts(const std::string& xml, const std::string& name) {
  std::vector<std::string> texts;
  const std::string open = "<" + name + ">";
  const std::string close = "</" + name + ">";
  for (size_t at = xml.find(open); at != std::string::npos; at = xml.find(open, at)) {
    at += open.size();
    texts.push_back(xml.substr(at, xml.find(close, at) - at));
  }
  return texts;
}

}  // namespace

S3TestStore::S3TestStore(const Options& options) {
  if (FindOnPath("moto_server").empty()) {
    missing_ = "moto_server is not on PATH";
    return;
  }
  port_ = FreeLoopbackPort();
  std::vector<std::string> command = {"/usr/bin/env"};
  if (options.checkSignatures) {
    // The first requests (the user, its keys and its policy) pass unchecked; every later one is
    // checked.
    command.push_back("INITIAL_NO_AUTH_ACTION_COUNT=3");
  }
  if (options.minPartSize != 0) {
    command.push_back("S3_UPLOAD_PART_MIN_SIZE=" + std::to_string(options.minPartSize));
  }
  for (const char* arg : {"moto_server", "-H", "127.0.0.1", "-p"}) {
    command.push_back(arg);
  }
  command.push_back(std::to_string(port_));
  server_ = std::make_unique<BackgroundChild>(command);
  for (int i = 0; i < 500 && !Listening(port_); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!Listening(port_)) {
    missing_ = "moto_server did not start";
    return;
  }
  std::string answer;
  if (options.checkSignatures) {
    const std::string iam = Endpoint() + "/";
    const std::string anyKeys = "AKIDANY:any";
    Signed("POST", iam, "iam", anyKeys, "Action=CreateUser&UserName=publisher&Version=2010-05-08",
           answer);
    answer.clear();
    Signed("POST", iam, "iam", anyKeys,
           "Action=CreateAccessKey&UserName=publisher&Version=2010-05-08", answer);
    std::vector<std::string> ids = ElementTexts(answer, "AccessKeyId");
    std::vector<std::string> secrets = ElementTexts(answer, "SecretAccessKey");
    if (ids.empty() || secrets.empty()) {
      missing_ = "moto_server made no access key: " + answer;
      return;
    }
    accessKey_ = ids[0];
    secretKey_ = secrets[0];
    char* policy = curl_easy_escape(
        nullptr,
        R"({"Version":"2012-10-17","Statement":[{"Effect":"Allow","Action":"s3:*","Resource":"*"}]})",
        0);
    Signed("POST", iam, "iam", anyKeys,
           std::string("Action=PutUserPolicy&UserName=publisher&PolicyName=all&PolicyDocument=") +
               policy + "&Version=2010-05-08",
           answer);
    curl_free(policy);
  }
  const std::string keys = accessKey_ + ":" + secretKey_;
  if (Signed("PUT", Url(), "s3", keys, "", answer) != 200 ||
      Signed("PUT", Url() + "?policy=", "s3", keys,
             R"({"Version":"2012-10-17","Statement":[{"Effect":"Allow","Principal":"*",)"
             R"("Action":"s3:GetObject","Resource":"arn:aws:s3:::)" +
                 bucket_ + R"(/*"}]})",
             answer) != 200) {
    missing_ = "moto_server made no public bucket: " + answer;
  }
}

S3TestStore::~S3TestStore() = default;

std::string S3TestStore::Endpoint() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

std::string S3TestStore::Url(const std::string& prefix) const {
  return Endpoint() + "/" + bucket_ + (prefix.empty() ? "" : "/" + prefix);
}

std::vector<std::string> S3TestStore::Environment() const {
  return {"AWS_ACCESS_KEY_ID=" + accessKey_, "AWS_SECRET_ACCESS_KEY=" + secretKey_,
          "AWS_ENDPOINT_URL=" + Endpoint(), "AWS_REGION=us-east-1"};
}

std::map<std::string, std::string> S3TestStore::Objects() const {
  std::map<std::string, std::string> objects;
  std::string listing;
  Signed("GET", Url() + "?list-type=2", "s3", accessKey_ + ":" + secretKey_, "", listing);
  for (const std::string& key : ElementTexts(listing, "Key")) {
    char* encoded = curl_easy_escape(nullptr, key.c_str(), static_cast<int>(key.size()));
    std::string path = encoded;
    curl_free(encoded);
    for (size_t at = path.find("%2F"); at != std::string::npos; at = path.find("%2F", at)) {
      path.replace(at, 3, "/");
    }
    std::string content;
    Signed("GET", Url() + "/" + path, "s3", accessKey_ + ":" + secretKey_, "", content);
    objects[key] = content;
  }
  return objects;
}

void S3TestStore::Put(const std::string& key, const std::string& content) const {
  std::string answer;
  Signed("PUT", Url() + "/" + key, "s3", accessKey_ + ":" + secretKey_, content, answer);
}

std::vector<std::string> S3TestStore::UnfinishedUploads() const {
  std::string listing;
  Signed("GET", Url() + "?uploads=", "s3", accessKey_ + ":" + secretKey_, "", listing);
  return ElementTexts(listing, "Key");
}
