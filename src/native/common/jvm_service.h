// The JVM service: creating the VM, running the application class, destroying the VM,
// the acceptance check and system properties, the orderly stop and the stack dump.
#pragma once

#include <jni.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Creating and destroying the process's one VM (jvm_create.cpp).
int32_t jsvCreateJVM();
int32_t jsvDestroyJVM();
// Some releases end the process themselves when they give up during the creation (a
// start-up cache they refuse), so no failure comes back from JNI_CreateJavaVM. The handler
// is called then, on the creating thread, with the stop signals no longer held, just before
// the VM ends the process with 1; it may end or replace the process itself.
void jsvSetCreationAbortHandler(void (*handler)());

// Running the application class (jvm_run.cpp).
int32_t jsvRunService(const std::string& className, const std::string& method, const std::string& exitClass,
                      const std::string& exitMethod, const std::vector<std::string>& args);
// Set when the main method returned and getExitStatus supplied the status.
bool jsvIgnoreVMExitCode();
int32_t jsvInternalExitCode();

// Small JNI operations shared by the service files.
inline constexpr int kMethodFound = 0;
inline constexpr int kClassNotFound = 1;
inline constexpr int kMethodNotFound = 2;
// Looks up a static method of a class given in dotted form; kClassNotFound writes
// "Failed to load class" and leaves the lookup's exception pending.
int jsvGetStaticMethod(JNIEnv* env, std::string_view className, const char* method, const char* signature,
                       jclass* outClass, jmethodID* outMethod);
void jsvDotToSlash(std::string& text);
// A Java string of the bytes, decoded by the VM's default character set; null on failure.
jstring jsvNewStringPlatformBytes(JNIEnv* env, const char* bytes, jsize length);
jstring jsvNewStringPlatform(JNIEnv* env, const char* text);
jobjectArray jsvMakeArgsArray(JNIEnv* env, const std::vector<std::string>& args);

// The acceptance check and system properties (jvm_check.cpp).
int32_t jsvCheckJVM();
// 0 and the value on success (unchanged when the property is not defined), 1 on failure.
int32_t jsvGetSystemProperty(const char* name, std::string& value);
int32_t jsvSetSystemProperty(const char* name, const char* value);
void jsvWriteEnvironment(const std::string& fileName);

// The orderly stop and the stack dump, called from signal-handling threads (jvm_shutdown.cpp).
// The signal that asked for the stop (0: none) stops an application without an exit
// method with System.exit(128 + signal). False when nothing was running to stop.
bool jsvAbortService(bool flag, int32_t signal = 0);
void jsvDumpAllStacks();
