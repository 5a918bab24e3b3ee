#pragma once

#include <string>

// The program's texts are UTF-8; Win32 calls take UTF-16. Bytes that are not UTF-8 become
// U+FFFD rather than emptying the whole text. Any thread.
std::wstring WideText(const std::string& utf8);
