#pragma once

// Process-wide start-up of the HTTP layer (the stand-in for the socket library); false when it
// cannot be initialised. Call once from main before any transfer.
bool InitializeTransfers();
void ShutdownTransfers();
