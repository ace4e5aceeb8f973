// A periodic multimedia timer of 1 ms adds one to the counter; it is started
// when the program starts and stopped when it ends.
#include <windows.h>
#include <mmsystem.h>

#include <atomic>

#include "platform/MsCounter.h"

namespace {

std::atomic<uint32_t> Counter{10000};

void CALLBACK CounterTick(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) { Counter.fetch_add(1); }

class TCounterTimer {
public:
  TCounterTimer() { FTimer = timeSetEvent(1, 0, CounterTick, 0, TIME_PERIODIC); }
  ~TCounterTimer() {
    if (FTimer != 0) timeKillEvent(FTimer);
  }

private:
  MMRESULT FTimer = 0;
};

TCounterTimer Timer;

}  // namespace

uint32_t MsCounter() { return Counter.load(); }

void AdvanceMsCounter(uint32_t delta) { Counter.fetch_add(delta); }
