#include "platform/sound.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/testenv.h"

using namespace platform;

namespace {

struct Listed {
  bool hasGuid;
  std::string description;
};

BOOL collect(GUID* guid, const char* description, const char*, void* context) {
  static_cast<std::vector<Listed>*>(context)->push_back({guid != nullptr, description});
  return TRUE;
}

std::vector<Listed> enumerate(HRESULT* hr = nullptr) {
  std::vector<Listed> out;
  HRESULT r = DirectSoundEnumerateA(&collect, &out);
  if (hr) *hr = r;
  return out;
}

SoundCaptureOptions manualCapture() {
  SoundCaptureOptions o;
  o.speed = 0;  // stepped by the test
  return o;
}

// A DirectSound object with its primary format set, as a player sets it up.
struct Device {
  IDirectSound* ds = nullptr;
  IDirectSoundBuffer* primary = nullptr;

  Device() {
    EXPECT_EQ(DirectSoundCreate(nullptr, &ds, nullptr), DS_OK);
    if (!ds) return;
    EXPECT_EQ(ds->SetCooperativeLevel(0, DSSCL_PRIORITY), DS_OK);
    DSBUFFERDESC d;
    d.dwFlags = DSBCAPS_PRIMARYBUFFER;
    EXPECT_EQ(ds->CreateSoundBuffer(&d, &primary, nullptr), DS_OK);
    WAVEFORMATEX f = pcmFormat(44100, 2, 16);
    if (primary) {
      EXPECT_EQ(primary->SetFormat(&f), DS_OK);
    }
  }
  ~Device() {
    if (primary) primary->Release();
    if (ds) ds->Release();
  }
  IDirectSoundBuffer* secondary(const WAVEFORMATEX& f, DWORD bytes) {
    WAVEFORMATEX copy = f;
    DSBUFFERDESC d;
    d.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS | DSBCAPS_CTRLVOLUME;
    d.dwBufferBytes = bytes;
    d.lpwfxFormat = &copy;
    IDirectSoundBuffer* b = nullptr;
    EXPECT_EQ(ds->CreateSoundBuffer(&d, &b, nullptr), DS_OK);
    return b;
  }
};

// Writes bytes at offset through Lock/Unlock.
HRESULT writeAt(IDirectSoundBuffer* b, DWORD offset, const std::vector<uint8_t>& bytes) {
  void *p1, *p2;
  DWORD n1, n2;
  HRESULT hr = b->Lock(offset, static_cast<DWORD>(bytes.size()), &p1, &n1, &p2, &n2, 0);
  if (FAILED(hr)) return hr;
  std::memcpy(p1, bytes.data(), n1);
  if (n2) std::memcpy(p2, bytes.data() + n1, n2);
  return b->Unlock(p1, n1, p2, n2);
}

// 16-bit stereo frames whose left value is its index and right value -index.
std::vector<uint8_t> rampStereo(int frames, int start = 1) {
  std::vector<uint8_t> out(frames * 4);
  for (int i = 0; i < frames; ++i) {
    int16_t l = static_cast<int16_t>(start + i), r = static_cast<int16_t>(-(start + i));
    std::memcpy(&out[i * 4], &l, 2);
    std::memcpy(&out[i * 4 + 2], &r, 2);
  }
  return out;
}

std::vector<int16_t> samples(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> s(bytes.size() / 2);
  std::memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

class SoundCapture : public ::testing::Test {
 protected:
  void SetUp() override { soundUseCapture(manualCapture()); }
  void TearDown() override { soundUseSdl(); }
};

}  // namespace

TEST_F(SoundCapture, EnumerationListsThePrimaryDriverFirst) {
  SoundCaptureOptions o = manualCapture();
  o.devices = 3;
  soundUseCapture(o);
  HRESULT hr;
  auto list = enumerate(&hr);
  EXPECT_EQ(hr, DS_OK);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_FALSE(list[0].hasGuid);
  EXPECT_EQ(list[0].description, "Primary Sound Driver");
  EXPECT_TRUE(list[1].hasGuid);
  EXPECT_TRUE(list[2].hasGuid);

  o.devices = 0;  // a machine without sound lists nothing and can't create
  soundUseCapture(o);
  EXPECT_TRUE(enumerate(&hr).empty());
  EXPECT_EQ(hr, DS_OK);
  IDirectSound* ds = nullptr;
  EXPECT_EQ(DirectSoundCreate(nullptr, &ds, nullptr), DSERR_NODRIVER);
  EXPECT_EQ(ds, nullptr);

  o.devices = 1;
  o.failEnumeration = true;
  soundUseCapture(o);
  enumerate(&hr);
  EXPECT_TRUE(FAILED(hr));
}

TEST_F(SoundCapture, PrimaryFormatNeedsPriorityAndAValidFormat) {
  IDirectSound* ds = nullptr;
  ASSERT_EQ(DirectSoundCreate(nullptr, &ds, nullptr), DS_OK);
  DSBUFFERDESC d;
  d.dwFlags = DSBCAPS_PRIMARYBUFFER;
  IDirectSoundBuffer* primary = nullptr;
  ASSERT_EQ(ds->CreateSoundBuffer(&d, &primary, nullptr), DS_OK);
  WAVEFORMATEX f = pcmFormat(44100, 2, 16);
  EXPECT_EQ(primary->SetFormat(&f), DSERR_PRIOLEVELNEEDED);
  ASSERT_EQ(ds->SetCooperativeLevel(0, DSSCL_PRIORITY), DS_OK);
  WAVEFORMATEX bad = f;
  bad.nBlockAlign = 3;
  EXPECT_EQ(primary->SetFormat(&bad), DSERR_BADFORMAT);
  EXPECT_EQ(primary->SetFormat(&f), DS_OK);
  WAVEFORMATEX got;
  EXPECT_EQ(primary->GetFormat(&got, sizeof got, nullptr), DS_OK);
  EXPECT_EQ(got.nSamplesPerSec, 44100u);
  EXPECT_EQ(got.wBitsPerSample, 16);
  // The primary buffer isn't written directly at this level.
  void *p1, *p2;
  DWORD n1, n2;
  EXPECT_EQ(primary->Lock(0, 4, &p1, &n1, &p2, &n2, 0), DSERR_PRIOLEVELNEEDED);
  primary->Release();
  ds->Release();
}

TEST_F(SoundCapture, LockSplitsAtTheWrapAndDataCountsFromUnlock) {
  Device dev;
  IDirectSoundBuffer* b = dev.secondary(pcmFormat(44100, 2, 16), 1000);
  ASSERT_NE(b, nullptr);
  void *p1, *p2;
  DWORD n1, n2;
  ASSERT_EQ(b->Lock(900, 200, &p1, &n1, &p2, &n2, 0), DS_OK);
  EXPECT_EQ(n1, 100u);
  EXPECT_EQ(n2, 100u);
  EXPECT_NE(p2, nullptr);
  ASSERT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);
  ASSERT_EQ(b->Lock(0, 1000, &p1, &n1, &p2, &n2, 0), DS_OK);
  EXPECT_EQ(n1, 1000u);
  EXPECT_EQ(n2, 0u);
  EXPECT_EQ(p2, nullptr);
  ASSERT_EQ(b->Unlock(p1, n1, nullptr, 0), DS_OK);
  ASSERT_EQ(b->Lock(0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER), DS_OK);
  EXPECT_EQ(n1, 1000u);
  ASSERT_EQ(b->Unlock(p1, n1, nullptr, 0), DS_OK);
  EXPECT_EQ(b->Lock(1000, 4, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Lock(0, 1004, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);

  // Bytes written into a lock but not unlocked are never heard.
  ASSERT_EQ(b->Lock(0, 400, &p1, &n1, &p2, &n2, 0), DS_OK);
  std::memset(p1, 0x55, n1);
  ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  soundCaptureAdvance(2);  // 88 frames = 352 bytes
  auto heard = soundCaptureTake();
  ASSERT_EQ(heard.size(), 88u * 4);
  for (uint8_t v : heard) ASSERT_EQ(v, 0);
  ASSERT_EQ(b->Unlock(p1, n1, nullptr, 0), DS_OK);
  b->Release();
}

TEST_F(SoundCapture, LoopingBufferPlaysInOrderAndTheCursorFollows) {
  Device dev;
  IDirectSoundBuffer* b = dev.secondary(pcmFormat(44100, 2, 16), 1000 * 4);
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(writeAt(b, 0, rampStereo(1000)), DS_OK);
  DWORD play = 99, write = 99, status = 0;
  ASSERT_EQ(b->GetCurrentPosition(&play, &write), DS_OK);
  EXPECT_EQ(play, 0u);
  EXPECT_EQ(write, 0u);

  // Nothing playing: the clock runs, nothing is recorded.
  soundCaptureAdvance(10);
  EXPECT_TRUE(soundCaptureTake().empty());

  ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  ASSERT_EQ(b->GetStatus(&status), DS_OK);
  EXPECT_EQ(status, DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
  soundCaptureAdvance(10);  // 441 frames
  ASSERT_EQ(b->GetCurrentPosition(&play, &write), DS_OK);
  EXPECT_EQ(play, 441u * 4);
  EXPECT_GT(write, play);
  soundCaptureAdvance(20);  // 882 more: wraps past frame 1000
  ASSERT_EQ(b->GetCurrentPosition(&play, nullptr), DS_OK);
  EXPECT_EQ(play, (1323u - 1000u) * 4);
  auto s = samples(soundCaptureTake());
  ASSERT_EQ(s.size(), 1323u * 2);
  for (int i = 0; i < 1323; ++i) {
    int expect = i % 1000 + 1;
    ASSERT_EQ(s[2 * i], expect) << i;
    ASSERT_EQ(s[2 * i + 1], -expect) << i;
  }

  // Stop keeps the cursor; SetCurrentPosition moves it.
  ASSERT_EQ(b->Stop(), DS_OK);
  soundCaptureAdvance(10);
  ASSERT_EQ(b->GetCurrentPosition(&play, nullptr), DS_OK);
  EXPECT_EQ(play, 323u * 4);
  EXPECT_TRUE(soundCaptureTake().empty());
  ASSERT_EQ(b->SetCurrentPosition(0), DS_OK);

  // Without looping the buffer stops at its end.
  ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
  soundCaptureAdvance(30);
  ASSERT_EQ(b->GetStatus(&status), DS_OK);
  EXPECT_EQ(status, 0u);
  s = samples(soundCaptureTake());
  ASSERT_EQ(s.size(), 1323u * 2);
  EXPECT_EQ(s[2 * 999], 1000);
  EXPECT_EQ(s[2 * 1000], 0);  // the rest of that step is silence
  b->Release();
}

TEST_F(SoundCapture, BuffersAreConvertedToTheDeviceFormatAndMixed) {
  Device dev;
  // 22050 Hz mono 16-bit: each source frame lasts two device frames; the
  // frame between two sources is their midpoint.
  IDirectSoundBuffer* mono = dev.secondary(pcmFormat(22050, 1, 16), 200 * 2);
  std::vector<uint8_t> m(400);
  for (int i = 0; i < 200; ++i) {
    int16_t v = static_cast<int16_t>(i * 100);
    std::memcpy(&m[i * 2], &v, 2);
  }
  ASSERT_EQ(writeAt(mono, 0, m), DS_OK);
  // 44100 Hz stereo 8-bit: unsigned samples around 128.
  IDirectSoundBuffer* eight = dev.secondary(pcmFormat(44100, 2, 8), 400 * 2);
  std::vector<uint8_t> e(800);
  for (int i = 0; i < 400; ++i) {
    e[2 * i] = 129;      // +256
    e[2 * i + 1] = 127;  // -256
  }
  ASSERT_EQ(writeAt(eight, 0, e), DS_OK);
  ASSERT_EQ(mono->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  ASSERT_EQ(eight->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  soundCaptureAdvance(5);  // 220 device frames = 110 mono frames
  auto s = samples(soundCaptureTake());
  ASSERT_EQ(s.size(), 220u * 2);
  for (int f = 0; f < 220; ++f) {
    int src = f / 2;
    int v = f % 2 == 0 ? src * 100 : src * 100 + 50;
    ASSERT_EQ(s[2 * f], v + 256) << f;
    ASSERT_EQ(s[2 * f + 1], v - 256) << f;
  }
  DWORD play = 0;
  ASSERT_EQ(mono->GetCurrentPosition(&play, nullptr), DS_OK);
  EXPECT_EQ(play, 110u * 2);
  mono->Release();
  eight->Release();
}

TEST_F(SoundCapture, LostBuffersRefuseUntilRestored) {
  Device dev;
  IDirectSoundBuffer* b = dev.secondary(pcmFormat(44100, 2, 16), 4000);
  ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  soundCaptureLoseBuffers();
  DWORD status = 0;
  ASSERT_EQ(b->GetStatus(&status), DS_OK);
  EXPECT_EQ(status, DSBSTATUS_BUFFERLOST);
  EXPECT_EQ(writeAt(b, 0, rampStereo(10)), DSERR_BUFFERLOST);
  EXPECT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DSERR_BUFFERLOST);
  EXPECT_EQ(b->Restore(), DS_OK);
  EXPECT_EQ(writeAt(b, 0, rampStereo(10)), DS_OK);
  EXPECT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  b->Release();
}

TEST_F(SoundCapture, TheClockRunsByItselfFasterThanRealTime) {
  SoundCaptureOptions o;
  o.speed = 20;
  soundUseCapture(o);
  Device dev;
  IDirectSoundBuffer* b = dev.secondary(pcmFormat(44100, 2, 16), 44100 * 4);
  ASSERT_EQ(writeAt(b, 0, rampStereo(1000)), DS_OK);
  ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
  // One second of sound passes in about 50 ms.
  DWORD status = DSBSTATUS_PLAYING;
  for (int i = 0; i < 500 && (status & DSBSTATUS_PLAYING); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(b->GetStatus(&status), DS_OK);
  }
  EXPECT_EQ(status, 0u);
  auto s = samples(soundCaptureTake());
  ASSERT_GE(s.size(), 1000u * 2);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(s[2 * i], i + 1);
  EXPECT_GE(soundCaptureFramesElapsed(), 44100u);
  b->Release();
}

TEST(SoundWave, WaveFileHasTheCanonicalHeader) {
  std::string path = testenv::freshDir("wav") + "/out.wav";
  std::vector<uint8_t> data = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_TRUE(writeWaveFile(path, pcmFormat(22050, 1, 16), data.data(), data.size()));
  std::string f = testenv::readFile(path);
  ASSERT_EQ(f.size(), 52u);
  EXPECT_EQ(f.substr(0, 4), "RIFF");
  EXPECT_EQ(f.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(f.substr(36, 4), "data");
  uint32_t rate, avg, size;
  std::memcpy(&rate, &f[24], 4);
  std::memcpy(&avg, &f[28], 4);
  std::memcpy(&size, &f[40], 4);
  EXPECT_EQ(rate, 22050u);
  EXPECT_EQ(avg, 44100u);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(f.substr(44), std::string("\1\2\3\4\5\6\7\10", 8));
}

// The SDL back end through SDL's disk driver, which writes what the device
// would play to a file at the device's pace.
TEST(SoundSdl, CallbackDrainsTheBufferIntoTheDevice) {
  std::string dir = testenv::freshDir("sdl");
  std::string raw = dir + "/out.raw";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
  setenv("SDL_DISKAUDIODELAY", "1", 1);  // ms between callbacks: run fast
  soundUseSdl();
  HRESULT hr;
  auto list = enumerate(&hr);
  ASSERT_EQ(hr, DS_OK);
  if (list.empty()) GTEST_SKIP() << "SDL has no audio here";
  EXPECT_FALSE(list[0].hasGuid);
  {
    Device dev;
    ASSERT_NE(dev.ds, nullptr);
    const int frames = 4096;
    IDirectSoundBuffer* b = dev.secondary(pcmFormat(44100, 2, 16), frames * 4);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(writeAt(b, 0, rampStereo(frames)), DS_OK);
    ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
    DWORD status = DSBSTATUS_PLAYING;
    for (int i = 0; i < 1000 && (status & DSBSTATUS_PLAYING); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      ASSERT_EQ(b->GetStatus(&status), DS_OK);
    }
    EXPECT_EQ(status, 0u) << "the callback never finished the buffer";
    b->Release();
  }
  soundCloseIdleDevices();  // the device stays open between objects: close it, so its file is complete
  unsetenv("SDL_AUDIODRIVER");
  std::string out = testenv::readFile(raw);
  std::vector<uint8_t> bytes(out.begin(), out.end());
  auto s = samples(bytes);
  // Leading silence, then the ramp in order.
  size_t at = 0;
  while (at < s.size() && s[at] == 0) ++at;
  ASSERT_LE(at + 4096 * 2, s.size());
  for (int i = 0; i < 4096; ++i) {
    ASSERT_EQ(s[at + 2 * i], i + 1) << i;
    ASSERT_EQ(s[at + 2 * i + 1], -(i + 1)) << i;
  }
}

// One song after another: the device stays open from one DirectSound object
// to the next, so the sound goes on instead of the device closing and
// opening again (a gap and a click on real hardware; the disk driver starts
// its file afresh).
TEST(SoundSdl, TheDeviceStaysOpenFromOneObjectToTheNext) {
  std::string dir = testenv::freshDir("sdlkeep");
  std::string raw = dir + "/out.raw";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
  setenv("SDL_DISKAUDIODELAY", "1", 1);
  soundUseSdl();
  if (enumerate().empty()) GTEST_SKIP() << "SDL has no audio here";
  const int frames = 4096;
  auto playRamp = [&](int start) {
    Device dev;
    ASSERT_NE(dev.ds, nullptr);
    IDirectSoundBuffer* b = dev.secondary(pcmFormat(44100, 2, 16), frames * 4);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(writeAt(b, 0, rampStereo(frames, start)), DS_OK);
    ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
    DWORD status = DSBSTATUS_PLAYING;
    for (int i = 0; i < 1000 && (status & DSBSTATUS_PLAYING); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      ASSERT_EQ(b->GetStatus(&status), DS_OK);
    }
    EXPECT_EQ(status, 0u);
    b->Release();
  };
  playRamp(1);
  EXPECT_NE(SDL_WasInit(SDL_INIT_AUDIO), 0u) << "the audio subsystem was shut down between two objects";
  playRamp(frames + 1);
  soundCloseIdleDevices();  // the device closes: its file is complete
  EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
  unsetenv("SDL_AUDIODRIVER");

  std::string out = testenv::readFile(raw);
  std::vector<uint8_t> bytes(out.begin(), out.end());
  auto s = samples(bytes);
  // Both ramps, the first one before the second, in one stream.
  size_t at = 0;
  for (int ramp = 0; ramp < 2; ++ramp) {
    const int first = ramp * frames + 1;
    while (at < s.size() && s[at] != first) ++at;
    ASSERT_LE(at + frames * 2, s.size()) << "ramp " << ramp << " is missing";
    for (int i = 0; i < frames; ++i) {
      ASSERT_EQ(s[at + 2 * i], first + i) << ramp << " " << i;
    }
    at += frames * 2;
  }
}
