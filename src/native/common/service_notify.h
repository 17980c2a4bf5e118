// Running under a service manager: the notification messages sent at the moments of the
// process's life, the readiness rule, the watchdog that pings only while the VM answers,
// and the pid file. Without NOTIFY_SOCKET nothing is sent; the pid file is independent.
#pragma once

#include <jni.h>

#include <cstdint>
#include <optional>
#include <string>

#include "launch_settings.h"

// Process start: takes NOTIFY_SOCKET and the restart generation out of the environment,
// so that neither the environment snapshot nor the VM, the application or its children
// see them. They are put back before a re-execution.
void hmdServiceTakeEnvironment();

// The configuration has been read: sends MAINPID with the starting status.
void hmdServiceConfigRead();
// The application's VM is about to be created: writes the pid file. False (after a
// message on standard error) stops the launch.
bool hmdServiceApplicationStarts();

// The main method is about to be called in the VM: readiness by "main", the readiness
// port poll, and the watchdog begin.
// One try of a polled readiness rule (port: this process listens on it; http: a status
// line comes back), for whoever waits on the rule besides the service manager.
bool hmdReadinessMet(const Readiness& readiness);
void hmdServiceMainCalled(JavaVM* vm);
// The main method has returned (normally: without an exception): readiness by "return".
void hmdServiceMainReturned(bool normally);
// An orderly stop begins: STOPPING=1, once.
void hmdServiceStopBegins();
// The VM has been destroyed: no more watchdog pings, no more readiness poll.
void hmdServiceVMDestroyed();
// Just before the launcher executes itself again; restart is false for the re-execution
// that completes the library path, true for the application's restart (RELOADING=1).
void hmdServiceBeforeReexec(bool restart);
// The process ends with this status: the final status message, and the pid file removed.
void hmdServiceProcessEnds(int32_t status);

// The notification socket's address as NOTIFY_SOCKET gives it ('@' for an abstract
// socket); none when the launcher has none or it is not usable.
std::optional<std::string> hmdGetNotifySocket();
// Sends one datagram to the notification socket; false when there is none or it failed.
bool hmdNotify(const std::string& message);
// The watchdog's ping interval in microseconds (half of WATCHDOG_USEC), 0 when none.
uint64_t hmdGetWatchdogInterval();
// Back to the start state; for tests.
void hmdServiceReset();
