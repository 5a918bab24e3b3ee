#pragma once

#include <string>

// Process-wide start-up of the HTTP layer (the stand-in for the socket library); false when it
// cannot be initialised. Call once from main before any transfer.
bool InitializeTransfers();
void ShutdownTransfers();

// From now on, https servers' certificates are verified against the roots in the PEM file at path
// (a private CA's, say) instead of the system's; "" goes back to the system's. Certificates and
// host names are verified either way. False, changing nothing, when the file can't be read or
// holds no certificate that can be used. Closes the kept connections: call it at start-up, before
// any transfer (before or after InitializeTransfers: it needs nothing of the started layer).
bool SetTrustedRootsFile(const std::string& path);
