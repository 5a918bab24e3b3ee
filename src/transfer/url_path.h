#pragma once

#include <string>

// The path of a published file as it goes into its URL: every byte outside RFC 3986's unreserved
// set and "/" becomes %XX (upper-case hex), so that any name a release may hold reaches the
// server as that name. Pure; any thread.
std::string EncodeUrlPath(const std::string& path);
