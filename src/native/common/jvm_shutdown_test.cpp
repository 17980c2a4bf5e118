// Tests of the orderly stop and the stack dump where no VM exists: the phases of the
// destroy wait, and the dump's dependence on the VM's entry point.
#include <gtest/gtest.h>

#include <string>

#include "jvm_discovery.h"
#include "jvm_options.h"
#include "jvm_service.h"
#include "jvm_state.h"
#include "test_support.h"

namespace {

constexpr const char* kJdkHome = "/usr/lib/jvm/java-17-openjdk-amd64";

class JvmShutdown : public testsupport::VmModules {
 protected:
  void SetUp() override {
    VmModules::SetUp();
    jsvAbortPhase().store(kAbortIdle);
  }
  void TearDown() override {
    jsvAbortPhase().store(kAbortIdle);
    VmModules::TearDown();
  }
};

TEST_F(JvmShutdown, InterruptsDuringTheDestroyWait) {
  std::string err;
  std::string trace = testsupport::traceOf([&] {
    testsupport::withStderr(err, [] {
      jsvAbortService(true);
      return 0;
    });
  });
  EXPECT_EQ(trace, "Not running so skipping shutdown\n");
  EXPECT_EQ(err, "");
  EXPECT_EQ(jsvAbortPhase().load(), kAbortIdle);

  jsvAbortPhase().store(kAbortDestroying);
  trace = testsupport::traceOf([&] {
    testsupport::withStderr(err, [] {
      jsvAbortService(true);
      return 0;
    });
  });
  EXPECT_EQ(trace, "");
  EXPECT_EQ(err,
            "Shutdown is waiting for all threads to complete. Patience is recommended.\n"
            "If you're sure it's safe to abort, another interrupt will force a process exit.\n");
  EXPECT_EQ(jsvAbortPhase().load(), kAbortInterrupted);

  EXPECT_EXIT(jsvAbortService(true), testing::ExitedWithCode(1),
              "^Forcing process exit before orderly shutdown is complete.\n"
              "Suggest you check carefully that all child processes have completed and all databases are "
              "consistent.\n$");
}

TEST_F(JvmShutdown, StackDumpNeedsTheEntryPoint) {
  EXPECT_EQ(testsupport::traceOf([] { jsvDumpAllStacks(); }), "");
  // The test installation's VM exports JVM_DumpAllStacks; no VM is created from it.
  jopSetJavaPath(std::string(kJdkHome) + "/lib/server/libjvm.so");
  ASSERT_TRUE(jevInit());
  EXPECT_EQ(testsupport::traceOf([] { jsvDumpAllStacks(); }), "Dumping all Java Stacks\n");
}

}  // namespace
