// The capture back end of the sound service: one process-wide clock mixes
// every open capture device in steps of a period and records what would have
// been heard.  The clock runs at real time, faster, or only when stepped.
#include <chrono>
#include <condition_variable>
#include <thread>

#include "platform/sound_internal.h"

namespace platform::soundimpl {

namespace {

class CaptureService {
 public:
  ~CaptureService() {
    std::lock_guard<std::mutex> life(life_);
    stopClock();
  }

  void configure(const SoundCaptureOptions& o) {
    std::lock_guard<std::mutex> lock(m_);
    opts_ = o;
    if (opts_.periodMs == 0) opts_.periodMs = 1;
    format_ = pcmFormat(o.rate, o.channels, o.bits);
    recording_.clear();
    elapsed_ = 0;
    cv_.notify_all();
  }

  SoundCaptureOptions options() {
    std::lock_guard<std::mutex> lock(m_);
    return opts_;
  }
  WAVEFORMATEX format() {
    std::lock_guard<std::mutex> lock(m_);
    return format_;
  }
  DWORD periodFrames() {
    std::lock_guard<std::mutex> lock(m_);
    return periodFramesLocked();
  }

  void add(Core* core) {
    std::lock_guard<std::mutex> life(life_);
    bool start;
    {
      std::lock_guard<std::mutex> lock(m_);
      cores_.push_back(core);
      start = !running_;
    }
    if (start) {
      if (clock_.joinable()) clock_.join();
      {
        std::lock_guard<std::mutex> lock(m_);
        running_ = true;
        stop_ = false;
      }
      clock_ = std::thread([this] { run(); });
    }
  }

  void remove(Core* core) {
    std::lock_guard<std::mutex> life(life_);
    bool last;
    {
      // Taking the lock also waits for a clock step that may be mixing this core.
      std::lock_guard<std::mutex> lock(m_);
      std::erase(cores_, core);
      last = cores_.empty();
    }
    if (last) stopClock();
  }

  std::vector<uint8_t> take() {
    std::lock_guard<std::mutex> lock(m_);
    std::vector<uint8_t> out;
    out.swap(recording_);
    return out;
  }

  uint64_t elapsed() {
    std::lock_guard<std::mutex> lock(m_);
    return elapsed_;
  }

  void advance(DWORD ms) {
    std::lock_guard<std::mutex> lock(m_);
    uint64_t frames = static_cast<uint64_t>(format_.nSamplesPerSec) * ms / 1000;
    while (frames > 0) {
      DWORD n = static_cast<DWORD>(std::min<uint64_t>(frames, periodFramesLocked()));
      stepLocked(n);
      frames -= n;
    }
  }

  void loseBuffers() {
    std::lock_guard<std::mutex> lock(m_);
    for (Core* c : cores_) {
      std::lock_guard<std::mutex> cl(c->m);
      c->markAllLost();
    }
  }

 private:
  DWORD periodFramesLocked() const {
    DWORD f = static_cast<DWORD>(static_cast<uint64_t>(format_.nSamplesPerSec) * opts_.periodMs / 1000);
    return f ? f : 1;
  }

  void stopClock() {
    {
      std::lock_guard<std::mutex> lock(m_);
      stop_ = true;
      running_ = false;
      cv_.notify_all();
    }
    if (clock_.joinable()) clock_.join();
  }

  // One step of the clock: mixes every device and records the mix when
  // something played.
  void stepLocked(DWORD frames) {
    const size_t values = static_cast<size_t>(frames) * format_.nChannels;
    acc_.assign(values, 0);
    bool any = false;
    for (Core* c : cores_) any |= c->mixInto(acc_.data(), frames, format_);
    elapsed_ += frames;
    if (any) {
      size_t at = recording_.size();
      recording_.resize(at + static_cast<size_t>(frames) * format_.nBlockAlign);
      storeMix(acc_.data(), frames, format_, recording_.data() + at);
    }
  }

  void run() {
    using clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(m_);
    auto next = clock::now();
    while (!stop_) {
      if (opts_.speed <= 0) {
        // Stepped by hand only: wait for a new configuration or the stop.
        cv_.wait(lock);
        next = clock::now();
        continue;
      }
      const auto period = std::chrono::duration_cast<clock::duration>(
          std::chrono::duration<double, std::milli>(opts_.periodMs / opts_.speed));
      next += period;
      cv_.wait_until(lock, next, [&] { return stop_; });
      if (stop_) break;
      stepLocked(periodFramesLocked());
      // Fallen far behind (the machine was busy): carry on from now rather
      // than rushing through the backlog.
      if (clock::now() - next > 4 * period) next = clock::now();
    }
  }

  std::mutex life_;  // serialises starting and stopping the clock thread
  std::mutex m_;
  std::condition_variable cv_;
  SoundCaptureOptions opts_;
  WAVEFORMATEX format_ = pcmFormat(44100, 2, 16);
  std::vector<Core*> cores_;
  std::vector<uint8_t> recording_;
  std::vector<int32_t> acc_;
  uint64_t elapsed_ = 0;
  std::thread clock_;
  bool running_ = false;
  bool stop_ = false;
};

CaptureService& service() {
  static CaptureService s;
  return s;
}

class CaptureOutput final : public Output {
 public:
  explicit CaptureOutput(Core* core) : core_(core) {}
  ~CaptureOutput() override { close(); }

  bool open(const WAVEFORMATEX&) override {
    std::lock_guard<std::mutex> lock(m_);
    if (open_) return true;
    service().add(core_);
    open_ = true;
    return true;
  }
  void close() override {
    std::lock_guard<std::mutex> lock(m_);
    if (!open_) return;
    service().remove(core_);
    open_ = false;
  }
  bool isOpen() const override {
    std::lock_guard<std::mutex> lock(m_);
    return open_;
  }
  WAVEFORMATEX format() const override { return service().format(); }
  DWORD periodFrames() const override { return service().periodFrames(); }
  bool deviceLost() override { return false; }

 private:
  Core* core_;
  mutable std::mutex m_;
  bool open_ = false;
};

}  // namespace

void captureConfigure(const SoundCaptureOptions& options) { service().configure(options); }
SoundCaptureOptions captureOptions() { return service().options(); }

std::unique_ptr<Output> makeCaptureOutput(Core* core) { return std::make_unique<CaptureOutput>(core); }

}  // namespace platform::soundimpl

namespace platform {

WAVEFORMATEX soundCaptureFormat() { return soundimpl::service().format(); }
std::vector<uint8_t> soundCaptureTake() { return soundimpl::service().take(); }
uint64_t soundCaptureFramesElapsed() { return soundimpl::service().elapsed(); }
void soundCaptureAdvance(DWORD ms) { soundimpl::service().advance(ms); }
void soundCaptureLoseBuffers() { soundimpl::service().loseBuffers(); }

}  // namespace platform
