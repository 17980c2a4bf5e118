// Registration of the launcher class's natives, and the two of them that the launcher
// answers itself. The user-identity natives are exported by name too, but today's VMs
// bind only natives of libraries they loaded, so they are registered here as well.

#include "launcher_natives.h"

#include <atomic>

#include "host_natives.h"
#include "jni_support.h"
#include "startup_cache.h"
#include "trace.h"
#include "userid.h"

namespace {

// Written once, at registration, before any Java code can call the natives.
std::atomic<DumpAllStacksFn> dumpAllStacks{nullptr};

struct NativeRow {
  const char* name;
  const char* signature;
  void* function;
};

template <typename F>
void* fn(F* function) {
  return reinterpret_cast<void*>(function);
}

// The launcher class's natives, in registration order.
const NativeRow nm[] = {
    {.name = "dumpAllStacks0", .signature = "()Z", .function = fn(dumpAllStacks0)},
    {.name = "hideSplashScreen0", .signature = "()V", .function = fn(hmdHideSplashScreen0)},
    {.name = "checkIfRunningUnderLauncher0",
     .signature = "()Z",
     .function = fn(checkIfRunningUnderLauncher0)},
    {.name = "getRegistryValueType0",
     .signature = "(ILjava/lang/String;Ljava/lang/String;)I",
     .function = fn(hmdGetRegistryValueType0)},
    {.name = "readRegistryStringValue0",
     .signature = "(ILjava/lang/String;Ljava/lang/String;)Ljava/lang/String;",
     .function = fn(hmdReadRegistryStringValue0)},
    {.name = "readRegistryBinaryValue0",
     .signature = "(ILjava/lang/String;Ljava/lang/String;)[B",
     .function = fn(hmdReadRegistryBinaryValue0)},
    {.name = "readRegistryDwordValue0",
     .signature = "(ILjava/lang/String;Ljava/lang/String;)I",
     .function = fn(hmdReadRegistryDwordValue0)},
    {.name = "writeRegistryStringValue0",
     .signature = "(ILjava/lang/String;Ljava/lang/String;Ljava/lang/String;)Z",
     .function = fn(hmdWriteRegistryStringValue0)},
    {.name = "writeRegistryBinaryValue0",
     .signature = "(ILjava/lang/String;Ljava/lang/String;[B)Z",
     .function = fn(hmdWriteRegistryBinaryValue0)},
    {.name = "writeRegistryDwordValue0",
     .signature = "(ILjava/lang/String;Ljava/lang/String;I)Z",
     .function = fn(hmdWriteRegistryDwordValue0)},
};

// The user-identity class's natives.
const NativeRow userIdNatives[] = {
    {.name = "setUser",
     .signature = "(Ljava/lang/String;)Z",
     .function = fn(Java_com_vantrel_enterprise_server_UserId_setUser)},
    {.name = "setGroup",
     .signature = "(Ljava/lang/String;)Z",
     .function = fn(Java_com_vantrel_enterprise_server_UserId_setGroup)},
    {.name = "isRootUser",
     .signature = "()Z",
     .function = fn(Java_com_vantrel_enterprise_server_UserId_isRootUser)},
};

template <size_t N>
bool registerRows(JNIEnv* env, jclass cls, const NativeRow (&rows)[N]) {
  JNINativeMethod methods[N];
  for (size_t i = 0; i < N; ++i) {
    methods[i] = JNINativeMethod{.name = const_cast<char*>(rows[i].name),
                                 .signature = const_cast<char*>(rows[i].signature),
                                 .fnPtr = rows[i].function};
  }
  return env->RegisterNatives(cls, methods, static_cast<jint>(N)) == JNI_OK;
}

// Finds one of the classes whose natives the launcher registers; null, with no exception
// pending, when it is not there. A run on a start-up cache does not search a class path
// that did not hold the class when the cache was made: the search would open every jar.
jclass findNativesClass(JNIEnv* env, const char* name) {
  if (jscClassKnownAbsent(name)) {
    ut_tproda("Startup cache: %s was not found when the cache was made; not looked up", name);
    return nullptr;
  }
  jclass cls = env->FindClass(name);
  if (cls == nullptr) {
    jsvClearException(env);
    jscNoteClassAbsent(name);
  }
  return cls;
}

void registerLauncherNatives(JNIEnv* env) {
  LocalRef<jclass> cls(env, findNativesClass(env, "com/vantrel/launcher/JavaLauncher"));
  if (!cls) return;
  jfieldID field = env->GetStaticFieldID(cls.get(), "nativeAvailable", "Z");
  if (field == nullptr) {
    ut_tproda("Launcher error: failed to find nativeAvailable field in JavaLauncher class");
    jsvClearException(env);
    return;
  }
  env->SetStaticBooleanField(cls.get(), field, JNI_TRUE);
  if (registerRows(env, cls.get(), nm)) {
    ut_tproda("Registered stack dump handler");
  } else {
    jsvClearException(env);
  }
}

void registerUserIdNatives(JNIEnv* env) {
  LocalRef<jclass> cls(env, findNativesClass(env, "com/vantrel/enterprise/server/UserId"));
  if (!cls) return;
  if (registerRows(env, cls.get(), userIdNatives)) {
    ut_tproda("Registered user identity natives");
  } else {
    jsvClearException(env);
  }
}

}  // namespace

void dmpRegisterDumpFunction(JNIEnv* env, DumpAllStacksFn dumpFunction) {
  dumpAllStacks = dumpFunction;
  if (env == nullptr) return;
  registerLauncherNatives(env);
  registerUserIdNatives(env);
}

jboolean JNICALL dumpAllStacks0(JNIEnv* env, jclass) {
  DumpAllStacksFn dump = dumpAllStacks;
  if (dump == nullptr) return JNI_FALSE;
  dump(env, nullptr);
  return JNI_TRUE;
}

jboolean JNICALL checkIfRunningUnderLauncher0(JNIEnv*, jclass) {
  return dumpAllStacks.load() != nullptr ? JNI_TRUE : JNI_FALSE;
}
