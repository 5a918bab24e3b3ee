#include "transfer/transfer_timeouts.h"

#include <cerrno>
#include <cstdlib>

namespace {

constexpr long kDefaultStallSeconds = 60;
constexpr long kLongestSeconds = 24 * 60 * 60;

// A whole number of seconds in range as text; fallback for anything else (null included).
long SecondsFromText(const char* text, long fallback) {
  if (text == nullptr || *text < '0' || *text > '9') {
    return fallback;
  }
  char* end = nullptr;
  errno = 0;
  long seconds = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || seconds < 1 || seconds > kLongestSeconds) {
    return fallback;
  }
  return seconds;
}

}  // namespace

long StallTimeoutFromText(const char* text) {
  return SecondsFromText(text, kDefaultStallSeconds);
}

long StallTimeoutSeconds() {
  static const long seconds = StallTimeoutFromText(std::getenv("LODESTAR_STALL_TIMEOUT_SECONDS"));
  return seconds;
}

long FetchDeadlineSeconds(long requested) {
  static const long replacement =
      SecondsFromText(std::getenv("LODESTAR_FETCH_DEADLINE_SECONDS"), 0);
  return requested > 0 && replacement > 0 ? replacement : requested;
}
