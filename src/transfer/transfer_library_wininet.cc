#include <winsock2.h>

#include "platform/file_system.h"
#include "transfer/http_download.h"
#include "transfer/transfer_library.h"
#include "transfer/trusted_roots.h"
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

bool SetTrustedRootsFile(const std::string& path) {
  std::string text;
  std::vector<std::string> blocks;
  if (!path.empty()) {
    if (!ReadWholeFile(path, text)) {
      return false;
    }
    blocks = PemCertificateBlocks(text);
    if (blocks.empty()) {
      return false;
    }
  }
  if (!UseTrustedRoots(blocks)) {
    return false;
  }
  // A kept connection was verified against the roots it was made with.
  CloseKeptConnections();
  SetTrustedRootsPath(path);
  return true;
}
