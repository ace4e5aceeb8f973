#pragma once
#include <cstdint>

// Milliseconds since an arbitrary start, wrapping at 2^32 like GetTickCount.
uint32_t GetTickCount32();
void SleepMs(uint32_t milliseconds);
