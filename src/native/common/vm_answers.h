// Asking the VM for an answer from a launcher thread: the check the service watchdog and
// the VM watch share. The VM answers when a static Java method called from the attached
// thread returns; a VM stuck at a safepoint, in endless garbage collection or otherwise
// not running Java code holds the call.
#pragma once

#include <jni.h>

struct VmAnswers {
  JNIEnv* env = nullptr;
  jclass system = nullptr;
  jmethodID nanoTime = nullptr;
};

enum class VmAnswersAttach { Attached, NotAttached, NoMethod };

// Attaches the calling thread to the VM as a daemon under the name, so that the VM's
// destruction does not wait for it, and finds the method it calls. With NoMethod the
// thread stays attached.
VmAnswersAttach hmdAttachForAnswers(JavaVM* vm, const char* threadName, VmAnswers& answers);
// Calls into the VM; true when the call returned without an exception.
bool hmdVmAnswers(const VmAnswers& answers);
