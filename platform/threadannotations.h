#pragma once
// Lock annotations that Clang's thread-safety analysis checks
// (-Wthread-safety): which mutex guards a field, which functions must be
// called with it held, which take or give it back.  Other compilers see
// nothing.  CheckedMutex and ScopedLock are a plain mutex and a scoped lock
// the analysis understands (the standard library's carry no annotations).
#include <mutex>

#if defined(__clang__)
#define LM_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define LM_THREAD_ANNOTATION(x)
#endif

#define LM_CAPABILITY(name) LM_THREAD_ANNOTATION(capability(name))
#define LM_SCOPED_CAPABILITY LM_THREAD_ANNOTATION(scoped_lockable)
#define LM_GUARDED_BY(m) LM_THREAD_ANNOTATION(guarded_by(m))
#define LM_PT_GUARDED_BY(m) LM_THREAD_ANNOTATION(pt_guarded_by(m))
#define LM_REQUIRES(...) LM_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define LM_EXCLUDES(...) LM_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define LM_ACQUIRE(...) LM_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define LM_RELEASE(...) LM_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define LM_TRY_ACQUIRE(...) LM_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define LM_ACQUIRED_BEFORE(...) LM_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define LM_ACQUIRED_AFTER(...) LM_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define LM_RETURN_CAPABILITY(m) LM_THREAD_ANNOTATION(lock_returned(m))
#define LM_NO_THREAD_SAFETY_ANALYSIS LM_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace platform {

// A std::mutex the analysis knows as a capability.
class LM_CAPABILITY("mutex") CheckedMutex {
 public:
  CheckedMutex() = default;
  CheckedMutex(const CheckedMutex&) = delete;
  CheckedMutex& operator=(const CheckedMutex&) = delete;

  // The bodies work on the unannotated std::mutex: the analysis takes the
  // annotations as stated.
  void lock() LM_ACQUIRE() LM_NO_THREAD_SAFETY_ANALYSIS { m_.lock(); }
  void unlock() LM_RELEASE() LM_NO_THREAD_SAFETY_ANALYSIS { m_.unlock(); }
  bool try_lock() LM_TRY_ACQUIRE(true) LM_NO_THREAD_SAFETY_ANALYSIS { return m_.try_lock(); }

 private:
  std::mutex m_;
};

// Holds a mutex for its scope; unlock and lock let a waiting loop give it
// up for a while.
template <class M>
class LM_SCOPED_CAPABILITY ScopedLock {
 public:
  explicit ScopedLock(M& m) LM_ACQUIRE(m) LM_NO_THREAD_SAFETY_ANALYSIS : m_(m) { m_.lock(); }
  ~ScopedLock() LM_RELEASE() LM_NO_THREAD_SAFETY_ANALYSIS {
    if (held_) m_.unlock();
  }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

  void unlock() LM_RELEASE() LM_NO_THREAD_SAFETY_ANALYSIS {
    m_.unlock();
    held_ = false;
  }
  void lock() LM_ACQUIRE() LM_NO_THREAD_SAFETY_ANALYSIS {
    m_.lock();
    held_ = true;
  }

 private:
  M& m_;
  bool held_ = true;
};

using CheckedLock = ScopedLock<CheckedMutex>;

}  // namespace platform
