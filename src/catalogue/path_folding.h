#pragma once

#include <cstddef>
#include <string_view>

// Case-blind comparison of manifest paths and names. Manifests come from a case-insensitive
// world, so "Data/A.dll" and "data/a.dll" name the same file; only ASCII letters fold.

// True when a and b hold the same bytes once ASCII letters are folded to lower case.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// Hash and equality for unordered containers keyed by case-blind text; stateless, any thread.
struct FoldedHash {
  size_t operator()(std::string_view text) const;
};

struct FoldedEqual {
  bool operator()(std::string_view a, std::string_view b) const { return EqualsIgnoringCase(a, b); }
};
