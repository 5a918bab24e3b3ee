#pragma once

#include <string>
#include <string_view>

// Standard base64 (RFC 4648, "+/" and "=" padding), as the key and signature files use. Any
// thread.

std::string EncodeBase64(std::string_view bytes);

// Decodes text that is exactly one padded base64 value; false for anything else (white space,
// missing padding, bits left over).
bool DecodeBase64(std::string_view text, std::string& bytes);
