#include "publish/s3_client.h"

#include <curl/curl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <map>
#include <thread>

#include "platform/crash_point.h"
#include "platform/crypto.h"
#include "publish/publish_error.h"
#include "publish/xml_leaves.h"

// What one request got back. Publishing thread.
struct S3Client::Response {
  CURLcode code = CURLE_OK;
  std::string curlError;
  long status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  bool tooLong = false;  // the body passed the limit; the transfer was stopped
  bool readFailed = false;

  std::string Header(const std::string& name) const {
    auto found = headers.find(name);
    return found == headers.end() ? std::string() : found->second;
  }
};

namespace {

constexpr int kAttempts = 4;
constexpr size_t kAnswerLimit = 16 << 20;  // listings and error documents

std::string HashOf(const std::string& text) {
  Sha256 hash;
  hash.Update(text.data(), text.size());
  return hash.HexDigest();
}

// Feeds a request body to libcurl from memory or from the file range; publishing thread.
struct BodyReader {
  const RequestBody* body;
  uint64_t done = 0;
  bool failed = false;
};

size_t ReadBody(char* buffer, size_t size, size_t count, void* data) {
  auto* reader = static_cast<BodyReader*>(data);
  const RequestBody& body = *reader->body;
  const uint64_t total = body.fd >= 0 ? body.length : body.text.size();
  size_t want = static_cast<size_t>(std::min<uint64_t>(size * count, total - reader->done));
  if (want == 0) {
    return 0;
  }
  if (body.fd < 0) {
    std::copy_n(body.text.data() + reader->done, want, buffer);
  } else {
    ssize_t got;
    do {
      got = pread(body.fd, buffer, want, static_cast<off_t>(body.offset + reader->done));
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
      reader->failed = true;  // a file that shrank or failed: the store must not get less
      return CURL_READFUNC_ABORT;
    }
    want = static_cast<size_t>(got);
  }
  reader->done += want;
  return want;
}

// Collects a response's body up to a limit; publishing thread.
struct BodyWriter {
  std::string* out;
  size_t limit;
  bool* tooLong;
};

size_t WriteBody(char* data, size_t size, size_t count, void* target) {
  auto* writer = static_cast<BodyWriter*>(target);
  size_t bytes = size * count;
  if (writer->out->size() + bytes > writer->limit) {
    *writer->tooLong = true;
    return 0;
  }
  writer->out->append(data, bytes);
  return bytes;
}

size_t WriteHeader(char* data, size_t size, size_t count, void* target) {
  auto* headers = static_cast<std::map<std::string, std::string>*>(target);
  std::string line(data, size * count);
  if (line.compare(0, 5, "HTTP/") == 0) {
    headers->clear();  // a new response (after a 100 Continue, say)
  }
  size_t colon = line.find(':');
  if (colon != std::string::npos) {
    std::string name = line.substr(0, colon);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    size_t start = line.find_first_not_of(" \t", colon + 1);
    size_t end = line.find_last_not_of(" \t\r\n");
    (*headers)[name] =
        start == std::string::npos || end < start ? "" : line.substr(start, end - start + 1);
  }
  return size * count;
}

bool MayPass(long status) {
  return status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

std::string XmlText(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
  }
  return out;
}

}  // namespace

RequestBody RequestBody::Text(std::string text) {
  RequestBody body;
  body.sha256 = HashOf(text);
  body.text = std::move(text);
  return body;
}

S3Client::S3Client(S3Location location)
    : location_(std::move(location)), curl_(curl_easy_init()), emptyHash_(HashOf("")) {
  if (curl_ == nullptr) {
    throw PublishError("cannot start libcurl");
  }
}

S3Client::~S3Client() {
  curl_easy_cleanup(static_cast<CURL*>(curl_));
}

S3Client::Response S3Client::SendOnce(const char* method, const std::string& url,
                                      const RequestBody& body, const Headers& headers,
                                      size_t limit) {
  CrashPoint();  // crash tests: an upload killed between any two requests
  CURL* curl = static_cast<CURL*>(curl_);
  curl_easy_reset(curl);
  Response response;
  char error[CURL_ERROR_SIZE] = "";
  const std::string verb = method;
  const std::string signing = "aws:amz:" + location_.region + ":s3";
  const std::string credentials = location_.accessKey + ":" + location_.secretKey;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_AWS_SIGV4, signing.c_str());
  curl_easy_setopt(curl, CURLOPT_USERPWD, credentials.c_str());
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
  // A transfer that moves nothing for a minute is given up (and tried again).
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);

  // Every request names its payload's hash: the signature covers it, and S3 refuses a request
  // without it (libcurl does not add it here).
  curl_slist* list = nullptr;
  auto add = [&list](const std::string& line) { list = curl_slist_append(list, line.c_str()); };
  add("x-amz-content-sha256: " + (body.sha256.empty() ? emptyHash_ : body.sha256));
  if (!location_.sessionToken.empty()) {
    add("x-amz-security-token: " + location_.sessionToken);
  }
  for (const auto& [name, value] : headers) {
    add(name + ": " + value);
  }

  BodyReader reader{&body};
  const uint64_t length = body.fd >= 0 ? body.length : body.text.size();
  if (verb == "HEAD") {
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  } else if (verb == "PUT") {
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadBody);
    curl_easy_setopt(curl, CURLOPT_READDATA, &reader);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(length));
  } else if (verb == "POST") {
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.text.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(length));
  } else if (verb != "GET") {
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
  }
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
  BodyWriter writer{&response.body, limit, &response.tooLong};
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &writer);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, WriteHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response.headers);

  response.code = curl_easy_perform(curl);
  curl_slist_free_all(list);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
  response.curlError = error[0] != '\0' ? error : curl_easy_strerror(response.code);
  response.readFailed = reader.failed;
  return response;
}

S3Client::Response S3Client::Send(const char* method, const std::string& key,
                                  const std::string& query, const RequestBody& body,
                                  const Headers& headers, size_t limit) {
  const std::string url = location_.Url(key, query);
  for (int attempt = 1;; ++attempt) {
    Response response = SendOnce(method, url, body, headers, limit);
    bool failedOnTheWay = response.code != CURLE_OK && !response.tooLong && !response.readFailed;
    if ((!failedOnTheWay && !MayPass(response.status)) || attempt == kAttempts) {
      return response;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(250 << attempt));
  }
}

void S3Client::Fail(const std::string& what, const std::string& key,
                    const Response& response) const {
  std::string object = "'" + location_.bucket + "/" + key + "'";
  if (response.readFailed) {
    throw PublishError("cannot read the local copy while sending it as " + object +
                       " (did it change?)");
  }
  if (response.tooLong) {
    throw PublishError("the store's answer to " + what + " " + object + " is too long");
  }
  if (response.code != CURLE_OK) {
    throw PublishError("cannot " + what + " " + object + ": " + response.curlError + " (" +
                       location_.endpoint + ")");
  }
  std::string code;
  std::string message;
  ReadXmlLeaves(response.body, nullptr, [&](const std::string& name, const std::string& text) {
    if (name == "Code") {
      code = text;
    } else if (name == "Message") {
      message = text;
    }
  });
  std::string text =
      "the store refused to " + what + " " + object + ": HTTP " + std::to_string(response.status);
  if (!code.empty()) {
    text += " " + code;
  }
  if (!message.empty()) {
    text += " (" + message + ")";
  }
  if (code == "SignatureDoesNotMatch") {
    text += "; check AWS_SECRET_ACCESS_KEY and AWS_REGION";
  } else if (code == "InvalidAccessKeyId") {
    text += "; check AWS_ACCESS_KEY_ID";
  } else if (code == "NoSuchBucket") {
    text += "; make the bucket first";
  }
  throw PublishError(text);
}

std::optional<std::string> S3Client::Get(const std::string& key, size_t limit) {
  Response response = Send("GET", key, "", RequestBody(), {}, limit);
  if (response.code == CURLE_OK && response.status == 404) {
    return std::nullopt;
  }
  if (response.code != CURLE_OK || response.status != 200) {
    Fail("read", key, response);
  }
  return std::move(response.body);
}

std::optional<ObjectFacts> S3Client::Head(const std::string& key) {
  Response response = Send("HEAD", key, "", RequestBody(), {}, 0);
  if (response.code == CURLE_OK && response.status == 404) {
    return std::nullopt;
  }
  if (response.code != CURLE_OK || response.status != 200) {
    Fail("examine", key, response);
  }
  ObjectFacts facts;
  facts.length = std::strtoull(response.Header("content-length").c_str(), nullptr, 10);
  facts.sha256 = response.Header("x-amz-meta-sha256");
  return facts;
}

std::vector<StoredObject> S3Client::List(const std::string& prefix) {
  std::vector<StoredObject> objects;
  std::string token;
  for (;;) {
    // The query goes out in the order and form the signature's canonical request has.
    std::string query;
    if (!token.empty()) {
      query += "continuation-token=" + EncodeQueryValue(token) + "&";
    }
    query += "list-type=2";
    if (!prefix.empty()) {
      query += "&prefix=" + EncodeQueryValue(prefix);
    }
    Response response = Send("GET", "", query, RequestBody(), {}, kAnswerLimit);
    if (response.code != CURLE_OK || response.status != 200) {
      Fail("list", prefix, response);
    }
    bool truncated = false;
    token.clear();
    bool read = ReadXmlLeaves(
        response.body,
        [&](const std::string& name) {
          if (name == "Contents") {
            objects.emplace_back();
          }
        },
        [&](const std::string& name, const std::string& text) {
          if (name == "Key" && !objects.empty()) {
            objects.back().key = text;
          } else if (name == "Size" && !objects.empty()) {
            objects.back().size = std::strtoull(text.c_str(), nullptr, 10);
          } else if (name == "IsTruncated") {
            truncated = text == "true";
          } else if (name == "NextContinuationToken") {
            token = text;
          }
        });
    if (!read) {
      throw PublishError("the store's listing of '" + location_.bucket + "/" + prefix +
                         "' is no XML document");
    }
    if (!truncated || token.empty()) {
      return objects;
    }
  }
}

void S3Client::Put(const std::string& key, const RequestBody& body, const Headers& headers) {
  Response response = Send("PUT", key, "", body, headers, kAnswerLimit);
  if (response.code != CURLE_OK || response.status != 200) {
    Fail("store", key, response);
  }
}

void S3Client::Delete(const std::string& key) {
  Response response = Send("DELETE", key, "", RequestBody(), {}, kAnswerLimit);
  if (response.code != CURLE_OK ||
      (response.status != 204 && response.status != 200 && response.status != 404)) {
    Fail("remove", key, response);
  }
}

std::string S3Client::StartMultipart(const std::string& key, const Headers& headers) {
  Response response = Send("POST", key, "uploads=", RequestBody(), headers, kAnswerLimit);
  std::string id;
  if (response.code == CURLE_OK && response.status == 200) {
    ReadXmlLeaves(response.body, nullptr, [&](const std::string& name, const std::string& text) {
      if (name == "UploadId") {
        id = text;
      }
    });
  }
  if (id.empty()) {
    Fail("start a multipart upload of", key, response);
  }
  return id;
}

std::string S3Client::PutPart(const std::string& key, const std::string& uploadId, int number,
                              const RequestBody& body) {
  Response response =
      Send("PUT", key,
           "partNumber=" + std::to_string(number) + "&uploadId=" + EncodeQueryValue(uploadId), body,
           {}, kAnswerLimit);
  std::string etag = response.Header("etag");
  if (response.code != CURLE_OK || response.status != 200 || etag.empty()) {
    Fail("store part " + std::to_string(number) + " of", key, response);
  }
  return etag;
}

void S3Client::CompleteMultipart(const std::string& key, const std::string& uploadId,
                                 const std::vector<std::string>& etags) {
  std::string xml = "<CompleteMultipartUpload>";
  for (size_t i = 0; i < etags.size(); ++i) {
    xml += "<Part><PartNumber>" + std::to_string(i + 1) + "</PartNumber><ETag>" +
           XmlText(etags[i]) + "</ETag></Part>";
  }
  xml += "</CompleteMultipartUpload>";
  // Not the form that libcurl announces for a POST by default: a store may read it as one.
  Response response =
      Send("POST", key, "uploadId=" + EncodeQueryValue(uploadId), RequestBody::Text(xml),
           {{"Content-Type", "application/xml"}}, kAnswerLimit);
  // S3 may answer 200 and still report a failure in the body.
  bool failed = false;
  ReadXmlLeaves(
      response.body, [&](const std::string& name) { failed = failed || name == "Error"; }, nullptr);
  if (response.code != CURLE_OK || response.status != 200 || failed) {
    Fail("complete the multipart upload of", key, response);
  }
}

void S3Client::AbortMultipart(const std::string& key, const std::string& uploadId) {
  Response response = Send("DELETE", key, "uploadId=" + EncodeQueryValue(uploadId), RequestBody(),
                           {}, kAnswerLimit);
  if (response.code != CURLE_OK ||
      (response.status != 204 && response.status != 200 && response.status != 404)) {
    Fail("abort the multipart upload of", key, response);
  }
}

std::vector<std::pair<std::string, std::string>> S3Client::ListMultipart(
    const std::string& prefix) {
  std::string query =
      prefix.empty() ? "uploads=" : "prefix=" + EncodeQueryValue(prefix) + "&uploads=";
  Response response = Send("GET", "", query, RequestBody(), {}, kAnswerLimit);
  if (response.code != CURLE_OK || response.status != 200) {
    Fail("list the multipart uploads below", prefix, response);
  }
  std::vector<std::pair<std::string, std::string>> uploads;
  ReadXmlLeaves(
      response.body,
      [&](const std::string& name) {
        if (name == "Upload") {
          uploads.emplace_back();
        }
      },
      [&](const std::string& name, const std::string& text) {
        if (name == "Key" && !uploads.empty()) {
          uploads.back().first = text;
        } else if (name == "UploadId" && !uploads.empty()) {
          uploads.back().second = text;
        }
      });
  return uploads;
}
