#include <winsock2.h>

#include "transfer/http_download.h"
#include "transfer/transfer_library.h"
#include "transfer/wininet_session.h"

bool InitializeTransfers() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    return false;
  }
  if (OpenInternetSession()) {
    return true;
  }
  WSACleanup();
  return false;
}

void ShutdownTransfers() {
  CloseKeptConnections();
  WSACleanup();
}
