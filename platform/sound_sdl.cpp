// The SDL2 back end of the sound service: an SDL audio device per
// DirectSound object, opened in the primary format when the first secondary
// buffer is made; its callback mixes the playing buffers.
#include <SDL.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/sound_internal.h"

namespace platform::soundimpl {

namespace {

// SDL's audio subsystem is reference counted per caller; the count is kept
// under one lock so that engine threads may start and stop it.
std::mutex g_sdlMutex;

bool sdlAcquire() {
  std::lock_guard<std::mutex> lock(g_sdlMutex);
  return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

GUID sdlGuid(int index) {
  GUID g;
  g.Data1 = static_cast<uint32_t>(index + 1);
  g.Data2 = 0x5344;  // "SD"
  std::memcpy(g.Data4, "LUMENMRE", 8);
  return g;
}

class SdlOutput final : public Output {
 public:
  SdlOutput(Core* core, const char* name) : core_(core), name_(name ? name : ""), isDefault_(name == nullptr) {}
  ~SdlOutput() override { close(); }

  // Never called with the core's mutex held, and nothing here is held while
  // SDL takes its device lock: the callback takes the core's mutex under it.
  bool open(const WAVEFORMATEX& primary) override {
    std::lock_guard<std::mutex> life(openMutex_);
    if (dev_.load()) return true;
    SDL_AudioSpec want{}, have{};
    want.freq = static_cast<int>(primary.nSamplesPerSec);
    want.format = primary.wBitsPerSample == 16 ? AUDIO_S16SYS : AUDIO_U8;
    want.channels = static_cast<Uint8>(primary.nChannels);
    want.samples = 1024;
    want.callback = &SdlOutput::callback;
    want.userdata = this;
    {
      std::lock_guard<std::mutex> lock(m_);
      fmt_ = primary;
    }
    acc_.assign(static_cast<size_t>(want.samples) * 2 * primary.nChannels, 0);
    // No changes allowed: SDL converts the primary format to the hardware's.
    SDL_AudioDeviceID dev = SDL_OpenAudioDevice(isDefault_ ? nullptr : name_.c_str(), 0, &want, &have, 0);
    if (!dev) return false;
    {
      std::lock_guard<std::mutex> lock(m_);
      period_ = have.samples ? have.samples : want.samples;
    }
    dev_.store(dev);
    SDL_PauseAudioDevice(dev, 0);
    return true;
  }

  void close() override {
    std::lock_guard<std::mutex> life(openMutex_);
    // Waits for a running callback to finish.
    if (SDL_AudioDeviceID dev = dev_.exchange(0)) SDL_CloseAudioDevice(dev);
  }

  bool isOpen() const override { return dev_.load() != 0; }

  WAVEFORMATEX format() const override {
    std::lock_guard<std::mutex> lock(m_);
    return fmt_;
  }

  DWORD periodFrames() const override {
    std::lock_guard<std::mutex> lock(m_);
    return period_;
  }

  bool deviceLost() override {
    SDL_AudioDeviceID dev = dev_.load();
    return dev != 0 && SDL_GetAudioDeviceStatus(dev) == SDL_AUDIO_STOPPED;
  }

 private:
  static void SDLCALL callback(void* userdata, Uint8* stream, int len) {
    auto* self = static_cast<SdlOutput*>(userdata);
    // fmt_ and acc_ only change while the device is closed, when no callback
    // runs (opening the device orders them before its first callback).
    const WAVEFORMATEX f = self->fmt_;
    const DWORD frames = static_cast<DWORD>(len) / f.nBlockAlign;
    const size_t values = static_cast<size_t>(frames) * f.nChannels;
    if (self->acc_.size() < values) self->acc_.resize(values);
    std::fill(self->acc_.begin(), self->acc_.begin() + values, 0);
    self->core_->mixInto(self->acc_.data(), frames, f);
    storeMix(self->acc_.data(), frames, f, stream);
    const size_t done = static_cast<size_t>(frames) * f.nBlockAlign;
    if (done < static_cast<size_t>(len)) std::memset(stream + done, f.wBitsPerSample == 8 ? 0x80 : 0, len - done);
  }

  Core* core_;
  std::string name_;
  bool isDefault_;
  std::mutex openMutex_;  // serialises open and close
  mutable std::mutex m_;  // the format and period
  std::atomic<SDL_AudioDeviceID> dev_{0};
  WAVEFORMATEX fmt_;
  DWORD period_ = 1024;
  std::vector<int32_t> acc_;
};

}  // namespace

std::unique_ptr<Output> makeSdlOutput(Core* core, const char* deviceName) {
  return std::make_unique<SdlOutput>(core, deviceName);
}

void sdlRelease() {
  std::lock_guard<std::mutex> lock(g_sdlMutex);
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

HRESULT sdlEnumerate(LPDSENUMCALLBACKA callback, void* context) {
  // No audio subsystem is a machine without sound: nothing to list.
  if (!sdlAcquire()) return DS_OK;
  std::vector<std::string> names;
  std::string module;
  {
    std::lock_guard<std::mutex> lock(g_sdlMutex);
    int n = SDL_GetNumAudioDevices(0);
    for (int i = 0; i < n; ++i) {
      const char* name = SDL_GetAudioDeviceName(i, 0);
      names.push_back(name ? name : "");
    }
    const char* driver = SDL_GetCurrentAudioDriver();
    module = driver ? driver : "";
  }
  if (callback(nullptr, "Primary Sound Driver", "", context)) {
    for (size_t i = 0; i < names.size(); ++i) {
      GUID g = sdlGuid(static_cast<int>(i));
      if (!callback(&g, names[i].c_str(), module.c_str(), context)) break;
    }
  }
  sdlRelease();
  return DS_OK;
}

HRESULT sdlResolveDevice(const GUID* guid, std::string* name, bool* isDefault) {
  if (!sdlAcquire()) return DSERR_NODRIVER;
  *isDefault = guid == nullptr;
  if (!guid) return DS_OK;
  std::lock_guard<std::mutex> lock(g_sdlMutex);
  int n = SDL_GetNumAudioDevices(0);
  for (int i = 0; i < n; ++i) {
    if (sdlGuid(i) == *guid) {
      const char* s = SDL_GetAudioDeviceName(i, 0);
      *name = s ? s : "";
      return DS_OK;
    }
  }
  // Not found: give back the subsystem reference taken above.
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  return DSERR_NODRIVER;
}

}  // namespace platform::soundimpl
