// Running the application class on the main thread: the working directory, the Java
// argument array, the static method, and the exit status the run ends with.
//
// Exit status of a run:
//   class or method missing            -> 8888 (the VM is left as it is)
//   main method throws                 -> 1, after the VM's own exception print
//   no getExitStatus()                 -> 0
//   getExitStatus() answers n          -> n, and n decides a later System.exit as well
//   getExitStatus() throws             -> 1, likewise

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "config_options.h"
#include "exit_codes.h"
#include "jni_support.h"
#include "jvm_service.h"
#include "jvm_state.h"
#include "launch_settings.h"
#include "process_end.h"
#include "service_notify.h"
#include "supervision.h"
#include "startup_cache.h"
#include "trace.h"

namespace {

std::string entryClass;
std::string mainMethod;

// Read by signal-handling threads while the main method runs.
std::mutex exitTargetMutex;
// Exit method calls that a stop began while main ran (guarded by exitTargetMutex): the
// status main's end reports waits for them, so that the application's answer to the stop
// decides it, not a status it had settled a moment before.
int exitCallsUnderway = 0;
std::condition_variable exitCallsDone;
std::optional<ExitTarget> exitTarget;
std::optional<ExitTarget> finishedExitTarget;

// Read by the VM's exit hook, on the VM's own thread.
std::atomic<bool> ignoreVMExitCode{false};
std::atomic<int32_t> internalExitCode{0};

// The exception pending after FindClass says only that the class is not there: a
// NoClassDefFoundError that names the class itself. Anything else (its static
// initializer threw, its class file is for a newer VM, a class it needs is missing) is a
// reason the operator must see. The exception stays pending.
bool classIsAbsent(JNIEnv* env, const std::string& slashed) {
  LocalRef<jthrowable> pending(env, env->ExceptionOccurred());
  if (!pending) return true;
  env->ExceptionClear();
  bool absent = false;
  LocalRef<jclass> notFound(env, env->FindClass("java/lang/NoClassDefFoundError"));
  if (notFound && env->IsInstanceOf(pending.get(), notFound.get())) {
    LocalRef<jclass> throwable(env, env->FindClass("java/lang/Throwable"));
    jmethodID getMessage =
        throwable ? env->GetMethodID(throwable.get(), "getMessage", "()Ljava/lang/String;") : nullptr;
    LocalRef<jstring> message(
        env, getMessage != nullptr ? static_cast<jstring>(env->CallObjectMethod(pending.get(), getMessage))
                                   : nullptr);
    if (message) {
      const char* text = env->GetStringUTFChars(message.get(), nullptr);
      if (text != nullptr) {
        absent = slashed == text;
        env->ReleaseStringUTFChars(message.get(), text);
      }
    }
  }
  env->ExceptionClear();
  env->Throw(pending.get());
  return absent;
}

// Configured class path entries that did not exist, on one line after the class that
// could not be found: a mistyped jar or directory is the likely cause.
void reportMissingClassPath() {
  const std::vector<std::string>& missing = cfgGetMissingClassPath();
  if (missing.empty()) return;
  std::string list;
  for (const std::string& entry : missing) list += (list.empty() ? "" : ", ") + entry;
  std::fprintf(stderr, "Class path entries that do not exist were left out: %.*s\n", ut_textLimit(),
               list.c_str());
}

void setExitTarget(std::optional<ExitTarget> target) {
  std::lock_guard<std::mutex> lock(exitTargetMutex);
  if (!target && exitTarget) finishedExitTarget = exitTarget;
  exitTarget = std::move(target);
}

// The status the application reports through its class's getExitStatus(), if it has one.
int32_t askExitStatus(JNIEnv* env, jclass cls) {
  jmethodID getExitStatus = env->GetStaticMethodID(cls, "getExitStatus", "()I");
  if (getExitStatus == nullptr) {
    jsvClearException(env);
    return kExitSuccess;
  }
  ut_tproda("Calling exitStatus class 'static int %.*s.getExitStatus()'", ut_textLimit(), entryClass.c_str());
  int32_t status = env->CallStaticIntMethod(cls, getExitStatus);
  if (jsvDescribeException(env)) status = kExitFailure;
  internalExitCode = status;
  ignoreVMExitCode = true;
  return status;
}

// Once main has returned the VM's destruction follows: an interrupt from here on is
// handled as during the destroy wait (explained, and the orderly stop started), so that
// none falls into the gap before the destruction begins and is skipped. The phase moves
// before the exit method is withdrawn: an interrupt in between finds one or the other,
// never neither (it would be taken for one before the application's start).
void mainEnded() {
  int32_t idle = kAbortIdle;
  jsvAbortPhase().compare_exchange_strong(idle, kAbortDestroying);
  setExitTarget(std::nullopt);
  std::unique_lock<std::mutex> lock(exitTargetMutex);
  exitCallsDone.wait(lock, [] { return exitCallsUnderway == 0; });
}

int32_t jsvInvokeMain(JNIEnv* env, jobjectArray args) {
  jclass rawClass = nullptr;
  jmethodID method = nullptr;
  int found =
      jsvGetStaticMethod(env, entryClass, mainMethod.c_str(), "([Ljava/lang/String;)V", &rawClass, &method);
  LocalRef<jclass> cls(env, rawClass);
  if (found == kMethodNotFound) {
    std::fprintf(stderr, "No 'static void %s(java.lang.String[])' method in %s.\n", mainMethod.c_str(),
                 entryClass.c_str());
  }
  if (found != kMethodFound) return kExitClassNotFound;

  ut_tproda("Calling entry class 'static void %.*s.%.*s(java.lang.String[])'", ut_textLimit(),
            entryClass.c_str(), ut_textLimit(1), mainMethod.c_str());
  ut_tcommit();
  hmdServiceMainCalled(jsvGetJavaVM());
  hmdSupervisionMainCalled(jsvGetJavaVM());
  jscMainCalled();
  env->CallStaticVoidMethod(cls.get(), method, args);
  mainEnded();

  // An application whose main method throws has failed, whatever getExitStatus says.
  bool threw = jsvDescribeException(env);
  hmdServiceMainReturned(!threw);
  hmdSupervisionMainReturned(!threw);
  jscMainReturned();
  int32_t status = threw ? kExitFailure : askExitStatus(env, cls.get());

  env->DeleteLocalRef(cls.release());
  if (jsvGetJavaVM()->DetachCurrentThread() != JNI_OK) {
    std::fputs("Could not detach main thread.\n", stderr);
    return kExitFailure;
  }
  ut_tproda("Returned from main class with status %d", status);
  ut_tcommit();
  return status;
}

int32_t jsvStartApp(const std::vector<std::string>& args) {
  if (std::optional<std::string> dir = cfgGetCurrentDir()) {
    ut_tproda("Change current directory to %.*s", ut_textLimit(), dir->c_str());
    if (chdir(dir->c_str()) != 0) {
      // The run goes on in the current directory.
    }
  }
  if (!args.empty()) {
    ut_tproda("Arguments passed to java class are:");
    for (const std::string& arg : args) ut_tproda("    %.*s", ut_textLimit(), arg.c_str());
  }
  JNIEnv* env = jsvGetMainEnv();
  return jsvInvokeMain(env, jsvMakeArgsArray(env, args));
}

}  // namespace

int32_t jsvRunService(const std::string& className, const std::string& method, const std::string& exitClass,
                      const std::string& exitMethod, const std::vector<std::string>& args) {
  if (jsvGetJavaVM() == nullptr || jsvGetMainEnv() == nullptr) return kExitFailure;
  entryClass = className;
  mainMethod = method;
  if (!exitClass.empty()) {
    setExitTarget(
        ExitTarget{.className = exitClass, .method = exitMethod, .configured = cfgIsExitClassConfigured()});
  }
  // A stop that came before the exit method could be called (during the creation, or
  // before the target was set): the application is not started, and no restart follows.
  if (const int stop = hmdTakeRememberedStop()) {
    {
      std::lock_guard<std::mutex> lock(exitTargetMutex);
      exitTarget.reset();
    }
    entryClass.clear();
    hmdNoteStop(stop);
    ut_tproda("Signal [%d] came before the application started; it is not started", stop);
    return 128 + stop;
  }
  int32_t code = jsvStartApp(args);
  setExitTarget(std::nullopt);
  entryClass.clear();
  return code;
}

std::optional<ExitTarget> jsvBeginExitCall() {
  std::lock_guard<std::mutex> lock(exitTargetMutex);
  if (exitTarget) ++exitCallsUnderway;
  return exitTarget;
}

void jsvEndExitCall() {
  {
    std::lock_guard<std::mutex> lock(exitTargetMutex);
    --exitCallsUnderway;
  }
  exitCallsDone.notify_all();
}

std::optional<ExitTarget> jsvGetExitTarget() {
  std::lock_guard<std::mutex> lock(exitTargetMutex);
  return exitTarget;
}

std::optional<ExitTarget> jsvGetFinishedExitTarget() {
  std::lock_guard<std::mutex> lock(exitTargetMutex);
  return finishedExitTarget;
}

bool jsvIgnoreVMExitCode() { return ignoreVMExitCode; }

int32_t jsvInternalExitCode() { return internalExitCode; }

void jsvDotToSlash(std::string& text) {
  for (char& c : text) {
    if (c == '.') c = '/';
  }
}

int jsvGetStaticMethod(JNIEnv* env, std::string_view className, const char* method, const char* signature,
                       jclass* outClass, jmethodID* outMethod) {
  std::string slashed(className);
  jsvDotToSlash(slashed);
  jclass cls = env->FindClass(slashed.c_str());
  *outClass = cls;
  if (cls == nullptr) {
    const bool absent = classIsAbsent(env, slashed);
    if (!absent) jsvDescribeException(env);
    std::fprintf(stderr, "Failed to load class %.*s\n", static_cast<int>(className.size()), className.data());
    if (absent) reportMissingClassPath();
    return kClassNotFound;
  }
  jmethodID id = env->GetStaticMethodID(cls, method, signature);
  *outMethod = id;
  return id != nullptr ? kMethodFound : kMethodNotFound;
}

jstring jsvNewStringPlatformBytes(JNIEnv* env, const char* bytes, jsize length) {
  LocalRef<jclass> stringClass(env, env->FindClass("java/lang/String"));
  if (!stringClass) return nullptr;
  jmethodID constructor = env->GetMethodID(stringClass.get(), "<init>", "([B)V");
  if (constructor == nullptr) return nullptr;
  LocalRef<jbyteArray> array(env, env->NewByteArray(length));
  if (!array) return nullptr;
  env->SetByteArrayRegion(array.get(), 0, length, reinterpret_cast<const jbyte*>(bytes));
  if (env->ExceptionCheck()) return nullptr;
  auto text = static_cast<jstring>(env->NewObject(stringClass.get(), constructor, array.get()));
  if (env->ExceptionCheck()) {
    if (text != nullptr) env->DeleteLocalRef(text);
    return nullptr;
  }
  return text;
}

jstring jsvNewStringPlatform(JNIEnv* env, const char* text) {
  return jsvNewStringPlatformBytes(env, text, static_cast<jsize>(std::char_traits<char>::length(text)));
}

jobjectArray jsvMakeArgsArray(JNIEnv* env, const std::vector<std::string>& args) {
  LocalRef<jclass> stringClass(env, env->FindClass("java/lang/String"));
  if (!stringClass) return nullptr;
  jobjectArray array = env->NewObjectArray(static_cast<jsize>(args.size()), stringClass.get(), nullptr);
  if (array == nullptr) return nullptr;
  for (size_t i = 0; i < args.size(); ++i) {
    LocalRef<jstring> element(
        env, jsvNewStringPlatformBytes(env, args[i].data(), static_cast<jsize>(args[i].size())));
    env->SetObjectArrayElement(array, static_cast<jsize>(i), element.get());
  }
  return array;
}
