#pragma once

#include <cstddef>
#include <cstdint>

// The fuzzed entry points, one per input format the program takes from outside. Each runs one
// input through the real code and aborts with a message when an invariant breaks, so a finding
// shows as a crash under libFuzzer and as a failed case when a test replays the input. Called on
// one thread at a time.

// The document reader: object and array roots, fresh and merged, and the writer's round trip.
int FuzzJsonParse(const uint8_t* data, size_t size);
// A manifest loaded into a catalogue below a scratch application directory (the directories of
// each key made on disk once), then compared with itself.
int FuzzManifestLoad(const uint8_t* data, size_t size);
// The lines of a downloaded server list.
int FuzzServerList(const uint8_t* data, size_t size);
// The configuration text as start-up reads it.
int FuzzConfiguration(const uint8_t* data, size_t size);
