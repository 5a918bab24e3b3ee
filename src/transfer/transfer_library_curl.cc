#include "transfer/transfer_library.h"

#include <curl/curl.h>

#include "platform/file_system.h"
#include "transfer/http_download.h"
#include "transfer/trusted_roots.h"

bool InitializeTransfers() {
  return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
}

void ShutdownTransfers() {
  CloseKeptConnections();
  curl_global_cleanup();
}

bool SetTrustedRootsFile(const std::string& path) {
  // libcurl reads the file itself at each connection; a file without a certificate is refused
  // now rather than at the first https download.
  std::string text;
  if (!path.empty() && (!ReadWholeFile(path, text) || PemCertificateBlocks(text).empty())) {
    return false;
  }
  // A kept connection was verified against the roots it was made with.
  CloseKeptConnections();
  SetTrustedRootsPath(path);
  return true;
}
