#include "transfer/transfer_library.h"

#include <curl/curl.h>

#include "transfer/http_download.h"

bool InitializeTransfers() {
  return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
}

void ShutdownTransfers() {
  CloseKeptConnections();
  curl_global_cleanup();
}
