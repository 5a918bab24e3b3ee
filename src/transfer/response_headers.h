#pragma once

#include <cstdint>
#include <string>

// Readings of response header values that every HTTP implementation judges alike. Pure; any
// thread.

// What a final response's head says about its body, as every implementation reads it.
struct ResponseHead {
  long status = 0;
  std::string contentRange;
  bool encodingKnown = true;  // no coding named that the implementation can't undo
  int codings = 0;            // real codings named (gzip, deflate; not "identity")
  bool lengthAnnounced = false;
  uint64_t length = 0;
};

// text without the blanks (spaces, tabs, CR, LF) it starts or ends with.
std::string TrimBlanks(const std::string& text);

// Whether a Content-Encoding value names only codings we undo (gzip, x-gzip, deflate; "identity"
// changes nothing). Adds the number of real codings it names to codings.
bool KnownEncodings(const std::string& value, int& codings);

// A Content-Length value as a number; false when it is none.
bool ParseLength(const std::string& text, uint64_t& length);

// Whether a Content-Range value ("bytes N-E/T", T may be "*") continues a body at start, ending
// with the last byte of the whole (total, when it is known).
bool ContinuesAt(const std::string& value, uint64_t start, uint64_t total, bool totalKnown);

// Whether a and b are the same text apart from the case of ASCII letters.
bool EqualsIgnoringCase(const std::string& a, const std::string& b);
