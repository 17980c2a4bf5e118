// What the launcher calls in a Java VM library: the Invocation API entry points.
#pragma once

#include <jni.h>

using CreateJavaVMFn = jint(JNICALL*)(JavaVM** vm, void** env, void* args);
using GetDefaultJavaVMInitArgsFn = jint(JNICALL*)(void* args);
using DumpAllStacksFn = void(JNICALL*)(JNIEnv* env, jclass unused);

// The invocation-function table, filled when the VM library is loaded.
struct InvocationFunctions {
  CreateJavaVMFn createJavaVM = nullptr;                    // JNI_CreateJavaVM, required
  GetDefaultJavaVMInitArgsFn getDefaultJavaVMInitArgs = nullptr;  // required, never called
  DumpAllStacksFn dumpAllStacks = nullptr;                  // JVM_DumpAllStacks, optional
};

inline constexpr jint kLauncherJNIVersion = 0x00010002;
