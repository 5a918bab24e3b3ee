#pragma once

#include <cstdint>
#include <string>

// Readings of response header values that every HTTP implementation judges alike. Pure; any
// thread.

// Whether a Content-Encoding value names only codings we undo (gzip, x-gzip, deflate; "identity"
// changes nothing). Sets encoded when any real coding is named.
bool KnownEncodings(const std::string& value, bool& encoded);

// A Content-Length value as a number; false when it is none.
bool ParseLength(const std::string& text, uint64_t& length);

// Whether a Content-Range value ("bytes N-E/T", T may be "*") continues a body at start, ending
// with the last byte of the whole (total, when it is known).
bool ContinuesAt(const std::string& value, uint64_t start, uint64_t total, bool totalKnown);

// Whether a and b are the same text apart from the case of ASCII letters.
bool EqualsIgnoringCase(const std::string& a, const std::string& b);
