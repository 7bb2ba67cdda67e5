// Decoding of the compliance streams against their reference PCM, with all
// 32 subbands: PSNR of at least 96 dB and no sample more than 1 away.
#include <gtest/gtest.h>

#include "mpegaudio/simd.h"
#include "tests/common/testenv.h"
#include "tests/mpegaudio/helpers.h"

using namespace mpatest;

namespace {

mpegaudio::StreamOptions referenceOptions() {
  mpegaudio::StreamOptions o;
  o.frequencyLimit = mpegaudio::kFullBand;
  // The references follow mode changes and leave out frames whose main
  // data lies before the start of the file.
  o.followChannelChanges = true;
  o.dropMissingDataFrames = true;
  return o;
}

void expectConforms(const std::string& bitPath, const std::string& pcmPath) {
  SCOPED_TRACE(bitPath);
  const std::vector<uint8_t> bits = bytesOf(bitPath);
  const std::vector<int16_t> ref = samples16(bytesOf(pcmPath));
  ASSERT_FALSE(bits.empty());
  ASSERT_FALSE(ref.empty());
  mpegaudio::StreamSummary summary;
  const std::vector<int16_t> out = samples16(decodeAll(bits, referenceOptions(), &summary));
  ASSERT_TRUE(summary.locked);
  EXPECT_EQ(summary.resyncs, 0);
  // The references are whole-stream decodings, at most a frame shorter than
  // ours or padded after the end.
  ASSERT_GE(out.size() + 2304, ref.size() < out.size() + 2304 ? ref.size() : out.size() + 2304);
  const Comparison c = compare(out, ref);
  EXPECT_GT(c.compared, out.size() * 9 / 10);
  EXPECT_GE(c.psnr, 96.0);
  EXPECT_LE(c.maxDiff, 1);
}

}  // namespace

// Runs `body` once with each build of the inner loops this processor can
// run (plain C++, SSE2, AVX2), then goes back to the one chosen at start-up.
template <typename Body>
void forEachSimdPath(Body body) {
  const mpegaudio::SimdPath chosen = mpegaudio::simdPath();
  int ran = 0;
  for (mpegaudio::SimdPath p : {mpegaudio::SimdPath::scalar, mpegaudio::SimdPath::sse2, mpegaudio::SimdPath::avx2}) {
    if (!mpegaudio::useSimdPath(p)) continue;
    SCOPED_TRACE(mpegaudio::simdPathName(p));
    body();
    ++ran;
  }
  EXPECT_TRUE(mpegaudio::useSimdPath(chosen));
  EXPECT_GE(ran, 1);
}

TEST(Conformance, LeanSubsetMatchesReferences) {
  forEachSimdPath([] {
    for (const char* name : {"l1-fl4", "l2-fl13", "l3-hecommon", "l3-si_block", "l3-he_free", "M2L3_compl24"})
      expectConforms(lean(std::string(name) + ".bit"), lean(std::string(name) + ".pcm"));
  });
}

// The builds differ at most in rounding: the same PCM within 1 on every
// output variant.
TEST(Conformance, SimdPathsAgree) {
  const mpegaudio::SimdPath chosen = mpegaudio::simdPath();
  for (const char* name : {"l1-fl4.bit", "l2-fl13.bit", "l3-si_block.bit", "M2L3_compl24.bit"}) {
    const std::vector<uint8_t> bits = bytesOf(lean(name));
    for (int variant = 0; variant < 4; ++variant) {
      SCOPED_TRACE(testing::Message() << name << " variant " << variant);
      mpegaudio::StreamOptions o;
      o.reduction = variant == 1 ? 1 : variant == 2 ? 2 : 0;
      o.conversion = variant == 3 ? mpegaudio::kConversionMix : 0;
      ASSERT_TRUE(mpegaudio::useSimdPath(mpegaudio::SimdPath::scalar));
      const std::vector<int16_t> plain = samples16(decodeAll(bits, o));
      ASSERT_FALSE(plain.empty());
      for (mpegaudio::SimdPath p : {mpegaudio::SimdPath::sse2, mpegaudio::SimdPath::avx2}) {
        if (!mpegaudio::useSimdPath(p)) continue;
        const std::vector<int16_t> fast = samples16(decodeAll(bits, o));
        ASSERT_EQ(fast.size(), plain.size()) << mpegaudio::simdPathName(p);
        EXPECT_LE(compare(fast, plain).maxDiff, 1) << mpegaudio::simdPathName(p);
      }
    }
  }
  EXPECT_TRUE(mpegaudio::useSimdPath(chosen));
}

TEST(Conformance, FullSharedSetMatchesReferences) {
  if (shared("").empty()) LM_SKIP_UNLESS_REQUIRED(testenv::Need::sharedData, "shared conformance data not present");
  const char* names[] = {
      "l1-fl1",
      "l1-fl2",
      "l1-fl3",
      "l1-fl4",
      "l1-fl5",
      "l1-fl6",
      "l1-fl7",
      "l1-fl8",
      "l2-fl10",
      "l2-fl11",
      "l2-fl12",
      "l2-fl13",
      "l2-fl14",
      "l2-fl15",
      "l2-fl16",
      "l2-test32",
      "l3-compl",
      "l3-he_32khz",
      "l3-he_44khz",
      "l3-he_48khz",
      "l3-he_free",
      "l3-he_mode",
      "l3-hecommon",
      "l3-si",
      "l3-si_block",
      "l3-si_huff",
      "l3-sin1k0db",
      "l3-test45",
      "l3-test46",
      "M2L3_bitrate_16_all",
      "M2L3_bitrate_22_all",
      "M2L3_bitrate_24_all",
      "M2L3_compl24",
      "M2L3_noise",
  };
  forEachSimdPath([&] {
    for (const char* name : names)
      expectConforms(shared(std::string(name) + ".bit"), shared(std::string(name) + ".pcm"));
  });
}

// The engine's 24000 Hz limit leaves out the top subband only (this stream has
// content there): what differs from the full-band decoding lies near the
// Nyquist frequency, so a 4-tap moving average of the difference per channel
// (nearly zero response there) stays close to zero.
TEST(Conformance, EngineLimitDiffersInTopSubbandOnly) {
  const std::vector<uint8_t> bits = bytesOf(lean("M2L3_compl24.bit"));
  mpegaudio::StreamOptions full;
  mpegaudio::StreamOptions limited;
  limited.frequencyLimit = mpegaudio::kEngineFrequencyLimit;
  mpegaudio::StreamSummary summary;
  const std::vector<int16_t> a = samples16(decodeAll(bits, full, &summary));
  const std::vector<int16_t> b = samples16(decodeAll(bits, limited));
  ASSERT_EQ(a.size(), b.size());
  ASSERT_FALSE(a.empty());
  const size_t ch = size_t(summary.info.channels);
  int largest = 0;
  double worstSmoothed = 0.0;
  for (size_t i = 0; i + 4 * ch <= a.size(); ++i) {
    double smoothed = 0.0;
    for (size_t k = 0; k < 4; ++k) {
      const int d = int(a[i + k * ch]) - int(b[i + k * ch]);
      largest = std::max(largest, std::abs(d));
      smoothed += d;
    }
    worstSmoothed = std::max(worstSmoothed, std::abs(smoothed / 4.0));
  }
  EXPECT_GT(largest, 10);
  EXPECT_LE(worstSmoothed, 3.0);
}
