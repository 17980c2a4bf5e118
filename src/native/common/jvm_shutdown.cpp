// The orderly stop and the stack dump, run on the threads the signal handling starts.
//
// What an interrupt does depends on where the VM's life is:
//   main method running          -> call the exit class's static void <exit method>(boolean)
//   no main method, no destroy   -> trace and ignore
//   destroy waiting (phase 1)    -> explain the wait, start the orderly stop, phase 2
//   destroy interrupted (2)      -> force the process down with exit(1), phase 3
//
// An application that has no exit method (a server that does not know the launcher) is
// stopped as the VM would stop it on the signal: System.exit(128 + the signal's number),
// so that its shutdown hooks run. That is the ordinary stop of such a server, said only
// in the trace; an exit class the configuration names and that is missing (or lacks the
// method) is a mistake, said on standard error.
#include <jni.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>
#include <thread>

#include "jni_support.h"
#include "jvm_discovery.h"
#include "jvm_service.h"
#include "jvm_state.h"
#include "process_end.h"
#include "service_notify.h"
#include "startup_cache.h"
#include "trace.h"

namespace {

// Set once the launcher has turned a stop into System.exit(128 + n): the exit waits for
// the shutdown hooks, and the next interrupt forces the process down, as in the destroy
// wait.
std::atomic<bool> systemExitStarted{false};

// System.exit(128 + signal) on the attached thread; it returns only when the VM refuses.
void callSystemExit(JNIEnv* env, int32_t signal) {
  LocalRef<jclass> system(env, env->FindClass("java/lang/System"));
  jmethodID exitMethod = system ? env->GetStaticMethodID(system.get(), "exit", "(I)V") : nullptr;
  if (exitMethod != nullptr)
    env->CallStaticVoidMethod(system.get(), exitMethod, static_cast<jint>(128 + signal));
  jsvDescribeException(env);
}

// Why the stop goes through System.exit: on standard error for a configured exit class,
// in the trace for the main class.
void sayNoExitMethod(const ExitTarget& target, const std::string& line) {
  if (target.configured) {
    std::fprintf(stderr, "%s\n", line.c_str());
  } else {
    ut_tproda("%s", line.c_str());
  }
}

// The dotted name as it goes into a line, cut where a trace line cuts it.
std::string shown(const std::string& text, int position = 0) {
  return text.substr(0, static_cast<size_t>(ut_textLimit(position)));
}

void systemExitOnAttachedThread(int32_t signal) {
  JavaVM* vm = jsvGetJavaVM();
  if (vm == nullptr) return;
  AttachedThread attached(vm);
  if (attached.env() != nullptr) callSystemExit(attached.env(), signal);
}

// On a thread of its own, so that the signal's handling re-arms while the hooks run.
void stopWithSystemExit(JNIEnv*, int32_t signal) {
  systemExitStarted = true;
  try {
    std::thread(systemExitOnAttachedThread, signal).detach();
  } catch (const std::system_error&) {
    systemExitOnAttachedThread(signal);
  }
}

[[noreturn]] void forceExit() {
  // exit() run by two threads at once is undefined: the main thread, the exit hook and
  // any other interrupt leave the end to this one.
  hmdClaimEnd();
  jsvAbortPhase().store(kAbortForcing);
  jscDiscardCache();
  std::fputs("Forcing process exit before orderly shutdown is complete.\n", stderr);
  std::fputs(
      "Suggest you check carefully that all child processes have completed and all databases are "
      "consistent.\n",
      stderr);
  hmdEndProcess(1);
}

void callExitMethod(const ExitTarget& target, bool flag, int32_t signal) {
  ut_tproda("Shutting down, trying to invoke \"public static void %.*s(boolean)\" of %.*s", ut_textLimit(),
            target.method.c_str(), ut_textLimit(1), target.className.c_str());
  JavaVM* vm = jsvGetJavaVM();
  if (vm == nullptr) return;
  // Detached again on every path, a missing class included: a native thread that ended
  // attached would stay a live non-daemon Java thread that the VM's destruction waits for.
  AttachedThread attached(vm);
  JNIEnv* env = attached.env();
  if (env == nullptr) return;

  std::string slashed = target.className;
  jsvDotToSlash(slashed);
  LocalRef<jclass> exitClass(env, env->FindClass(slashed.c_str()));
  if (!exitClass) {
    if (target.configured) {
      jsvDescribeException(env);
    } else {
      jsvClearException(env);
    }
    if (signal == 0) return;
    sayNoExitMethod(target, "Exit class " + shown(target.className) +
                                " not found; stopping the application with System.exit(" +
                                std::to_string(128 + signal) + ").");
    stopWithSystemExit(env, signal);
    return;
  }
  jmethodID method = env->GetStaticMethodID(exitClass.get(), target.method.c_str(), "(Z)V");
  if (method == nullptr) {
    jsvClearException(env);
    if (signal == 0) return;
    sayNoExitMethod(target, "No 'public static void " + shown(target.method) + "(boolean)' method in " +
                                shown(target.className, 1) + "; stopping the application with System.exit(" +
                                std::to_string(128 + signal) + ").");
    stopWithSystemExit(env, signal);
    return;
  }
  env->CallStaticVoidMethod(exitClass.get(), method, flag ? JNI_TRUE : JNI_FALSE);
  jsvDescribeException(env);
}

// The orderly stop once main has returned and the destruction waits for its threads.
void stopAfterMain(bool flag, int32_t signal) {
  if (signal == 0) return;
  if (std::optional<ExitTarget> target = jsvGetFinishedExitTarget()) {
    callExitMethod(*target, flag, signal);
    return;
  }
  stopWithSystemExit(nullptr, signal);
}

}  // namespace

bool jsvAbortService(bool flag, int32_t signal) {
  // The stop already turned into System.exit, which waits for the hooks: this one forces.
  if (signal != 0 && systemExitStarted.load()) forceExit();
  if (std::optional<ExitTarget> target = jsvBeginExitCall()) {
    hmdServiceStopBegins();
    callExitMethod(*target, flag, signal);
    jsvEndExitCall();
    return true;
  }
  // Exactly one interrupt moves the destroy wait from 1 to 2 and exactly one from 2 to 3
  // (forcing); one that arrives once the phase is back to 0 is only traced.
  std::atomic<int32_t>& abortPhase = jsvAbortPhase();
  int32_t phase = abortPhase.load();
  for (;;) {
    if (phase == kAbortIdle) {
      ut_tproda("Not running so skipping shutdown");
      return false;
    }
    // Another interrupt is forcing the exit: this thread waits for it.
    if (phase == kAbortForcing) hmdWaitForEnd();
    const int32_t next = phase == kAbortDestroying ? kAbortInterrupted : kAbortForcing;
    if (abortPhase.compare_exchange_weak(phase, next)) break;
  }
  // From the end of main on, a stop cancels a restart.
  if (signal != 0) hmdNoteStop(signal);
  if (phase == kAbortDestroying) {
    hmdServiceStopBegins();
    std::fputs("Shutdown is waiting for all threads to complete. Patience is recommended.\n", stderr);
    std::fputs("If you're sure it's safe to abort, another interrupt will force a process exit.\n", stderr);
    // On a thread of its own: a shutdown hook or exit method that never returns must not
    // keep this signal's handling from re-arming, or the next interrupt could not force
    // the exit.
    if (signal == 0) return true;
    try {
      std::thread(stopAfterMain, flag, signal).detach();
    } catch (const std::system_error&) {
      stopAfterMain(flag, signal);
    }
    return true;
  }
  forceExit();
}

void jsvDumpAllStacks() {
  DumpAllStacksFn dump = jevGetInvocationFunction().dumpAllStacks;
  if (dump == nullptr) return;
  ut_tproda("Dumping all Java Stacks");
  JavaVM* vm = jsvGetJavaVM();
  if (vm == nullptr) return;
  AttachedThread attached(vm);
  if (attached.env() == nullptr) return;
  dump(attached.env(), nullptr);
}
