#pragma once

#include <chrono>
#include <functional>

// Runs the toolkit's events on the test's thread for a while, or until done() holds (checked
// between events); true when done() held. Needs the loop started by the test main.
bool RunEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
void RunEventsFor(std::chrono::milliseconds time);
