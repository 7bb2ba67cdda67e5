#pragma once
// Shared by the output, player and controller tests: the capture sound
// device, a reference decoding through the decoder core alone, and a
// comparison that leaves out silence.
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "mpegaudio/mpegaudio.h"
#include "platform/sound.h"
#include "tests/common/testenv.h"

namespace soundtest {

// The song the engine tests play: MPEG-1 Layer III, 44.1 kHz stereo,
// 128 kbit/s, 30 frames (0.8 s).
inline std::string songPath() { return testenv::dataDir() + "/player/hecommon.mp3"; }

// A longer song: the fixture repeated `times` times in one file.
inline std::string longSong(const std::string& dir, int times) {
  std::string one = testenv::readFile(songPath()), all;
  for (int i = 0; i < times; ++i) all += one;
  std::string path = dir + "/long.mp3";
  testenv::writeFile(path, all);
  return path;
}

// The capture device: `speed` times real time (0: stepped by the test).
inline void useCapture(double speed, int devices = 1) {
  platform::SoundCaptureOptions o;
  o.speed = speed;
  o.devices = devices;
  platform::soundUseCapture(o);
}

// 16-bit stereo frames as (left, right) pairs packed in uint32.
inline std::vector<uint32_t> frames(const std::vector<uint8_t>& bytes) {
  std::vector<uint32_t> out(bytes.size() / 4);
  if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * 4);
  return out;
}

// Drops the all-zero sample frames: silence units, the start of playback
// and the silence a Layer III stream begins with all look the same.
inline std::vector<uint32_t> audible(const std::vector<uint32_t>& f) {
  std::vector<uint32_t> out;
  out.reserve(f.size());
  for (uint32_t v : f)
    if (v) out.push_back(v);
  return out;
}

// The decoder core alone over the whole file, with the engine's frequency
// limit; PCM bytes per frame in *frameBytes.
inline std::vector<uint8_t> referenceDecode(const std::string& file, int32_t* frameBytes = nullptr) {
  using namespace mpegaudio;
  const auto* data = reinterpret_cast<const uint8_t*>(file.data());
  const int32_t len = static_cast<int32_t>(file.size());
  MpegHeader h;
  int32_t bitrate = 0, skip = 0;
  int32_t fb = findHeader(data, len, &h, &bitrate, &skip);
  std::vector<uint8_t> out;
  if (fb <= 0 || !decodeInit(&h, fb, 0, 0, 0, kEngineFrequencyLimit)) return out;
  DecoderInfo info;
  decodeInfo(&info);
  if (frameBytes) *frameBytes = info.frameBytes;
  std::vector<uint8_t> pcm(kMaxPcmFrameBytes);
  int32_t pos = skip;
  while (pos < len) {
    DecodeResult r = decodeFrame(data + pos, len - pos, pcm.data());
    if (r.consumed <= 0) break;
    out.insert(out.end(), pcm.begin(), pcm.begin() + r.produced);
    pos += r.consumed;
  }
  return out;
}

// Waits until the condition holds (true) or `limit` passes.
inline bool waitUntil(const std::function<bool()>& cond, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace soundtest
