// The VM's answer to an attached launcher thread: System.nanoTime(), which needs nothing
// but a VM that runs Java code.
#include "vm_answers.h"

VmAnswersAttach hmdAttachForAnswers(JavaVM* vm, const char* threadName, VmAnswers& answers) {
  answers = VmAnswers{};
  JavaVMAttachArgs attachArgs{
      .version = JNI_VERSION_1_2, .name = const_cast<char*>(threadName), .group = nullptr};
  if (vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&answers.env), &attachArgs) != JNI_OK) {
    return VmAnswersAttach::NotAttached;
  }
  answers.system = answers.env->FindClass("java/lang/System");
  if (answers.system != nullptr)
    answers.nanoTime = answers.env->GetStaticMethodID(answers.system, "nanoTime", "()J");
  if (answers.nanoTime == nullptr) {
    answers.env->ExceptionClear();
    return VmAnswersAttach::NoMethod;
  }
  return VmAnswersAttach::Attached;
}

bool hmdVmAnswers(const VmAnswers& answers) {
  answers.env->CallStaticLongMethod(answers.system, answers.nanoTime);
  bool answered = !answers.env->ExceptionCheck();
  if (!answered) answers.env->ExceptionClear();
  return answered;
}
