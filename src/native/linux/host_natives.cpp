// This host has neither a splash screen nor a registry: the Java side's requests get
// fixed answers.

#include "host_natives.h"

void JNICALL hmdHideSplashScreen0(JNIEnv*, jclass) {}

jint JNICALL hmdGetRegistryValueType0(JNIEnv*, jclass, jint, jstring, jstring) { return 0; }

jstring JNICALL hmdReadRegistryStringValue0(JNIEnv*, jclass, jint, jstring, jstring) { return nullptr; }

jbyteArray JNICALL hmdReadRegistryBinaryValue0(JNIEnv*, jclass, jint, jstring, jstring) { return nullptr; }

jint JNICALL hmdReadRegistryDwordValue0(JNIEnv*, jclass, jint, jstring, jstring) { return -1; }

jboolean JNICALL hmdWriteRegistryStringValue0(JNIEnv*, jclass, jint, jstring, jstring, jstring) {
  return JNI_FALSE;
}

jboolean JNICALL hmdWriteRegistryBinaryValue0(JNIEnv*, jclass, jint, jstring, jstring, jbyteArray) {
  return JNI_FALSE;
}

jboolean JNICALL hmdWriteRegistryDwordValue0(JNIEnv*, jclass, jint, jstring, jstring, jint) {
  return JNI_FALSE;
}
