// The monotonic clock, and sleeps measured on it. Both are async-signal-safe.
#pragma once

#include <cstdint>

uint64_t hmdMonotonicMicros();
uint64_t hmdMonotonicMillis();
// Sleeps the whole time, whatever signals arrive meanwhile.
void hmdSleepMicros(uint64_t micros);
void hmdSleepMillis(uint64_t millis);
