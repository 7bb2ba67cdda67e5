#pragma once
// Small helpers shared by the decoder tests.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "mpegaudio/mpegaudio.h"
#include "mpegaudio/streamwalk.h"
#include "tests/common/testenv.h"

namespace mpatest {

inline std::string lean(const std::string& name) { return testenv::dataDir() + "/mpegaudio/" + name; }

inline std::string shared(const std::string& name) {
  const std::string root = testenv::sharedDataDir();
  return root.empty() ? std::string() : root + "/mpeg/" + name;
}

inline std::vector<uint8_t> bytesOf(const std::string& path) {
  const std::string s = testenv::readFile(path);
  return std::vector<uint8_t>(s.begin(), s.end());
}

inline std::vector<int16_t> samples16(const std::vector<uint8_t>& pcm) {
  std::vector<int16_t> out(pcm.size() / 2);
  if (!out.empty()) std::memcpy(out.data(), pcm.data(), out.size() * 2);
  return out;
}

struct Comparison {
  double psnr = 0.0;
  int maxDiff = 0;
  size_t compared = 0;
};

// Over the samples both hold (the references of some streams stop a frame
// early or are padded).
inline Comparison compare(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
  Comparison c;
  c.compared = a.size() < b.size() ? a.size() : b.size();
  double se = 0.0;
  for (size_t i = 0; i < c.compared; ++i) {
    const int d = int(a[i]) - int(b[i]);
    se += double(d) * d;
    if (std::abs(d) > c.maxDiff) c.maxDiff = std::abs(d);
  }
  c.psnr = se == 0.0 ? 999.0 : 10.0 * std::log10(32767.0 * 32767.0 / (se / double(c.compared ? c.compared : 1)));
  return c;
}

inline std::vector<uint8_t> decodeAll(const std::vector<uint8_t>& bits, const mpegaudio::StreamOptions& o,
                                      mpegaudio::StreamSummary* summary = nullptr) {
  std::vector<uint8_t> pcm;
  mpegaudio::decodeStream(bits.data(), bits.size(), o, &pcm, summary);
  return pcm;
}

inline double rms(const std::vector<int16_t>& s, size_t from = 0, size_t step = 1) {
  double e = 0.0;
  size_t n = 0;
  for (size_t i = from; i < s.size(); i += step, ++n) e += double(s[i]) * s[i];
  return n ? std::sqrt(e / double(n)) : 0.0;
}

}  // namespace mpatest
