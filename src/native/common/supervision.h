// Supervision where no service manager watches: the wait before a restart that follows
// brief generations, the limit on restarts in a time window, and the VM watch that
// restarts or ends the process when the VM stops answering.
//
// The state that has to outlive a restart (when this generation began, how many brief
// generations came in a row, the times of the recent restarts) crosses the re-execution in
// LAUNCHER_SUPERVISION, which is taken out of the environment at start.
#pragma once

#include <jni.h>

#include <cstdint>
#include <deque>
#include <string>

// The status the process ends with when the VM watch (action "exit") finds the VM hung,
// and that a restart of a hung VM counts with.
inline constexpr int32_t kExitVmHung = 70;

// The wait before a restart: none after a generation that lived at least briefMillis;
// after n brief generations in a row firstMillis * 2^(n-1), at most capMillis.
struct RestartBackoff {
  uint64_t firstMillis = 1000;
  uint64_t capMillis = 60000;
  uint64_t briefMillis = 10000;
};
uint64_t hmdRestartDelayMillis(const RestartBackoff& backoff, uint32_t briefInARow);

// Whether one more restart at nowMillis makes more than count within windowMillis. The
// times of earlier restarts (oldest first) lose those outside the window; a restart that
// is allowed is added.
bool hmdRestartLimitReached(std::deque<uint64_t>& restartTimes, uint64_t nowMillis, uint32_t count,
                            uint64_t windowMillis);

// The directives: "restartlimit COUNT SECONDS" and "vmwatch SECONDS [restart|exit]".
bool hmdSetRestartLimit(const std::string& argument);
bool hmdSetVmWatch(const std::string& argument);

// Process start: takes the state a restart handed over out of the environment and resets
// the settings. restartInPlace restarts the application as its restart code does, with the
// status given (for the VM watch; it does not return).
void hmdSupervisionTakeEnvironment(void (*restartInPlace)(int32_t status));
// The application asked for a restart with the status: false (after a line on standard
// error) when the restart limit is reached, else true once the wait after brief
// generations is over. The caller then ends the process: a stop signal noted meanwhile
// ends it instead of the restart.
bool hmdSupervisionBeforeRestart(int32_t status);
// Just before the launcher executes itself again (restart: the application restarts).
void hmdSupervisionBeforeReexec(bool restart);
// The main method is about to be called: the state record (with a pid file) and the VM
// watch (when configured) begin.
void hmdSupervisionMainCalled(JavaVM* vm);
// The main method has returned (normally: without an exception): readiness by "return".
void hmdSupervisionMainReturned(bool normally);
// An orderly stop begins: the state record says so.
void hmdSupervisionStopBegins();

// The VM watch's settings, for tests: seconds (0: none) and whether it restarts.
uint32_t hmdGetVmWatchSeconds();
bool hmdVmWatchRestarts();
// Back to the start state; for tests.
void hmdSupervisionReset();
