#pragma once

#include <string>

// Where the PEM file that Lodestar.cfg's cacert names lies: cacert itself when it is absolute
// (from a root, a drive or a network share), else below moduleDirectory. Pure; any thread.
std::string ConfiguredRootsPath(const std::string& cacert, const std::string& moduleDirectory);

// Makes the roots of the file cacert names the only ones https servers are verified against.
// "" when done, or when cacert is empty (the system's roots stay); otherwise why not, for the
// user, in the process's language: the file is missing or unreadable, or holds no certificate
// that can be used. Start-up, before any transfer.
std::string UseConfiguredRoots(const std::string& cacert, const std::string& moduleDirectory);
