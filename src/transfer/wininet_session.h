#pragma once

// Opens the process's one WinInet session, which every download shares (its kept connections
// with it); false when WinInet cannot be used. Closed by CloseKeptConnections. Any thread.
bool OpenInternetSession();
