// Who the running VM says it is, whether it may run the product, single system
// properties, and the start-up environment written for the Java side.

#include "jvm_check.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "config_options.h"
#include "environment.h"
#include "jni_support.h"
#include "jvm_options.h"
#include "jvm_service.h"
#include "jvm_state.h"
#include "option_directives.h"
#include "string_helpers.h"
#include "trace.h"

namespace {

constexpr const char* kUnsupportedVM =
    "This Java VM release is unsupported by Vantrel (see the release notes)";
constexpr const char* kInstallationHint =
    "Check your installation and use the javahome commandline switchto specify the JDK or JRE location";
constexpr const char* kWorkaroundNotice = "Attempting to start server with workaround for Java VM issue";
constexpr const char* kVersionRefused = "Unable to find a supported JDK or JRE version.";

constexpr const char* kKnownBadVendor = "Sun Microsystems Inc.";
constexpr const char* kKnownBadBuild = "1.3.1-b24";

// One row per property the check reads, in reading order, with the room it is given.
struct PropertyRow {
  const char* name;
  std::string VmProperties::*field;
  size_t limit;  // bytes kept of the value
};
constexpr PropertyRow kCheckedProperties[] = {
    {.name = "java.vm.info", .field = &VmProperties::vmInfo, .limit = 255},
    {.name = "java.vm.vendor", .field = &VmProperties::vmVendor, .limit = 255},
    {.name = "java.vm.version", .field = &VmProperties::vmVersion, .limit = 255},
    {.name = "java.vm.name", .field = &VmProperties::vmName, .limit = 255},
    {.name = "java.runtime.name", .field = &VmProperties::runtimeName, .limit = 255},
    {.name = "java.runtime.version", .field = &VmProperties::runtimeVersion, .limit = 255},
    {.name = "os.name", .field = &VmProperties::osName, .limit = 255},
    {.name = "java.version", .field = &VmProperties::javaVersion, .limit = 127},
};

// java.lang.System and its two property methods, cached for the VM's life.
jclass systemClass = nullptr;  // a global reference
jmethodID getPropertyMethod = nullptr;
jmethodID setPropertyMethod = nullptr;

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Finds java.lang.System's method once; false (with the message) when it cannot.
bool lookUpSystemMethod(JNIEnv* env, const char* name, const char* signature, jmethodID& method,
                        const char* missingMessage) {
  if (method != nullptr) return true;
  jclass cls = nullptr;
  jmethodID found = nullptr;
  int result = jsvGetStaticMethod(env, "java.lang.System", name, signature, &cls, &found);
  if (result == kMethodNotFound) std::fputs(missingMessage, stderr);
  if (result != kMethodFound) {
    if (cls != nullptr) env->DeleteLocalRef(cls);
    return false;
  }
  if (systemClass == nullptr) systemClass = static_cast<jclass>(env->NewGlobalRef(cls));
  env->DeleteLocalRef(cls);
  method = found;
  return systemClass != nullptr;
}

}  // namespace

std::vector<std::string> jsvVersionTraceLines(const VmProperties& p) {
  std::vector<std::string> lines;
  lines.push_back("Java version \"" + p.javaVersion + "\"");
  // Byte-wise over six bytes, the terminator included: "1.3" is older, "1.3.0_01" newer.
  if (std::strncmp(p.javaVersion.c_str(), "1.3.0", 6) >= 0) {
    lines.push_back(p.runtimeName + " (build " + p.runtimeVersion + ")");
    lines.push_back(p.vmName + " (build " + p.vmVersion + ", " + p.vmInfo + ")");
  } else {
    lines.push_back(p.vmName + " (" + p.vmInfo + ")");
  }
  lines.push_back("JVM vendor is \"" + p.vmVendor + "\"");
  return lines;
}

CheckVerdict jsvJudgeJVM(const VmProperties& p, const CheckSettings& settings) {
  std::string requirement;
  if (!cfgIsJVMVersionAcceptable(p.javaVersion.c_str(), &requirement)) {
    return {.code = 1,
            .message = std::string(kVersionRefused) + " " + requirement + "\n" + kInstallationHint + "\n"};
  }
  bool knownBad = settings.strictVMCheck && p.vmVendor == kKnownBadVendor &&
                  startsWith(p.vmVersion, kKnownBadBuild) && !settings.safetyNetOff;
  if (!knownBad) return {};
  if (startsWith(p.vmInfo, kKnownBadBuild) || settings.policySet) {
    return {.code = 0, .message = std::string("\n") + kUnsupportedVM + "\n" + kWorkaroundNotice + "\n\n"};
  }
  return {.code = 1, .message = std::string(kUnsupportedVM) + "\n" + kInstallationHint + "\n"};
}

int32_t jsvCheckJVM() {
  VmProperties properties;
  for (const PropertyRow& row : kCheckedProperties) {
    std::string value;
    if (jsvGetSystemProperty(row.name, value) != 0) {
      ut_tproda("Unable to get system properties.");
      return 1;
    }
    if (value.size() > row.limit) value.resize(row.limit);
    properties.*row.field = value;
  }
  for (const std::string& line : jsvVersionTraceLines(properties)) ut_tproda("%.*s", ut_textLimit(), line.c_str());

  CheckSettings settings{
      .strictVMCheck = cfgIsStrictVMCheckEnabled(),
      .policySet = jopIsPropSet("-Djava.security.policy=") || cfgIsPropSet("-Djava.security.policy="),
      .safetyNetOff = std::getenv("ZEP_NO_SAFETY_NET") != nullptr,
  };
  CheckVerdict verdict = jsvJudgeJVM(properties, settings);
  std::fputs(verdict.message.c_str(), stderr);
  return verdict.code;
}

int32_t jsvGetSystemProperty(const char* name, std::string& value) {
  JNIEnv* env = jsvGetMainEnv();
  if (env == nullptr) return 1;
  if (!lookUpSystemMethod(
          env, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;", getPropertyMethod,
          "No 'static java.lang.String getProperty(java.lang.String)' method in java.lang.System.\n")) {
    return 1;
  }
  LocalRef<jstring> key(env, env->NewStringUTF(name));
  if (key) {
    LocalRef<jstring> result(
        env, static_cast<jstring>(env->CallStaticObjectMethod(systemClass, getPropertyMethod, key.get())));
    if (result && !env->ExceptionCheck()) {
      jsize length = env->GetStringLength(result.get());
      std::vector<char> buffer(static_cast<size_t>(env->GetStringUTFLength(result.get())) + 1, '\0');
      env->GetStringUTFRegion(result.get(), 0, length, buffer.data());
      value.assign(buffer.data(), buffer.size() - 1);
    }
  }
  if (jsvDescribeException(env)) {
    std::fprintf(stderr, "Unable to get Java System Property '%s'\n.", name);
    return 1;
  }
  return 0;
}

int32_t jsvSetSystemProperty(const char* name, const char* value) {
  JNIEnv* env = jsvGetMainEnv();
  if (env == nullptr) return 1;
  if (!lookUpSystemMethod(env, "setProperty", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;",
                          setPropertyMethod,
                          "No 'static java.lang.String setProperty(java.lang.String, java.lang.String)' "
                          "method in java.lang.System.\n")) {
    return 1;
  }
  LocalRef<jstring> key(env, env->NewStringUTF(name));
  LocalRef<jstring> text(env, env->NewStringUTF(value));
  if (key && text) {
    LocalRef<jobject> previous(
        env, env->CallStaticObjectMethod(systemClass, setPropertyMethod, key.get(), text.get()));
  }
  if (jsvDescribeException(env)) {
    std::fprintf(stderr, "Unable to set Java System Property '%s=%s'\n.", name, value);
    return 1;
  }
  return 0;
}

void jsvWriteEnvironment(const std::string& fileName) {
  if (const std::optional<std::u16string>& chars = utlGetEnvironmentChars()) {
    hmdWriteFileContent(fileName, utlPrintEnvironment(*chars));
    return;
  }
  JNIEnv* env = jsvGetMainEnv();
  if (env == nullptr) return;
  const std::string& bytes = utlGetEnvironmentBytes();
  LocalRef<jstring> text(env, jsvNewStringPlatformBytes(env, bytes.data(), static_cast<jsize>(bytes.size())));
  if (!text) {
    jsvDescribeException(env);
    return;
  }
  const jchar* chars = env->GetStringChars(text.get(), nullptr);
  if (chars == nullptr) {
    jsvDescribeException(env);
    return;
  }
  std::u16string_view view(reinterpret_cast<const char16_t*>(chars),
                           static_cast<size_t>(env->GetStringLength(text.get())));
  hmdWriteFileContent(fileName, utlPrintEnvironment(view));
  env->ReleaseStringChars(text.get(), chars);
}

void jsvForgetSystemClass() {
  // The VM that owned the global reference is gone with it.
  systemClass = nullptr;
  getPropertyMethod = nullptr;
  setPropertyMethod = nullptr;
}
