// Tests of the VM's creation and destruction with a stand-in VM: the shutdown phase around
// the destroy wait, and a failed creation that is never tried again.
#include <gtest/gtest.h>
#include <jni.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "jvm_discovery.h"
#include "jvm_service.h"
#include "jvm_state.h"
#include "test_support.h"

namespace {

// The stand-in VM. Creating it counts the call and hands out a JavaVM whose destruction
// runs the test's action in place of the wait for the VM's threads, and a JNI
// environment that finds no class: the acceptance check then refuses the VM, which
// exists all the same, as a real one refused would.
int creations = 0;
std::function<void()> duringDestroy;

jint JNICALL destroyStandIn(JavaVM*) {
  if (duringDestroy) duringDestroy();
  return JNI_OK;
}
jclass JNICALL findNoClass(JNIEnv*, const char*) { return nullptr; }
jboolean JNICALL noException(JNIEnv*) { return JNI_FALSE; }
jthrowable JNICALL noThrowable(JNIEnv*) { return nullptr; }

const JNIInvokeInterface_ invokeTable = [] {
  JNIInvokeInterface_ table{};
  table.DestroyJavaVM = destroyStandIn;
  return table;
}();
const JNINativeInterface_ nativeTable = [] {
  JNINativeInterface_ table{};
  table.FindClass = findNoClass;
  table.ExceptionCheck = noException;
  table.ExceptionOccurred = noThrowable;
  return table;
}();
JavaVM standInVm{&invokeTable};
JNIEnv standInEnv{&nativeTable};

jint JNICALL createStandIn(JavaVM** vm, void** env, void*) {
  ++creations;
  *vm = &standInVm;
  *env = &standInEnv;
  return JNI_OK;
}
jint JNICALL refuseCreation(JavaVM**, void**, void*) {
  ++creations;
  return JNI_ERR;
}

class JvmCreate : public testsupport::LauncherModules {
 protected:
  void SetUp() override {
    LauncherModules::SetUp();
    creations = 0;
    duringDestroy = nullptr;
    jsvAbortPhase().store(kAbortIdle);
  }
  void TearDown() override {
    duringDestroy = nullptr;
    jsvAbortPhase().store(kAbortIdle);
    LauncherModules::TearDown();
  }
};

TEST_F(JvmCreate, InterruptAfterTheDestroyIsOnlyTraced) {
  jevSetInvocationFunction({.createJavaVM = createStandIn});
  std::string err;
  EXPECT_EQ(testsupport::withStderr(err, [] { return jsvCreateJVM(); }), 1);
  EXPECT_EQ(err, "Failed to load class java.lang.System\n");
  ASSERT_EQ(jsvGetJavaVM(), &standInVm);

  // An interrupt while the destroy waits explains the wait and arms the forced exit.
  int32_t phaseInDestroy = -1;
  duringDestroy = [&] {
    phaseInDestroy = jsvAbortPhase().load();
    jsvAbortService(true);
  };
  std::string trace =
      testsupport::traceOf([&] { testsupport::withStderr(err, [] { return jsvDestroyJVM(); }); });
  EXPECT_EQ(phaseInDestroy, kAbortDestroying);
  EXPECT_EQ(err,
            "Shutdown is waiting for all threads to complete. Patience is recommended.\n"
            "If you're sure it's safe to abort, another interrupt will force a process exit.\n");
  EXPECT_EQ(trace, "JVM destroyed\n");
  EXPECT_EQ(jsvGetJavaVM(), nullptr);

  // Once the VM is gone the phase is idle again: an interrupt is traced and nothing else
  // (in phase 2 it would end this process).
  ASSERT_EQ(jsvAbortPhase().load(), kAbortIdle);
  trace = testsupport::traceOf([&] {
    testsupport::withStderr(err, [] {
      jsvAbortService(true);
      return 0;
    });
  });
  EXPECT_EQ(trace, "Not running so skipping shutdown\n");
  EXPECT_EQ(err, "");
  EXPECT_EQ(creations, 1);
}

TEST_F(JvmCreate, FailedCreationIsNeverTriedAgain) {
  jevSetInvocationFunction({.createJavaVM = refuseCreation});
  // The failure is remembered for the rest of the process, so the calls run in a child.
  EXPECT_EXIT(
      {
        int32_t first = jsvCreateJVM();
        int32_t second = jsvCreateJVM();
        std::fprintf(stderr, "answers %d %d, creations %d, vm %s\n", static_cast<int>(first),
                     static_cast<int>(second), creations, jsvGetJavaVM() == nullptr ? "none" : "set");
        std::fflush(stderr);
        std::_Exit(0);
      },
      testing::ExitedWithCode(0),
      "^Unable to create JVM\\.\nUnable to create JVM\\.\nanswers 1 1, creations 1, vm none\n$");
}

}  // namespace
