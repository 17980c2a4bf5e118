// Small JNI guards: a local reference deleted on every path, a thread attached to the VM
// for one scope, and the pending-exception checks the VM service repeats.
#pragma once

#include <jni.h>

#include <utility>

// Owns one local reference and deletes it when the scope ends.
template <typename T>
class LocalRef {
 public:
  LocalRef(JNIEnv* env, T ref) : env_(env), ref_(ref) {}
  ~LocalRef() {
    if (ref_ != nullptr) env_->DeleteLocalRef(ref_);
  }
  LocalRef(const LocalRef&) = delete;
  LocalRef& operator=(const LocalRef&) = delete;

  T get() const { return ref_; }
  explicit operator bool() const { return ref_ != nullptr; }
  // Gives the reference up to the caller, who deletes it.
  T release() { return std::exchange(ref_, nullptr); }

 private:
  JNIEnv* env_;
  T ref_;
};

// The calling native thread, attached to the VM for the guard's life.
class AttachedThread {
 public:
  explicit AttachedThread(JavaVM* vm) : vm_(vm) {
    if (vm_ == nullptr || vm_->AttachCurrentThread(reinterpret_cast<void**>(&env_), nullptr) != JNI_OK) {
      env_ = nullptr;
    }
  }
  ~AttachedThread() {
    if (env_ != nullptr) vm_->DetachCurrentThread();
  }
  AttachedThread(const AttachedThread&) = delete;
  AttachedThread& operator=(const AttachedThread&) = delete;

  // Null when the thread could not be attached.
  JNIEnv* env() const { return env_; }

 private:
  JavaVM* vm_;
  JNIEnv* env_ = nullptr;
};

// Lets the VM print a pending exception (and clears it); true when there was one.
inline bool jsvDescribeException(JNIEnv* env) {
  if (!env->ExceptionCheck()) return false;
  env->ExceptionDescribe();
  env->ExceptionClear();
  return true;
}

// Drops a pending exception without printing it; true when there was one.
inline bool jsvClearException(JNIEnv* env) {
  if (!env->ExceptionCheck()) return false;
  env->ExceptionClear();
  return true;
}
