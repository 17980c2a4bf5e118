// Creating and destroying the process's one VM through the Invocation API.
//
// The VM lives from jsvCreateJVM to jsvDestroyJVM. Creation is tried once per process:
// a second JNI_CreateJavaVM after a failure appears to work but loses the class path,
// so a failed creation is never retried.

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "app_arguments.h"
#include "exit_codes.h"
#include "jni_support.h"
#include "jvm_discovery.h"
#include "jvm_interface.h"
#include "jvm_options.h"
#include "jvm_service.h"
#include "jvm_state.h"
#include "launch_settings.h"
#include "launcher_natives.h"
#include "process_end.h"
#include "service_notify.h"
#include "signals.h"
#include "startup_cache.h"
#include "trace.h"

namespace {

JavaVM* jvm = nullptr;
JNIEnv* env = nullptr;
std::atomic<int32_t> abortPhase{kAbortIdle};
bool creationFailed = false;

// The init-args record and the option records it points into, kept for the VM's life.
JavaVMInitArgs JVMInitArgs{};
std::vector<std::string> optionTexts;
std::vector<JavaVMOption> options;

// Set while JNI_CreateJavaVM runs, for the VM's abort hook.
std::atomic<bool> creating{false};
void (*creationAbortHandler)() = nullptr;

// The VM's own last line on standard error lacked its line end ("Did you mean ...? ").
std::atomic<bool> vmLeftLineOpen{false};

// Everything the VM prints passes through here (its "vfprintf" option): it goes to the
// stream the VM chose, and the launcher learns whether the VM left a line open on
// standard error, so that its own message after a refused creation starts a line. The VM
// writes a log line in pieces (decorations, message, line end); a line is flushed once it
// is complete, so that a logging VM costs one write per line, as it does without the hook.
// Standard error is unbuffered, so its pieces still go out at once. The VM's remark on the
// configuration a start-up cache run records is the launcher's business, not the console's.
jint JNICALL printForVM(FILE* stream, const char* format, va_list args) {
  char small[1024];
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (length <= 0) return length;
  std::string large;
  const char* text = small;
  if (static_cast<size_t>(length) >= sizeof small) {
    large.resize(static_cast<size_t>(length) + 1);
    std::vsnprintf(large.data(), large.size(), format, args);
    text = large.data();
  }
  if (jscIsRecordingRemark(std::string_view(text, static_cast<size_t>(length)))) {
    ut_tproda("Startup cache: the VM's remark on the configuration it recorded is kept off the console");
    return length;
  }
  size_t written = std::fwrite(text, 1, static_cast<size_t>(length), stream);
  if (text[length - 1] == '\n') std::fflush(stream);
  if (stream == stderr) vmLeftLineOpen = text[length - 1] != '\n';
  return static_cast<jint>(written);
}

// The VM's last call before it ends the process abnormally (its "abort" option): during
// the creation, a creation that failed without returning.
void JNICALL abortForVM() {
  if (!creating.exchange(false)) return;
  if (const int held = hmdReleaseStopsAfterCreation()) {
    ut_tproda("Signal [%d] arrived while the VM was created", held);
    hmdEndBySignal(held);
    return;
  }
  if (vmLeftLineOpen) std::fputc('\n', stderr);
  if (creationAbortHandler != nullptr) creationAbortHandler();
}

// The options as the VM receives them: the print and abort hooks first, so that they are
// in place before any other option can be refused, then the option list.
std::vector<JavaVMOption> createOptions;
JavaVMInitArgs createArgs{};

const JavaVMInitArgs& argsWithPrintHook() {
  createOptions.clear();
  createOptions.push_back(JavaVMOption{.optionString = const_cast<char*>("vfprintf"),
                                       .extraInfo = reinterpret_cast<void*>(printForVM)});
  createOptions.push_back(
      JavaVMOption{.optionString = const_cast<char*>("abort"), .extraInfo = reinterpret_cast<void*>(abortForVM)});
  createOptions.insert(createOptions.end(), options.begin(), options.end());
  createArgs = JVMInitArgs;
  createArgs.nOptions = static_cast<jint>(createOptions.size());
  createArgs.options = createOptions.data();
  return createArgs;
}

void fillInitArgs() {
  optionTexts.clear();
  options.clear();
  if (const VmOptionList* list = jopGetJavaVMOptions()) {
    optionTexts.reserve(list->size());
    for (const VmOption& option : *list) optionTexts.push_back(option.optionString);
    for (size_t i = 0; i < list->size(); ++i) {
      options.push_back(
          JavaVMOption{.optionString = optionTexts[i].data(), .extraInfo = (*list)[i].extraInfo});
    }
  }
  JVMInitArgs.version = kLauncherJNIVersion;
  JVMInitArgs.nOptions = static_cast<jint>(options.size());
  JVMInitArgs.options = options.empty() ? nullptr : options.data();
  JVMInitArgs.ignoreUnrecognized = JNI_FALSE;
}

void traceInitArgs() {
  ut_tproda("JavaVMInitArgs:");
  ut_tproda("    version 0x%08lx", static_cast<long>(JVMInitArgs.version));
  ut_tproda("    ignoreUnrecognized is %s", JVMInitArgs.ignoreUnrecognized ? "JNI_TRUE" : "JNI_FALSE");
  ut_tproda("    nOptions is %ld", static_cast<long>(JVMInitArgs.nOptions));
  for (jint i = 0; i < JVMInitArgs.nOptions; ++i) {
    const std::string& text = optionTexts[static_cast<size_t>(i)];
    if (text == "exit") {
      ut_tproda("    option[%2d] = 'exit' (JNI Invocation API JVM exit hook)", static_cast<int>(i));
    } else {
      ut_tproda("    option[%2d] = '%.*s'", static_cast<int>(i), ut_textLimit(), text.c_str());
    }
  }
}

// Whether the VM leaves the stop signals to the launcher (-Xrs).
bool vmLeavesStopsToLauncher() {
  for (const std::string& text : optionTexts) {
    if (text == "-Xrs") return true;
  }
  return false;
}

// A VM that handles the stop signals itself installs its handlers while it starts; the
// creation hold kept the signals ignored then, so that a stop could not run the VM's
// shutdown half-way through its start. Now that it is up they are installed as it would
// have: its handlers are set up afresh.
void installVmStopHandlers() {
  LocalRef<jclass> terminator(env, env->FindClass("java/lang/Terminator"));
  jfieldID handler =
      terminator ? env->GetStaticFieldID(terminator.get(), "handler", "Ljdk/internal/misc/Signal$Handler;")
                 : nullptr;
  jmethodID setup = handler != nullptr ? env->GetStaticMethodID(terminator.get(), "setup", "()V") : nullptr;
  if (setup == nullptr) {
    env->ExceptionClear();
    ut_tproda("The VM's stop signal handlers could not be set up; a stop signal ends the process");
    return;
  }
  env->SetStaticObjectField(terminator.get(), handler, nullptr);
  env->CallStaticVoidMethod(terminator.get(), setup);
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    ut_tproda("The VM's stop signal handlers could not be set up; a stop signal ends the process");
  }
}

}  // namespace

void jsvSetCreationAbortHandler(void (*handler)()) { creationAbortHandler = handler; }

JavaVM* jsvGetJavaVM() { return jvm; }

JNIEnv* jsvGetMainEnv() { return env; }

std::atomic<int32_t>& jsvAbortPhase() { return abortPhase; }

int32_t jsvCreateJVM() {
  int32_t code = hmdBeforeCreateJVM();
  if (code != 0) return code;

  fillInitArgs();
  traceInitArgs();
  if (optIsJPDAEnabled() && optIsJPDAStartPaused()) {
    ut_tproda(
        "WARNING: Starting debugger in paused mode. You must issue a 'go' command before Java will run.");
  }

  const InvocationFunctions& functions = jevGetInvocationFunction();
  if (jvm == nullptr) {
    jint created = -1;
    if (!creationFailed && functions.createJavaVM != nullptr) {
      JavaVMInitArgs args = argsWithPrintHook();
      // A stop during the creation waits for the VM to be up (never its half-made
      // shutdown), and is then acted on: the application is not started.
      hmdHoldStopsForCreation();
      creating = true;
      created = functions.createJavaVM(&jvm, reinterpret_cast<void**>(&env), &args);
      creating = false;
      const int held = hmdReleaseStopsAfterCreation();
      if (held != 0) {
        ut_tproda("Signal [%d] arrived while the VM was created", held);
        hmdRememberStop(held);
      }
    }
    if (created < 0) {
      creationFailed = true;
      jvm = nullptr;
      env = nullptr;
      if (vmLeftLineOpen) std::fputc('\n', stderr);
      // With cache options the launcher starts once more without them, and says so instead.
      if (!jscRetryPossible()) std::fputs("Unable to create JVM.\n", stderr);
      return kExitFailure;
    }
  }
  hmdVmCreated();
  ut_tproda("JVM created");

  code = jsvCheckJVM();
  if (code == 0) {
    // Not while the creation hold kept the signals ignored: the VM would take them for
    // ignored. Before the launcher's table, which replaces them (and keeps them as the
    // handlers it replaced).
    if (!vmLeavesStopsToLauncher()) installVmStopHandlers();
    if (std::optional<std::string> file = cfgGetExportEnv()) jsvWriteEnvironment(*file);
    code = hmdAfterCreateJVM();
    // Where the VM's own handlers take the stop signals, a stop that comes while main
    // runs or once it has ended is also noted: the VM acts on it on a thread of its own,
    // which main's end and the destruction's shutdown can overtake, and such a stop must
    // still cancel a restart. The launcher's table acts on a stop itself.
    if (code == 0 && !hmdIsSignalTableInstalled()) hmdNoteStopsTakenByTheVm();
  }
  dmpRegisterDumpFunction(env, functions.dumpAllStacks);
  return code;
}

int32_t jsvDestroyJVM() {
  if (jvm != nullptr) {
    // Already so when main has returned; an interrupt counted since then stays counted.
    int32_t idle = kAbortIdle;
    abortPhase.compare_exchange_strong(idle, kAbortDestroying);
    // From the end of main on a stop cancels a restart, also one the VM takes after it
    // stopped dispatching signals.
    hmdNoteStopsTakenByTheVm();
    jvm->DestroyJavaVM();
    hmdServiceVMDestroyed();
    // The VM's own signal handlers now point at a destroyed VM: stop signals end the
    // process from here on. Before the phase goes back to 0, so that an interrupt that
    // finds it there knows the VM is gone.
    hmdVmEnded();
    if (abortPhase.exchange(kAbortIdle) == kAbortForcing) hmdWaitForEnd();
  }
  jvm = nullptr;
  env = nullptr;
  jsvForgetSystemClass();
  ut_tproda("JVM destroyed");
  return hmdAfterDestoryJVM();
}
