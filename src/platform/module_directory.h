#pragma once

#include <string>

// The running executable's directory with its trailing separator. Any thread.
std::string ModuleDirectory();

// Cuts a full executable path just after its last "/" or "\" (an executable in "/" gives "/");
// the whole path when there is none.
std::string DirectoryOfPath(const std::string& path);
