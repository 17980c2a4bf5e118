// The JVM service. Creating and running a VM in-process is not part of this build yet:
// every operation that would need a VM fails plainly instead of pretending to work.

#include "jvm_service.h"

#include <cstdio>

#include "exit_codes.h"
#include "jvm_state.h"

int32_t jsvCreateJVM() {
  std::fputs("Error: this launcher cannot create a Java VM yet; use +javacmd to get a java command instead.\n",
             stderr);
  return kExitFailure;
}

int32_t jsvRunService(const std::string&, const std::string&, const std::string&, const std::string&,
                      const std::vector<std::string>&) {
  return kExitFailure;
}

int32_t jsvDestroyJVM() { return 0; }

bool jsvIgnoreVMExitCode() { return false; }

int32_t jsvInternalExitCode() { return 0; }

int32_t jsvSetSystemProperty(const char*, const char*) { return 1; }

JavaVM* jsvGetJavaVM() { return nullptr; }

std::atomic<int32_t>& jsvAbortPhase() {
  static std::atomic<int32_t> phase{kAbortIdle};
  return phase;
}

std::optional<ExitTarget> jsvGetExitTarget() { return std::nullopt; }
