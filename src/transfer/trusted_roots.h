#pragma once

#include <string>
#include <vector>

// The roots that https servers' certificates are verified against, as SetTrustedRootsFile
// (transfer_library.h) set them: the path of a PEM file, "" for the system's own. Set before any
// transfer runs; read by the transfers of any thread.
const std::string& TrustedRootsPath();
void SetTrustedRootsPath(const std::string& path);

// The certificates of a PEM text: each block from its "-----BEGIN CERTIFICATE-----" line to its
// "-----END CERTIFICATE-----" line, as written; other blocks (keys, say) and text between are
// left out. Pure; any thread.
std::vector<std::string> PemCertificateBlocks(const std::string& text);
