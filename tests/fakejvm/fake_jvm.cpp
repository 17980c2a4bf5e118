// A stand-in for a VM library, for the installation trees the tests build. It exports
// the Invocation API entry points (one variant also the stack dump, one neither) and
// refuses to create a VM.
#include <jni.h>

#include <cstdio>

extern "C" {

#ifndef FAKE_JVM_WITHOUT_JNI
JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM**, void**, void*) {
  std::fputs("fake VM: JNI_CreateJavaVM called\n", stderr);
  return JNI_ERR;
}

JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void*) { return JNI_ERR; }
#endif

#ifdef FAKE_JVM_WITH_DUMP
JNIEXPORT void JNICALL JVM_DumpAllStacks(JNIEnv*, jclass) {}
#endif

JNIEXPORT int fake_jvm_marker = 1;
}
