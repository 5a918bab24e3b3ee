#pragma once

#include <string>

// Reads a whole manifest file into text; false when it is missing, no regular file, or cannot be
// read. Any thread.
bool ReadManifestText(const std::string& path, std::string& text);
