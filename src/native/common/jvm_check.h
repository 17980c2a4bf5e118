// The VM acceptance check as a function of what the VM reports and how the launch is
// configured, so that its rules can be exercised without a VM.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The properties the check reads, each cut to the size the check keeps of it.
struct VmProperties {
  std::string vmInfo;
  std::string vmVendor;
  std::string vmVersion;
  std::string vmName;
  std::string runtimeName;
  std::string runtimeVersion;
  std::string osName;
  std::string javaVersion;
};

struct CheckSettings {
  bool strictVMCheck = false;  // the strictvm option
  bool policySet = false;      // -Djava.security.policy= on the command line or configured
  bool safetyNetOff = false;   // ZEP_NO_SAFETY_NET is set
};

struct CheckVerdict {
  int32_t code = 0;     // 0 accepted, 1 refused
  std::string message;  // what goes to standard error, possibly with an accepted VM
};

// The java -version style trace lines for the properties.
std::vector<std::string> jsvVersionTraceLines(const VmProperties& properties);
// Applies the configured version requirement and the known-bad build rule.
CheckVerdict jsvJudgeJVM(const VmProperties& properties, const CheckSettings& settings);
