// The DirectSound-shaped objects and the mixer shared by both back ends.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <string>

#include "platform/files.h"
#include "platform/sound.h"
#include "platform/sound_internal.h"
#include "platform/threadannotations.h"

namespace platform {

WAVEFORMATEX pcmFormat(DWORD rate, WORD channels, WORD bits) {
  WAVEFORMATEX f;
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = bits;
  f.nBlockAlign = static_cast<WORD>(bits / 8 * channels);
  f.nAvgBytesPerSec = rate * f.nBlockAlign;
  f.cbSize = 0;
  return f;
}

bool isValidPcmFormat(const WAVEFORMATEX& f) {
  return f.wFormatTag == WAVE_FORMAT_PCM && (f.nChannels == 1 || f.nChannels == 2) &&
         (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) && f.nSamplesPerSec >= 100 && f.nSamplesPerSec <= 200000 &&
         f.nBlockAlign == f.wBitsPerSample / 8 * f.nChannels && f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign;
}

namespace soundimpl {

namespace {

// One sample frame of `src` at p, as `dch` values at 16-bit scale.
inline void readFrame(const uint8_t* p, const WAVEFORMATEX& src, WORD dch, int32_t* v) {
  int32_t s0, s1;
  if (src.wBitsPerSample == 16) {
    int16_t a, b;
    std::memcpy(&a, p, 2);
    s0 = a;
    if (src.nChannels == 2) {
      std::memcpy(&b, p + 2, 2);
      s1 = b;
    } else {
      s1 = s0;
    }
  } else {
    s0 = (static_cast<int32_t>(p[0]) - 128) * 256;
    s1 = src.nChannels == 2 ? (static_cast<int32_t>(p[1]) - 128) * 256 : s0;
  }
  if (dch == 1) {
    v[0] = src.nChannels == 2 ? (s0 + s1) / 2 : s0;
  } else {
    v[0] = s0;
    v[1] = s1;
  }
}

}  // namespace

void storeMix(const int32_t* acc, DWORD frames, const WAVEFORMATEX& device, uint8_t* out) {
  const size_t n = static_cast<size_t>(frames) * device.nChannels;
  if (device.wBitsPerSample == 16) {
    for (size_t i = 0; i < n; ++i) {
      int16_t s = static_cast<int16_t>(std::clamp<int32_t>(acc[i], -32768, 32767));
      std::memcpy(out + 2 * i, &s, 2);
    }
  } else {
    for (size_t i = 0; i < n; ++i) {
      int32_t s = std::clamp<int32_t>(acc[i], -32768, 32767);
      out[i] = static_cast<uint8_t>((s >> 8) + 128);
    }
  }
}

class DirectSoundObject;

class SoundBuffer final : public IDirectSoundBuffer {
 public:
  // A primary buffer reads the cooperative level of the object that made
  // it (`level`); secondary buffers have none.
  SoundBuffer(std::shared_ptr<Core> core, std::shared_ptr<const std::atomic<DWORD>> level, const WAVEFORMATEX& format,
              DWORD bytes)
      : core_(std::move(core)), level_(std::move(level)), primary_(level_ != nullptr), format_(format) {
    if (!primary_) {
      data_.assign(bytes, format_.wBitsPerSample == 8 ? 0x80 : 0);
      staging_.assign(bytes, 0);
      std::lock_guard<std::mutex> lock(core_->m);
      core_->buffers.push_back(this);
    }
  }
  ~SoundBuffer() override {
    if (!primary_) {
      std::lock_guard<std::mutex> lock(core_->m);
      auto& v = core_->buffers;
      v.erase(std::remove(v.begin(), v.end(), this), v.end());
    }
  }

  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG r = --refs_;
    if (r == 0) delete this;
    return r;
  }

  HRESULT GetCurrentPosition(DWORD* play, DWORD* write) override {
    std::lock_guard<std::mutex> lock(core_->m);
    if (primary_) {
      if (play) *play = 0;
      if (write) *write = 0;
      return DS_OK;
    }
    if (play) *play = play_;
    if (write) *write = playing_ ? (play_ + leadBytes()) % size() : play_;
    return DS_OK;
  }

  HRESULT GetFormat(WAVEFORMATEX* format, DWORD size, DWORD* written) override {
    if (!format && !written) return DSERR_INVALIDPARAM;
    if (written) *written = sizeof(WAVEFORMATEX);
    if (!format) return DS_OK;
    if (size < sizeof(WAVEFORMATEX)) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> lock(core_->m);
    *format = primary_ ? core_->primaryFormat : format_;
    return DS_OK;
  }

  HRESULT GetStatus(DWORD* status) override {
    if (!status) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> lock(core_->m);
    checkDevice();
    *status = (playing_ ? DSBSTATUS_PLAYING : 0) | (playing_ && looping_ ? DSBSTATUS_LOOPING : 0) |
              (lost_ ? DSBSTATUS_BUFFERLOST : 0);
    return DS_OK;
  }

  HRESULT Lock(DWORD offset, DWORD bytes, void** p1, DWORD* n1, void** p2, DWORD* n2, DWORD flags) override {
    if (!p1 || !n1) return DSERR_INVALIDPARAM;
    if (primary_) return level_->load() < DSSCL_WRITEPRIMARY ? DSERR_PRIOLEVELNEEDED : DSERR_UNSUPPORTED;
    std::lock_guard<std::mutex> lock(core_->m);
    checkDevice();
    if (lost_) return DSERR_BUFFERLOST;
    const DWORD sz = size();
    if (flags & DSBLOCK_ENTIREBUFFER) {
      offset = 0;
      bytes = sz;
    } else if (flags & DSBLOCK_FROMWRITECURSOR) {
      offset = playing_ ? (play_ + leadBytes()) % sz : play_;
    }
    if (offset >= sz || bytes == 0 || bytes > sz) return DSERR_INVALIDPARAM;
    const DWORD first = std::min(bytes, sz - offset);
    const DWORD second = bytes - first;
    if (second && (!p2 || !n2)) return DSERR_INVALIDPARAM;
    std::memcpy(staging_.data() + offset, data_.data() + offset, first);
    if (second) std::memcpy(staging_.data(), data_.data(), second);
    *p1 = staging_.data() + offset;
    *n1 = first;
    if (p2) *p2 = second ? staging_.data() : nullptr;
    if (n2) *n2 = second;
    return DS_OK;
  }

  HRESULT Unlock(void* p1, DWORD n1, void* p2, DWORD n2) override {
    if (primary_) return DSERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(core_->m);
    if (!copyBack(p1, n1) || !copyBack(p2, n2)) return DSERR_INVALIDPARAM;
    return DS_OK;
  }

  HRESULT Play(DWORD, DWORD, DWORD flags) override {
    std::lock_guard<std::mutex> lock(core_->m);
    if (primary_) return DS_OK;  // the device runs while it is open
    checkDevice();
    if (lost_) return DSERR_BUFFERLOST;
    playing_ = true;
    looping_ = (flags & DSBPLAY_LOOPING) != 0;
    return DS_OK;
  }

  HRESULT SetCurrentPosition(DWORD play) override {
    if (primary_) return DSERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(core_->m);
    if (play >= size()) return DSERR_INVALIDPARAM;
    play_ = play - play % format_.nBlockAlign;
    frac_ = 0.0;
    return DS_OK;
  }

  HRESULT SetFormat(const WAVEFORMATEX* format) override {
    if (!primary_) return DSERR_INVALIDCALL;
    if (!format) return DSERR_INVALIDPARAM;
    bool reopen = false;
    {
      std::lock_guard<std::mutex> lock(core_->m);
      if (level_->load() < DSSCL_PRIORITY) return DSERR_PRIOLEVELNEEDED;
      if (!isValidPcmFormat(*format)) return DSERR_BADFORMAT;
      const WAVEFORMATEX& old = core_->primaryFormat;
      reopen = !core_->capture && (old.nSamplesPerSec != format->nSamplesPerSec || old.nChannels != format->nChannels ||
                                   old.wBitsPerSample != format->wBitsPerSample);
      core_->primaryFormat = *format;
    }
    // The device runs in the primary format: reopen it when it changed.
    if (reopen && core_->output->isOpen()) {
      core_->output->close();
      if (!core_->openOutput()) return DSERR_BADFORMAT;
    }
    return DS_OK;
  }

  HRESULT Stop() override {
    std::lock_guard<std::mutex> lock(core_->m);
    playing_ = false;
    return DS_OK;
  }

  HRESULT Restore() override {
    {
      std::lock_guard<std::mutex> lock(core_->m);
      if (!lost_) return DS_OK;
    }
    Output* out = core_->output.get();
    if (out->deviceLost()) {
      out->close();
      if (!core_->openOutput()) return DSERR_BUFFERLOST;
    }
    std::lock_guard<std::mutex> lock(core_->m);
    lost_ = false;
    return DS_OK;
  }

  // Under the core's mutex.
  void markLost() {
    lost_ = true;
    playing_ = false;
  }

  // Under the core's mutex: adds this buffer's next `frames` device frames.
  bool render(int32_t* acc, DWORD frames, const WAVEFORMATEX& dev) {
    if (!playing_ || lost_ || primary_) return false;
    const DWORD block = format_.nBlockAlign;
    const DWORD sz = size();
    const WORD dch = dev.nChannels;
    const double step = static_cast<double>(format_.nSamplesPerSec) / dev.nSamplesPerSec;
    int32_t cur[2], next[2];
    for (DWORD f = 0; f < frames && playing_; ++f) {
      readFrame(data_.data() + play_, format_, dch, cur);
      if (frac_ == 0.0) {
        for (WORD c = 0; c < dch; ++c) acc[f * dch + c] += cur[c];
      } else {
        DWORD np = play_ + block;
        if (np >= sz) np = looping_ ? 0 : play_;
        readFrame(data_.data() + np, format_, dch, next);
        for (WORD c = 0; c < dch; ++c)
          acc[f * dch + c] += cur[c] + static_cast<int32_t>(std::lround((next[c] - cur[c]) * frac_));
      }
      frac_ += step;
      while (frac_ >= 1.0) {
        frac_ -= 1.0;
        play_ += block;
        if (play_ >= sz) {
          play_ = 0;
          if (!looping_) {
            playing_ = false;
            frac_ = 0.0;
            break;
          }
        }
      }
    }
    return true;
  }

 private:
  DWORD size() const { return static_cast<DWORD>(data_.size()); }

  // Bytes of this buffer the device takes at once: the write cursor's lead.
  DWORD leadBytes() const {
    const WAVEFORMATEX& dev = core_->deviceFormat;
    double frames =
        static_cast<double>(core_->devicePeriod) * format_.nSamplesPerSec / std::max<DWORD>(1, dev.nSamplesPerSec);
    DWORD lead = static_cast<DWORD>(frames + 1) * format_.nBlockAlign;
    return std::min(lead, size() / 2 - size() / 2 % format_.nBlockAlign);
  }

  // Under the core's mutex: a device that went away loses every buffer.
  void checkDevice() {
    if (!lost_ && core_->output->deviceLost()) core_->markAllLost();
  }

  bool copyBack(void* p, DWORD n) {
    if (!p) return n == 0;
    uint8_t* b = static_cast<uint8_t*>(p);
    if (b < staging_.data() || b + n > staging_.data() + staging_.size()) return false;
    size_t off = static_cast<size_t>(b - staging_.data());
    std::memcpy(data_.data() + off, b, n);
    return true;
  }

  std::shared_ptr<Core> core_;
  std::shared_ptr<const std::atomic<DWORD>> level_;
  std::atomic<ULONG> refs_{1};
  const bool primary_;
  WAVEFORMATEX format_;
  std::vector<uint8_t> data_;     // what the device plays (under the core's mutex)
  std::vector<uint8_t> staging_;  // what Lock hands out
  // Under the core's mutex:
  DWORD play_ = 0;
  double frac_ = 0.0;  // position between two source frames when rates differ
  bool playing_ = false;
  bool looping_ = false;
  bool lost_ = false;
};

Core::Core(std::unique_ptr<Output> out) : output(std::move(out)) {
  // The primary format of a freshly created device.
  primaryFormat = pcmFormat(22050, 2, 8);
  deviceFormat = primaryFormat;
}

Core::~Core() {
  if (output) output->close();
  output.reset();
  if (!capture) sdlRelease();
}

bool Core::mixInto(int32_t* acc, DWORD frames, const WAVEFORMATEX& device) {
  std::lock_guard<std::mutex> lock(m);
  bool any = false;
  for (SoundBuffer* b : buffers) any |= b->render(acc, frames, device);
  return any;
}

bool Core::openOutput() {
  if (output->isOpen()) return true;
  WAVEFORMATEX primary;
  {
    std::lock_guard<std::mutex> lock(m);
    primary = primaryFormat;
  }
  if (!output->open(primary)) return false;
  const WAVEFORMATEX f = output->format();
  const DWORD period = output->periodFrames();
  std::lock_guard<std::mutex> lock(m);
  deviceFormat = f;
  devicePeriod = period;
  return true;
}

void Core::markAllLost() {
  for (SoundBuffer* b : buffers) b->markLost();
}

class DirectSoundObject final : public IDirectSound {
 public:
  explicit DirectSoundObject(std::shared_ptr<Core> core) : core_(std::move(core)) {}

  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG r = --refs_;
    if (r == 0) delete this;
    return r;
  }

  HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, IDirectSoundBuffer** buffer, void* outer) override {
    if (!desc || !buffer || outer || desc->dwSize != sizeof(DSBUFFERDESC)) return DSERR_INVALIDPARAM;
    *buffer = nullptr;
    if (desc->dwFlags & DSBCAPS_PRIMARYBUFFER) {
      if (desc->dwBufferBytes != 0 || desc->lpwfxFormat) return DSERR_INVALIDPARAM;
      *buffer = new SoundBuffer(core_, level_, WAVEFORMATEX{}, 0);
      return DS_OK;
    }
    if (!desc->lpwfxFormat || !isValidPcmFormat(*desc->lpwfxFormat)) return DSERR_BADFORMAT;
    const WAVEFORMATEX f = *desc->lpwfxFormat;
    DWORD bytes = desc->dwBufferBytes - desc->dwBufferBytes % f.nBlockAlign;
    if (desc->dwBufferBytes < DSBSIZE_MIN || desc->dwBufferBytes > DSBSIZE_MAX || bytes == 0) return DSERR_INVALIDPARAM;
    if (core_->capture && captureOptions().failSecondary) return DSERR_ALLOCATED;
    if (!core_->openOutput()) return DSERR_NODRIVER;
    *buffer = new SoundBuffer(core_, nullptr, f, bytes);
    return DS_OK;
  }

  HRESULT SetCooperativeLevel(HWND, DWORD level) override {
    if (level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY) return DSERR_INVALIDPARAM;
    level_->store(level);
    return DS_OK;
  }

 private:
  ~DirectSoundObject() override = default;
  std::shared_ptr<Core> core_;
  // Each object has its own level, also where objects share a device.
  std::shared_ptr<std::atomic<DWORD>> level_ = std::make_shared<std::atomic<DWORD>>(0);
  std::atomic<ULONG> refs_{1};
};

namespace {
std::atomic<bool> g_useCapture{false};

// The devices opened so far, by back end and name.  A device stays open
// while this table holds it, also when no DirectSound object uses it, so
// that the next song's object finds it running: closing and reopening it
// between songs is a gap and a click on real hardware.  The table is never
// destroyed: at exit the system closes what is still open.
struct OpenDevices {
  CheckedMutex m;
  std::map<std::string, std::shared_ptr<Core>> cores LM_GUARDED_BY(m);
};
OpenDevices& openDevices() {
  static auto* devices = new OpenDevices;
  return *devices;
}

// The device's core when it is open already (nothing found: null).
std::shared_ptr<Core> openDevice(const std::string& key) {
  OpenDevices& d = openDevices();
  CheckedLock lock(d.m);
  auto it = d.cores.find(key);
  if (it == d.cores.end()) return nullptr;
  std::shared_ptr<Core> core = it->second;
  return core;
}

void keepDevice(const std::string& key, const std::shared_ptr<Core>& core) {
  OpenDevices& d = openDevices();
  CheckedLock lock(d.m);
  d.cores[key] = core;
}

GUID captureGuid(int index) {
  GUID g;
  g.Data1 = static_cast<uint32_t>(index);
  g.Data2 = 0x4350;  // "CP"
  std::memcpy(g.Data4, "LUMENMRE", 8);
  return g;
}
}  // namespace

}  // namespace soundimpl

using namespace soundimpl;

void soundCloseIdleDevices() {
  std::vector<std::shared_ptr<Core>> idle;
  {
    OpenDevices& d = openDevices();
    CheckedLock lock(d.m);
    // No object holds a core that only the table holds, and none can take
    // it while the table is locked.
    for (auto it = d.cores.begin(); it != d.cores.end();) {
      if (it->second.use_count() == 1) {
        idle.push_back(std::move(it->second));
        it = d.cores.erase(it);
      } else {
        ++it;
      }
    }
  }
  // Closed here, outside the table's lock (closing waits for the device).
  idle.clear();
}

void soundUseSdl() {
  soundCloseIdleDevices();
  g_useCapture = false;
}
bool soundUsesCapture() { return g_useCapture; }

// Declared in sound_capture.cpp.
namespace soundimpl {
void captureConfigure(const SoundCaptureOptions& options);
}

void soundUseCapture(const SoundCaptureOptions& options) {
  soundCloseIdleDevices();
  captureConfigure(options);
  g_useCapture = true;
}

HRESULT DirectSoundEnumerateA(LPDSENUMCALLBACKA callback, void* context) {
  if (!callback) return DSERR_INVALIDPARAM;
  if (!g_useCapture) return sdlEnumerate(callback, context);
  const SoundCaptureOptions opts = captureOptions();
  if (opts.failEnumeration) return DSERR_NODRIVER;
  for (int i = 0; i < opts.devices; ++i) {
    if (i == 0) {
      if (!callback(nullptr, "Primary Sound Driver", "", context)) break;
    } else {
      GUID g = captureGuid(i);
      std::string name = "Capture device " + std::to_string(i);
      if (!callback(&g, name.c_str(), "capture", context)) break;
    }
  }
  return DS_OK;
}

HRESULT DirectSoundCreate(const GUID* device, IDirectSound** ds, void* outer) {
  if (!ds || outer) return DSERR_INVALIDPARAM;
  *ds = nullptr;
  if (g_useCapture) {
    const SoundCaptureOptions opts = captureOptions();
    if (opts.failCreate || opts.devices <= 0) return DSERR_NODRIVER;
    if (device) {
      bool found = false;
      for (int i = 1; i < opts.devices && !found; ++i) found = captureGuid(i) == *device;
      if (!found) return DSERR_NODRIVER;
    }
    const std::string key = "capture:" + (device ? std::to_string(device->Data1) : std::string());
    std::shared_ptr<Core> core = openDevice(key);
    if (!core) {
      core = std::make_shared<Core>(nullptr);
      core->capture = true;
      core->output = makeCaptureOutput(core.get());
      keepDevice(key, core);
    }
    *ds = new DirectSoundObject(core);
    return DS_OK;
  }
  std::string name;
  bool isDefault = false;
  HRESULT hr = sdlResolveDevice(device, &name, &isDefault);
  if (FAILED(hr)) return hr;
  // Resolving took a reference to SDL's audio subsystem for a new core.
  const std::string key = "sdl:" + (isDefault ? std::string() : name);
  std::shared_ptr<Core> core = openDevice(key);
  if (core) {
    sdlRelease();  // the open core holds its own
    // A device that went away is opened afresh by the next buffer.
    if (core->output->isOpen() && core->output->deviceLost()) core->output->close();
  } else {
    core = std::make_shared<Core>(nullptr);
    core->output = makeSdlOutput(core.get(), isDefault ? nullptr : name.c_str());
    keepDevice(key, core);
  }
  *ds = new DirectSoundObject(core);
  return DS_OK;
}

bool writeWaveFile(const std::string& path, const WAVEFORMATEX& format, const uint8_t* data, size_t bytes) {
  if (bytes > 0xFFFFFFFFu - 36) return false;
  std::vector<uint8_t> file(44 + bytes);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  auto put16 = [&](size_t at, uint16_t v) {
    file[at] = static_cast<uint8_t>(v);
    file[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  std::memcpy(&file[0], "RIFF", 4);
  put32(4, static_cast<uint32_t>(36 + bytes));
  std::memcpy(&file[8], "WAVEfmt ", 8);
  put32(16, 16);
  put16(20, WAVE_FORMAT_PCM);
  put16(22, format.nChannels);
  put32(24, format.nSamplesPerSec);
  put32(28, format.nAvgBytesPerSec);
  put16(32, format.nBlockAlign);
  put16(34, format.wBitsPerSample);
  std::memcpy(&file[36], "data", 4);
  put32(40, static_cast<uint32_t>(bytes));
  if (bytes) std::memcpy(&file[44], data, bytes);
  return writeFileAtomically(path, file.data(), file.size());
}

}  // namespace platform
