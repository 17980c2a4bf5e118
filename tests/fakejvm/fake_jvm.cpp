// A stand-in for a VM library, for the installation trees the tests build. It exports
// the Invocation API entry points (one variant also the stack dump, one neither) and
// refuses to create a VM. The forwarding variant creates a real VM instead, through the
// library FAKE_JVM_REAL_LIBRARY names, and can make that VM stop answering.
#include <jni.h>

#include <cstdio>

#ifdef FAKE_JVM_FORWARD
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace {

// Threads attached as daemons (the launcher's watchdog) get a copy of the VM's function
// table whose CallStaticLongMethodV blocks for ever once FAKE_JVM_STALL_AFTER calls have
// returned: a VM that no longer runs Java code for anyone who asks.
JNIInvokeInterface_ invokeTable;
const JNIInvokeInterface_* realInvoke = nullptr;
JNINativeInterface_ nativeTable;
const JNINativeInterface_* realNative = nullptr;
std::atomic<long> calls{0};

void* realLibrary() {
  static void* handle = [] {
    const char* path = std::getenv("FAKE_JVM_REAL_LIBRARY");
    return path != nullptr ? dlopen(path, RTLD_NOW | RTLD_GLOBAL) : nullptr;
  }();
  return handle;
}

jlong JNICALL stallingCallStaticLongMethodV(JNIEnv* env, jclass cls, jmethodID method, va_list args) {
  const char* after = std::getenv("FAKE_JVM_STALL_AFTER");
  if (after != nullptr && calls.fetch_add(1) >= std::atol(after)) {
    std::fputs("fake VM: stalled\n", stderr);
    for (;;) pause();
  }
  return realNative->CallStaticLongMethodV(env, cls, method, args);
}

jint JNICALL attachAsDaemon(JavaVM* vm, void** penv, void* args) {
  jint result = realInvoke->AttachCurrentThreadAsDaemon(vm, penv, args);
  if (result == JNI_OK) {
    JNIEnv* env = static_cast<JNIEnv*>(*penv);
    if (realNative == nullptr) {
      realNative = env->functions;
      nativeTable = *realNative;
      nativeTable.CallStaticLongMethodV = stallingCallStaticLongMethodV;
    }
    env->functions = &nativeTable;
  }
  return result;
}

}  // namespace
#endif

extern "C" {

#if defined(FAKE_JVM_FORWARD)
JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** penv, void* args) {
  void* real = realLibrary();
  auto create =
      real != nullptr
          ? reinterpret_cast<jint(JNICALL*)(JavaVM**, void**, void*)>(dlsym(real, "JNI_CreateJavaVM"))
          : nullptr;
  if (create == nullptr) {
    std::fputs("fake VM: no real VM library to forward to\n", stderr);
    return JNI_ERR;
  }
  jint result = create(vm, penv, args);
  if (result == JNI_OK) {
    realInvoke = (*vm)->functions;
    invokeTable = *realInvoke;
    invokeTable.AttachCurrentThreadAsDaemon = attachAsDaemon;
    (*vm)->functions = &invokeTable;
  }
  return result;
}

JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void* args) {
  void* real = realLibrary();
  auto get = real != nullptr
                 ? reinterpret_cast<jint(JNICALL*)(void*)>(dlsym(real, "JNI_GetDefaultJavaVMInitArgs"))
                 : nullptr;
  return get != nullptr ? get(args) : JNI_ERR;
}
#elif !defined(FAKE_JVM_WITHOUT_JNI)
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
