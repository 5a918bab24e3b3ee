#include "transfer/transfer_library.h"

#include <curl/curl.h>

bool InitializeTransfers() {
  return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
}

void ShutdownTransfers() {
  curl_global_cleanup();
}
