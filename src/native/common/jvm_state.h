// What the JVM service's files share about the one VM of the process: the VM itself,
// the shutdown phase and the exit method that an interrupt calls.
#pragma once

#include <jni.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

// The VM, null when none exists (jvm_create.cpp).
JavaVM* jsvGetJavaVM();
// The main thread's JNI environment while the VM exists; only the main thread uses it.
JNIEnv* jsvGetMainEnv();

// 0 normally; 1 while jsvDestroyJVM waits for the VM's threads; raised to 2 by the first
// interrupt during that wait, and to 3 by the one that forces the exit: a destroy that
// returns then leaves the end of the process to that interrupt.
inline constexpr int32_t kAbortIdle = 0;
inline constexpr int32_t kAbortDestroying = 1;
inline constexpr int32_t kAbortInterrupted = 2;
inline constexpr int32_t kAbortForcing = 3;
std::atomic<int32_t>& jsvAbortPhase();

// The exit class and method of the running application, set while its main method runs
// (jvm_run.cpp). Safe to call from any thread.
struct ExitTarget {
  std::string className;  // dotted form
  std::string method;
  // Named by the configuration's exitclass; else the main class, which need not know the
  // launcher.
  bool configured = false;
};
std::optional<ExitTarget> jsvGetExitTarget();
// The exit target for a stop's call of the exit method while main runs, counted until
// jsvEndExitCall; none once main has ended. Main's end waits for the calls counted.
std::optional<ExitTarget> jsvBeginExitCall();
void jsvEndExitCall();
// The exit class and method of the application whose main method has returned: the
// orderly stop while the destruction waits for its threads.
std::optional<ExitTarget> jsvGetFinishedExitTarget();

// Drops the cached java.lang.System handles once the VM is gone (jvm_check.cpp).
void jsvForgetSystemClass();
