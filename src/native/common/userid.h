// The user-identity natives: a server started as root switches to another user or group.
// Exported under their JNI names, so a VM that binds natives by name finds them too.
#pragma once

#include <jni.h>

extern "C" {
JNIEXPORT jboolean JNICALL Java_com_vantrel_enterprise_server_UserId_setUser(JNIEnv* env, jclass cls,
                                                                             jstring user);
JNIEXPORT jboolean JNICALL Java_com_vantrel_enterprise_server_UserId_setGroup(JNIEnv* env, jclass cls,
                                                                              jstring group);
JNIEXPORT jboolean JNICALL Java_com_vantrel_enterprise_server_UserId_isRootUser(JNIEnv* env, jclass cls);
}
