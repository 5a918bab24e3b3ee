#pragma once

#include <string>

// What a manifest may name on disk, and the directories it asks for. A manifest comes from the
// network, so its keys and names must never lead outside the application's directory. Pure
// functions; any thread.

// False for a directory key with a ".." component (components split at "/" and at "\"), a
// component this platform's files cannot hold safely (PlatformRefusesName), or a NUL byte. Empty
// components, a leading "/" and "." are harmless: they stay below the root.
bool IsSafeDirectoryKey(const std::string& key);

// False for a file name that is empty, "." or "..", holds "/", "\" or a NUL byte, or is one this
// platform's files cannot hold safely (PlatformRefusesName).
bool IsSafeFileName(const std::string& name);

// Creates root + "/" + piece for every "/"-separated piece of key, each below the one before
// (empty pieces kept, so separators may double). The empty key creates nothing. Failures are not
// looked at: the directory may exist already, and a later download into a missing one fails
// there.
void CreateKeyDirectories(const std::string& root, const std::string& key);
