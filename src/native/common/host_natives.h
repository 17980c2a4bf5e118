// The host's answers to the Java side's splash-screen and registry requests. This host
// has no splash screen and no registry, so the answers are fixed.
#pragma once

#include <jni.h>

void JNICALL hmdHideSplashScreen0(JNIEnv* env, jclass cls);
jint JNICALL hmdGetRegistryValueType0(JNIEnv* env, jclass cls, jint root, jstring key, jstring name);
jstring JNICALL hmdReadRegistryStringValue0(JNIEnv* env, jclass cls, jint root, jstring key, jstring name);
jbyteArray JNICALL hmdReadRegistryBinaryValue0(JNIEnv* env, jclass cls, jint root, jstring key, jstring name);
jint JNICALL hmdReadRegistryDwordValue0(JNIEnv* env, jclass cls, jint root, jstring key, jstring name);
jboolean JNICALL hmdWriteRegistryStringValue0(JNIEnv* env, jclass cls, jint root, jstring key, jstring name,
                                              jstring value);
jboolean JNICALL hmdWriteRegistryBinaryValue0(JNIEnv* env, jclass cls, jint root, jstring key, jstring name,
                                              jbyteArray value);
jboolean JNICALL hmdWriteRegistryDwordValue0(JNIEnv* env, jclass cls, jint root, jstring key, jstring name,
                                             jint value);
