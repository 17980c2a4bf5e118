// The orderly stop and the stack dump, run on the threads the signal handling starts.
//
// What an interrupt does depends on where the VM's life is:
//   main method running          -> call the exit class's static void <exit method>(boolean)
//   no main method, no destroy   -> trace and ignore
//   destroy waiting (phase 1)    -> explain the wait, phase 2
//   destroy interrupted (2)      -> force the process down with exit(1)

#include <jni.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "jni_support.h"
#include "jvm_discovery.h"
#include "jvm_service.h"
#include "jvm_state.h"
#include "service_notify.h"
#include "startup_cache.h"
#include "trace.h"

namespace {

void callExitMethod(const ExitTarget& target, bool flag) {
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
    jsvDescribeException(env);
    return;
  }
  jmethodID method = env->GetStaticMethodID(exitClass.get(), target.method.c_str(), "(Z)V");
  if (method == nullptr) {
    // A missing exit method is not an error: nothing is called and nothing printed.
    jsvClearException(env);
    return;
  }
  env->CallStaticVoidMethod(exitClass.get(), method, flag ? JNI_TRUE : JNI_FALSE);
  jsvDescribeException(env);
}

}  // namespace

void jsvAbortService(bool flag) {
  if (std::optional<ExitTarget> target = jsvGetExitTarget()) {
    hmdServiceStopBegins();
    callExitMethod(*target, flag);
    return;
  }
  // Exactly one interrupt moves the destroy wait from 1 to 2; any later one forces the
  // exit, and one that arrives once the phase is back to 0 is only traced.
  std::atomic<int32_t>& abortPhase = jsvAbortPhase();
  int32_t phase = abortPhase.load();
  for (;;) {
    if (phase == kAbortIdle) {
      ut_tproda("Not running so skipping shutdown");
      return;
    }
    if (phase != kAbortDestroying) break;
    if (abortPhase.compare_exchange_weak(phase, kAbortInterrupted)) {
      hmdServiceStopBegins();
      std::fputs("Shutdown is waiting for all threads to complete. Patience is recommended.\n", stderr);
      std::fputs("If you're sure it's safe to abort, another interrupt will force a process exit.\n", stderr);
      return;
    }
  }
  // One thread ends the process; exit() run by two threads at once is undefined, so any
  // other interrupt handled meanwhile waits here for the end.
  static std::atomic<bool> forcing{false};
  if (forcing.exchange(true)) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  jscDiscardCache();
  std::fputs("Forcing process exit before orderly shutdown is complete.\n", stderr);
  std::fputs(
      "Suggest you check carefully that all child processes have completed and all databases are "
      "consistent.\n",
      stderr);
  hmdServiceProcessEnds(1);
  std::exit(1);
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
