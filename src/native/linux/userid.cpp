// Switching the identity of the whole process for the Java side. A text that begins with
// a digit is an id (its leading digits, as atoi reads them); anything else is a name
// looked up in the password or group database.
//
// A privileged process that switches its user first takes the groups a login of that user
// would have: the user's own primary group and the groups that list it (none for an id
// without a password entry). Otherwise a server started as root would keep root's groups.
// When the system then refuses the user, the groups the process had are put back.

#include "userid.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr size_t kMessageSize = 128;

void throwNew(JNIEnv* env, const char* className, const char* format, const std::string& text) {
  char message[kMessageSize];
  std::snprintf(message, sizeof message, format, text.c_str());
  jclass cls = env->FindClass(className);
  if (cls == nullptr) return;  // the lookup's own exception stays pending
  env->ThrowNew(cls, message);
  env->DeleteLocalRef(cls);
}

// The string's characters, or none with an exception pending.
std::optional<std::string> utfText(JNIEnv* env, jstring value) {
  if (value == nullptr) {
    throwNew(env, "java/lang/NullPointerException", "%s", "null value");
    return std::nullopt;
  }
  const char* chars = env->GetStringUTFChars(value, nullptr);
  if (chars == nullptr) return std::nullopt;
  std::string text(chars);
  env->ReleaseStringUTFChars(value, chars);
  return text;
}

bool startsWithDigit(const std::string& text) {
  return !text.empty() && std::isdigit(static_cast<unsigned char>(text[0])) != 0;
}

// The leading digits as a number; a value past the id range stays past it, so the system
// refuses it instead of a wrapped, different id being used.
unsigned long leadingNumber(const std::string& text) {
  unsigned long value = 0;
  for (char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c)) == 0) break;
    value = value * 10 + static_cast<unsigned long>(c - '0');
    if (value > 0xFFFFFFFFul) return 0xFFFFFFFFul;
  }
  return value;
}

// The password entry of a name or of an id; its strings live in storage.
template <typename Key, typename Lookup>
std::optional<passwd> findUser(Key key, Lookup lookup, std::vector<char>& storage) {
  passwd entry{};
  passwd* found = nullptr;
  storage.assign(16384, '\0');
  if (lookup(key, &entry, storage.data(), storage.size(), &found) != 0 || found == nullptr)
    return std::nullopt;
  return entry;
}

// The process's supplementary groups; none when they cannot be read.
std::optional<std::vector<gid_t>> currentGroups() {
  // The count is asked first; a list that grew in between is asked again, a few times.
  for (int attempt = 0; attempt < 4; ++attempt) {
    int count = getgroups(0, nullptr);
    if (count < 0) return std::nullopt;
    std::vector<gid_t> groups(static_cast<size_t>(count) + 1);
    count = getgroups(static_cast<int>(groups.size()), groups.data());
    if (count >= 0) {
      groups.resize(static_cast<size_t>(count));
      return groups;
    }
    if (errno != EINVAL) return std::nullopt;
  }
  return std::nullopt;
}

enum class Switch { kDone, kGroupsRefused, kUserRefused };

// Switches the process to the user id with the groups of its password entry (user may be
// null). kUserRefused leaves errno as setuid set it and the groups as they were.
Switch switchUser(uid_t id, const passwd* user) {
  if (geteuid() != 0) return setuid(id) == 0 ? Switch::kDone : Switch::kUserRefused;
  std::optional<std::vector<gid_t>> saved = currentGroups();
  if (!saved) return Switch::kGroupsRefused;
  bool groupsSet =
      user != nullptr ? initgroups(user->pw_name, user->pw_gid) == 0 : setgroups(0, nullptr) == 0;
  if (!groupsSet) return Switch::kGroupsRefused;
  if (setuid(id) == 0) return Switch::kDone;
  const int refusal = errno;
  setgroups(saved->size(), saved->data());
  errno = refusal;
  return Switch::kUserRefused;
}

}  // namespace

extern "C" {

JNIEXPORT jboolean JNICALL Java_com_vantrel_enterprise_server_UserId_setUser(JNIEnv* env, jclass,
                                                                             jstring user) {
  std::optional<std::string> text = utfText(env, user);
  if (!text) return JNI_FALSE;
  std::vector<char> storage;
  if (startsWithDigit(*text)) {
    auto id = static_cast<uid_t>(leadingNumber(*text));
    std::optional<passwd> entry = findUser(id, getpwuid_r, storage);
    Switch result = switchUser(id, entry ? &*entry : nullptr);
    if (result == Switch::kDone) return JNI_TRUE;
    if (result == Switch::kUserRefused && errno == EINVAL) {
      throwNew(env, "java/lang/IllegalArgumentException", "Invalid user id: %s", *text);
    }
    return JNI_FALSE;
  }
  std::optional<passwd> entry = findUser(text->c_str(), getpwnam_r, storage);
  if (!entry) {
    throwNew(env, "java/lang/IllegalArgumentException", "Invalid user: %s", *text);
    return JNI_FALSE;
  }
  return switchUser(entry->pw_uid, &*entry) == Switch::kDone ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_com_vantrel_enterprise_server_UserId_setGroup(JNIEnv* env, jclass,
                                                                              jstring group) {
  std::optional<std::string> text = utfText(env, group);
  if (!text) return JNI_FALSE;
  if (startsWithDigit(*text)) {
    auto id = static_cast<gid_t>(leadingNumber(*text));
    if (setgid(id) == 0) return JNI_TRUE;
    if (errno == EINVAL) throwNew(env, "java/lang/IllegalArgumentException", "Invalid group id: %s", *text);
    return JNI_FALSE;
  }
  std::vector<char> storage(16384, '\0');
  struct group entry {};
  struct group* found = nullptr;
  if (getgrnam_r(text->c_str(), &entry, storage.data(), storage.size(), &found) != 0 || found == nullptr) {
    throwNew(env, "java/lang/IllegalArgumentException", "Invalid group: %s", *text);
    return JNI_FALSE;
  }
  return setgid(entry.gr_gid) == 0 ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_com_vantrel_enterprise_server_UserId_isRootUser(JNIEnv*, jclass) {
  return getuid() == 0 || geteuid() == 0 ? JNI_TRUE : JNI_FALSE;
}

}  // extern "C"
