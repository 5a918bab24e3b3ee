#pragma once

#include <string>

#include "json/json_value.h"

// A document's members as compact text, quoted so that empty keys and values show.
inline std::string Text(const JsonValue& value) {
  std::string out;
  value.write(out, false, 0);
  return out;
}
