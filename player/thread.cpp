#include "player/thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

// The process's nice value when the engine was loaded: the "normal" level.
const int kBaseNice = [] {
  errno = 0;
  int n = getpriority(PRIO_PROCESS, 0);
  return errno == 0 ? n : 0;
}();

// Nice offsets from the base for idle .. time critical.  Idle is the
// weakest level Linux offers.
const int kNiceOffset[7] = {19, 10, 5, 0, -5, -10, -20};

// Lowest nice value this process may set for its threads.
int minimumNice() {
  if (geteuid() == 0) return -20;
  int floor = kBaseNice;
  struct rlimit rl;
  if (getrlimit(RLIMIT_NICE, &rl) == 0) {
    // RLIMIT_NICE allows nice values down to 20 - limit.
    int allowed = rl.rlim_cur == RLIM_INFINITY || rl.rlim_cur >= 40 ? -20 : 20 - static_cast<int>(rl.rlim_cur);
    floor = std::min(floor, allowed);
  }
  return std::clamp(floor, -20, 19);
}

int currentTid() { return static_cast<int>(syscall(SYS_gettid)); }

}  // namespace

bool Mutex::acquire(int32_t timeoutMs) LM_NO_THREAD_SAFETY_ANALYSIS {
  std::unique_lock<std::mutex> lock(m_);
  auto free = [this] { return !held_; };
  if (timeoutMs < 0) {
    cv_.wait(lock, free);
  } else if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), free)) {
    return false;
  }
  held_ = true;
  return true;
}

void Mutex::release() LM_NO_THREAD_SAFETY_ANALYSIS {
  {
    std::lock_guard<std::mutex> lock(m_);
    held_ = false;
  }
  cv_.notify_one();
}

void Semaphore::wait() {
  std::unique_lock<std::mutex> lock(m_);
  cv_.wait(lock, [this] { return count_ > 0; });
  --count_;
}

void Semaphore::signal() {
  {
    std::lock_guard<std::mutex> lock(m_);
    ++count_;
  }
  cv_.notify_one();
}

Thread::~Thread() { join(); }

bool Thread::create(Entry entry, void* arg) {
  if (!entry || thread_.joinable()) return false;
  entry_ = entry;
  arg_ = arg;
  try {
    thread_ = std::thread(&Thread::run, this);
  } catch (...) {
    return false;
  }
  // Wait for the thread to publish its id, so that priorities can be set
  // as soon as create returns.
  std::unique_lock<std::mutex> lock(started_m_);
  started_cv_.wait(lock, [this] { return tid_.load() != 0; });
  return true;
}

void Thread::run(Thread* self) {
  {
    std::lock_guard<std::mutex> lock(self->started_m_);
    self->tid_.store(currentTid());
  }
  self->started_cv_.notify_all();
  self->entry_(self->arg_);
}

void Thread::join() {
  if (!thread_.joinable()) return;
  // A thread cannot wait for itself; one that drops its own wrapper is let go.
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
    return;
  }
  thread_.join();
}

int Thread::niceForIndex(int index) {
  index = std::clamp(index, 0, 6);
  return std::clamp(kBaseNice + kNiceOffset[index], minimumNice(), 19);
}

int Thread::getPriority() const {
  int tid = tid_.load();
  errno = 0;
  int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
  if (errno != 0) return kNormal;
  int last = lastIndex_.load();
  if (niceForIndex(last) == nice) return last;
  // Prefer normal, then the levels nearest to it.
  for (int index : {kNormal, kAboveNormal, kBelowNormal, kHighest, kLowest, kTimeCritical, kIdle}) {
    if (niceForIndex(index) == nice) return index;
  }
  return nice;
}

int Thread::setPriority(int index) {
  int previous = getPriority();
  int tid = tid_.load();
  if (tid == 0) return previous;
  index = std::clamp(index, 0, 6);
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid), niceForIndex(index)) == 0) lastIndex_.store(index);
  return previous;
}
