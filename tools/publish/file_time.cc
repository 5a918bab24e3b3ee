#include "publish/file_time.h"

#include <cstdio>

#include "platform/local_time.h"

namespace {

// Seconds from 1601-01-01 to 1970-01-01 (369 years, 89 of them leap years).
constexpr int64_t kEpochDifference = 11644473600LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

}  // namespace

int64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds) {
  int64_t since1601 = seconds + kEpochDifference;
  if (since1601 < 0) {
    return 0;
  }
  return since1601 * kTicksPerSecond + nanoseconds / 100;
}

std::string FormatLocalDate(std::time_t when) {
  const std::tm local = LocalTime(when);
  char text[64];
  std::snprintf(text, sizeof text, "%.4u-%.2u-%.2u %.2u:%.2u:%.2u",
                static_cast<unsigned>(local.tm_year + 1900),
                static_cast<unsigned>(local.tm_mon + 1), static_cast<unsigned>(local.tm_mday),
                static_cast<unsigned>(local.tm_hour), static_cast<unsigned>(local.tm_min),
                static_cast<unsigned>(local.tm_sec));
  return text;
}
