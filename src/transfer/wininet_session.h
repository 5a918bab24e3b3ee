#pragma once

#include <string>
#include <vector>

// Opens the process's one WinInet session, which every download shares (its kept connections
// with it); false when WinInet cannot be used. Closed by CloseKeptConnections. Any thread.
bool OpenInternetSession();

// Verifies https servers' certificates against the certificates of pemBlocks (PEM text, each a
// block of PemCertificateBlocks) alone from now on; against the system's when it is empty. False,
// changing nothing, when one of them can't be used.
bool UseTrustedRoots(const std::vector<std::string>& pemBlocks);
