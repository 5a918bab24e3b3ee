#include "publish/s3_location.h"

#include <cstdio>

#include "publish/publish_error.h"
#include "transfer/url_path.h"

namespace {

bool StartsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

}  // namespace

std::string S3Location::Address() const {
  return "s3://" + bucket + (prefix.empty() ? "" : "/" + prefix);
}

std::string S3Location::Key(const std::string& relative) const {
  return prefix.empty() ? relative : prefix + "/" + relative;
}

std::string S3Location::Url(const std::string& key, const std::string& query) const {
  std::string url = endpoint;
  if (pathStyle) {
    url += "/" + bucket;
  }
  if (!key.empty() || !pathStyle) {
    url += "/" + EncodeUrlPath(key);
  }
  return query.empty() ? url : url + "?" + query;
}

S3Location ReadS3Location(const std::string& address,
                          const std::function<std::string(const std::string&)>& variable) {
  S3Location location;
  if (!StartsWith(address, "s3://")) {
    throw PublishError("'" + address + "' is no s3://BUCKET/PREFIX address");
  }
  std::string rest = address.substr(5);
  size_t slash = rest.find('/');
  location.bucket = rest.substr(0, slash);
  if (slash != std::string::npos) {
    location.prefix = rest.substr(slash + 1);
  }
  while (!location.prefix.empty() && location.prefix.back() == '/') {
    location.prefix.pop_back();
  }
  if (location.bucket.empty()) {
    throw PublishError("'" + address + "' names no bucket (s3://BUCKET/PREFIX)");
  }
  // Clients ask for the prefix's objects by URL, where an empty part would change the key.
  if (location.prefix.find("//") != std::string::npos || StartsWith(location.prefix, "/")) {
    throw PublishError("the prefix of '" + address + "' has an empty part ('//')");
  }

  location.accessKey = variable("AWS_ACCESS_KEY_ID");
  location.secretKey = variable("AWS_SECRET_ACCESS_KEY");
  location.sessionToken = variable("AWS_SESSION_TOKEN");
  if (location.accessKey.empty() || location.secretKey.empty()) {
    throw PublishError(
        "set AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY to the store's access key pair (and "
        "AWS_SESSION_TOKEN for temporary keys)");
  }
  location.region = variable("AWS_REGION");
  if (location.region.empty()) {
    location.region = variable("AWS_DEFAULT_REGION");
  }
  if (location.region.empty()) {
    location.region = "us-east-1";
  }

  std::string endpoint = variable("AWS_ENDPOINT_URL_S3");
  if (endpoint.empty()) {
    endpoint = variable("AWS_ENDPOINT_URL");
  }
  if (endpoint.empty()) {
    // A bucket name with a dot does not fit the certificate of a host name of its own.
    location.pathStyle = location.bucket.find('.') != std::string::npos;
    location.endpoint = location.pathStyle ? "https://s3." + location.region + ".amazonaws.com"
                                           : "https://" + location.bucket + ".s3." +
                                                 location.region + ".amazonaws.com";
    return location;
  }
  if (!StartsWith(endpoint, "http://") && !StartsWith(endpoint, "https://")) {
    throw PublishError("the endpoint '" + endpoint + "' is no http:// or https:// URL");
  }
  while (endpoint.back() == '/') {
    endpoint.pop_back();
  }
  location.endpoint = endpoint;
  return location;
}

std::string EncodeQueryValue(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}
