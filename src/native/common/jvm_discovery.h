// Finding and classifying the Java installation, and the VM's -X help.
#pragma once

#include <cstdint>
#include <string>

#include "jvm_interface.h"

inline constexpr int32_t kSubTypeDefault = 1;
inline constexpr int32_t kSubTypeClassic = 2;
inline constexpr int32_t kSubTypeHotspot = 3;
inline constexpr int32_t kSubTypeClient = 4;
inline constexpr int32_t kSubTypeServer = 5;

inline constexpr int32_t kJvmTypeJRE = 1;
inline constexpr int32_t kJvmTypeJDK = 2;

inline constexpr int32_t kVersion13 = 1;      // Java 2 v1.3 layout
inline constexpr int32_t kVersion14 = 2;      // Java 2 v1.4 layout (and Java 5 to 8)
inline constexpr int32_t kVersionModular = 3; // Java 9 and later

inline constexpr int32_t kVendorSun = 1;
inline constexpr int32_t kVendorIBM = 2;

struct VmInfo {
  int32_t subType = kSubTypeDefault;
  int32_t jvmType = kJvmTypeJRE;
  int32_t version = kVersion13;
  int32_t vendor = kVendorSun;
};

// Loads the VM library into the invocation table.
bool jevInit();
// Back to the start state: vmInfo 1,1,1,1, no home, empty table.
void jevTerm();

const InvocationFunctions& jevGetInvocationFunction();
// Puts entry points in the table as if a library had been loaded; tests hand in stand-ins.
void jevSetInvocationFunction(const InvocationFunctions& functions);
const VmInfo& jevGetVmInfo();
int32_t jevGetJVMType();
int32_t jevGetJVMSubType();
void jevSetJVMSubType(int32_t subType);
std::string jevGetJVMHome();

// Sets a default Java home from PATH or the host's registered installation.
void jevConfigureDefaultJVM();
// The directory of the VM library; false with messages when there is none.
bool jevGetJavaVMLibDir(std::string& dir);
bool jevDetermineJVMType();
bool jevBasicJDKJREChecks(const std::string& home);
bool jevBasicJVMChecks(const std::string& home);
void jevPrintXUsage();
