#pragma once

#include <cstddef>
#include <string>

// True when text is well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool IsValidUtf8(const std::string& text);

// Text as the user should read it: UTF-8 stays as it is; anything else is taken as GB18030, the
// code page of servers written for the original platform, and converted. Bytes that are neither
// become U+FFFD. Only for showing: paths and URLs keep their bytes. Any thread.
std::string DisplayText(const std::string& text);

// The longest prefix of text of at most maxBytes bytes that does not cut a UTF-8 sequence.
std::string CutAtCharBoundary(const std::string& text, size_t maxBytes);
