#pragma once

#include <ctime>

// The local time zone's view of a moment, as the system sees it. Any thread.

// The local date and time of when.
std::tm LocalTime(std::time_t when);

// The local date and time now.
std::tm LocalTimeNow();
