// The natives the launcher offers to the Java side: those of the launcher class,
// registered once the VM exists, and the user-identity natives.
#pragma once

#include <jni.h>

#include "jvm_interface.h"

// Stores the VM's stack dump entry (null when it has none) and registers the natives.
void dmpRegisterDumpFunction(JNIEnv* env, DumpAllStacksFn dumpFunction);

jboolean JNICALL dumpAllStacks0(JNIEnv* env, jclass cls);
jboolean JNICALL checkIfRunningUnderLauncher0(JNIEnv* env, jclass cls);
