#pragma once

#include <string>

// printf-style formatting into a string, for the window's fixed texts. Any thread.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
