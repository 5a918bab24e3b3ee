#include "catalogue/whole_number.h"

bool ReadWholeNumber(std::string_view text, int64_t& value) {
  if (text.empty() || text.size() > 18) {
    return false;
  }
  int64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') {
      return false;
    }
    number = number * 10 + (c - '0');
  }
  value = number;
  return true;
}
