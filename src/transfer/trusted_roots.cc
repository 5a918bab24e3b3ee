#include "transfer/trusted_roots.h"

namespace {

std::string& Path() {
  static std::string* path = new std::string;  // never destroyed: a late transfer may read it
  return *path;
}

}  // namespace

const std::string& TrustedRootsPath() {
  return Path();
}

void SetTrustedRootsPath(const std::string& path) {
  Path() = path;
}

std::vector<std::string> PemCertificateBlocks(const std::string& text) {
  static const std::string kBegin = "-----BEGIN CERTIFICATE-----";
  static const std::string kEnd = "-----END CERTIFICATE-----";
  std::vector<std::string> blocks;
  for (size_t begin = text.find(kBegin); begin != std::string::npos;
       begin = text.find(kBegin, begin)) {
    const size_t end = text.find(kEnd, begin + kBegin.size());
    if (end == std::string::npos) {
      break;  // cut short: not a certificate
    }
    // Another BEGIN before this END: the first block has no end of its own.
    const size_t next = text.find(kBegin, begin + kBegin.size());
    if (next != std::string::npos && next < end) {
      begin = next;
      continue;
    }
    blocks.push_back(text.substr(begin, end + kEnd.size() - begin));
    begin = end + kEnd.size();
  }
  return blocks;
}
