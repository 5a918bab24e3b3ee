#pragma once

#include <string>

// UTF-8 text as the wide-character Windows API takes it (UTF-16) and back; only the Windows
// files call these. Any thread.

// UTF-8 to UTF-16. Text that is not UTF-8 is read as GB18030 (the Chinese ANSI code page),
// and where it is not that either, each invalid byte becomes U+FFFD.
std::wstring ToWide(const std::string& text);

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string FromWide(const std::wstring& text);

// The system's words for a Win32 error code, in UTF-8 and without the trailing line break.
std::string SystemErrorText(unsigned long code);
