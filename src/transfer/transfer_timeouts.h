#pragma once

// How long a transfer may go without receiving a byte before it is given up, in seconds: 60, or
// the whole number of seconds (1 to 86400) in the environment variable
// LODESTAR_STALL_TIMEOUT_SECONDS, read once on the first call. An operator knob for slow links,
// and for tests that must see a stall end quickly. Any thread.
long StallTimeoutSeconds();

// The value that a setting of the variable gives; the default for anything but a whole number of
// seconds in range (null included).
long StallTimeoutFromText(const char* text);

// The whole-fetch deadline in seconds that a task asking for requested gets: none (0) stays none;
// any other is replaced by the whole number of seconds (1 to 86400) in the environment variable
// LODESTAR_FETCH_DEADLINE_SECONDS when it holds one, read once on the first call. For tests that
// must see a trickle end quickly. Any thread.
long FetchDeadlineSeconds(long requested);
