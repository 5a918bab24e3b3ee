#pragma once

#include <string>

// The system's converters for text that is not UTF-8. Any thread.

// Converts GB18030 bytes to UTF-8 into out, one U+FFFD for every byte that starts no valid
// character; false, out untouched, when the system offers no such converter.
bool Gb18030ToUtf8(const std::string& text, std::string& out);
