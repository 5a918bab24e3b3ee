#include <time.h>

#include "platform/local_time.h"

std::tm LocalTime(std::time_t when) {
  std::tm local{};
  localtime_s(&local, &when);
  return local;
}

std::tm LocalTimeNow() {
  return LocalTime(std::time(nullptr));
}
