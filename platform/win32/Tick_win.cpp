#include <windows.h>

#include "platform/Tick.h"

uint32_t GetTickCount32() { return GetTickCount(); }
void SleepMs(uint32_t milliseconds) { Sleep(milliseconds); }
