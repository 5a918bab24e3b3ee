#include "platform/local_time.h"

std::tm LocalTime(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  return local;
}

std::tm LocalTimeNow() {
  return LocalTime(std::time(nullptr));
}
