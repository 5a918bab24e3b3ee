#pragma once

#include <chrono>
#include <functional>
#include <string>

#include <wx/string.h>

// Runs the toolkit's events on the test's thread for a while, or until done() holds (checked
// between events); true when done() held. Needs the loop started by the test main.
bool RunEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
void RunEventsFor(std::chrono::milliseconds time);

// A wx string as the program's UTF-8 texts spell it.
inline std::string Utf8Text(const wxString& text) {
  const wxScopedCharBuffer buffer = text.utf8_str();
  return std::string(buffer.data(), buffer.length());
}
