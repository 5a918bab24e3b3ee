#pragma once

#include <cstdint>
#include <string_view>

// A plain decimal number as the publisher writes timestamps: 1 to 18 digits and nothing else (no
// sign, no blanks), so that it always fits in 64 bits. False, value untouched, otherwise. Any
// thread.
bool ReadWholeNumber(std::string_view text, int64_t& value);
