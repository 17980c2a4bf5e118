#include "monotonic_clock.h"

#include <time.h>

#include <cerrno>

uint64_t hmdMonotonicMicros() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

uint64_t hmdMonotonicMillis() { return hmdMonotonicMicros() / 1000u; }

void hmdSleepMicros(uint64_t micros) {
  timespec pause{.tv_sec = static_cast<time_t>(micros / 1000000u),
                 .tv_nsec = static_cast<long>(micros % 1000000u) * 1000};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

void hmdSleepMillis(uint64_t millis) { hmdSleepMicros(millis * 1000u); }
