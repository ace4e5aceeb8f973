// The process-wide millisecond counter. It starts at 10000 and goes up by one
// every millisecond, wrapping at 2^32; the echo service times its probes with it.
#pragma once
#include <cstdint>

uint32_t MsCounter();

// Moves the counter forward by `delta` milliseconds (wrapping). Tests use it
// to bring the counter close to its wrap-around.
void AdvanceMsCounter(uint32_t delta);
