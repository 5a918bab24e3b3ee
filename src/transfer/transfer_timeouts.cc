#include "transfer/transfer_timeouts.h"

#include <cerrno>
#include <cstdlib>

namespace {

constexpr long kDefaultStallSeconds = 60;
constexpr long kLongestStallSeconds = 24 * 60 * 60;

}  // namespace

long StallTimeoutFromText(const char* text) {
  if (text == nullptr || *text < '0' || *text > '9') {
    return kDefaultStallSeconds;
  }
  char* end = nullptr;
  errno = 0;
  long seconds = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || seconds < 1 || seconds > kLongestStallSeconds) {
    return kDefaultStallSeconds;
  }
  return seconds;
}

long StallTimeoutSeconds() {
  static const long seconds = StallTimeoutFromText(std::getenv("LODESTAR_STALL_TIMEOUT_SECONDS"));
  return seconds;
}
