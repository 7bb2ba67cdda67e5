#pragma once
// The engine's thread and synchronisation wrappers.  Every stage runs its
// work on a Thread and meets the other stages through Mutex and Semaphore.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/threadannotations.h"

// A mutex that starts unowned and can be waited for with a time-out.
class LM_CAPABILITY("mutex") Mutex {
 public:
  static constexpr int32_t kInfinite = -1;

  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  // Waits up to timeoutMs (kInfinite: for ever); true when acquired.  The
  // mutex is not tied to a thread, so there is no "abandoned" case: a
  // holder that ends without releasing keeps it held.
  bool acquire(int32_t timeoutMs = kInfinite) LM_TRY_ACQUIRE(true);
  void release() LM_RELEASE();

  // Lockable, for MutexLock.  (The bodies keep the flag under the inner
  // std::mutex, which the analysis doesn't see.)
  void lock() LM_ACQUIRE() LM_NO_THREAD_SAFETY_ANALYSIS { acquire(kInfinite); }
  void unlock() LM_RELEASE() LM_NO_THREAD_SAFETY_ANALYSIS { release(); }

 private:
  // A flag under a plain mutex and a condition rather than a timed mutex:
  // the timed lock call of the C library is invisible to the thread
  // sanitizer the engine's tests run under.
  std::mutex m_;
  std::condition_variable cv_;
  bool held_ = false;
};

// Holds a Mutex for its scope.
using MutexLock = platform::ScopedLock<Mutex>;

// A counting semaphore: wait takes one count (blocking without time-out),
// signal adds one.
class Semaphore {
 public:
  explicit Semaphore(uint32_t initialCount = 0) : count_(initialCount) {}
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  void wait();
  void signal();

 private:
  std::mutex m_;
  std::condition_variable cv_;
  uint64_t count_;
};

// A system thread running entry(arg).
//
// Priorities are given as an index 0..6 into the engine's table: idle,
// lowest, below normal, normal, above normal, highest, time critical.  On
// Linux a thread's priority is its nice value; each index is turned into a
// nice value relative to the process's own (at start-up) and clamped to
// what the process may set (an unprivileged process may not go below its
// starting nice value, so the upper indices then share that value).  The
// index last set is remembered so that getPriority answers it back while
// the thread's nice value is still the one that index gave; a nice value
// set by someone else is looked up in the table, and returned raw when no
// index gives it.
class Thread {
 public:
  using Entry = void (*)(void* arg);

  static constexpr int kIdle = 0;
  static constexpr int kLowest = 1;
  static constexpr int kBelowNormal = 2;
  static constexpr int kNormal = 3;
  static constexpr int kAboveNormal = 4;
  static constexpr int kHighest = 5;
  static constexpr int kTimeCritical = 6;

  Thread() = default;
  // Joins a thread that is still running.
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts entry(arg) at once; false when the thread could not be created
  // (or one was already created).
  bool create(Entry entry, void* arg);
  // Waits without time-out for the thread to end.
  void join();
  bool isCreated() const { return thread_.joinable(); }
  // The system's id of the thread (its Linux tid), 0 before create.
  int systemId() const { return tid_.load(); }

  // Index of the thread's current priority in the table, or the raw nice
  // value when no index gives it.
  int getPriority() const;
  // Sets the priority by index and returns the previous index (as
  // getPriority would have answered).
  int setPriority(int index);

  // The nice value an index maps to in this process.
  static int niceForIndex(int index);

 private:
  static void run(Thread* self);

  std::thread thread_;
  Entry entry_ = nullptr;
  void* arg_ = nullptr;
  std::atomic<int> tid_{0};
  std::atomic<int> lastIndex_{kNormal};
  std::mutex started_m_;
  std::condition_variable started_cv_;
};
