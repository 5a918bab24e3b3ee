#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// Time stamps as manifests carry them. Any thread.

// A POSIX time as 100-nanosecond intervals since 1601-01-01 UTC; times before 1601 give 0.
int64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds);

// The local time of `when` as "YYYY-MM-DD hh:mm:ss".
std::string FormatLocalDate(std::time_t when);
