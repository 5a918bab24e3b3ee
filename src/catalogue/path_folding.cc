#include "catalogue/path_folding.h"

#include <cstdint>

namespace {

inline unsigned char Fold(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

}  // namespace

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    if (Fold(static_cast<unsigned char>(a[i])) != Fold(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

size_t FoldedHash::operator()(std::string_view text) const {
  // 64-bit FNV-1a over the folded bytes.
  uint64_t hash = 14695981039346656037ull;
  for (char c : text) {
    hash ^= Fold(static_cast<unsigned char>(c));
    hash *= 1099511628211ull;
  }
  return static_cast<size_t>(hash);
}
