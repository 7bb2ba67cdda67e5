// Output variants: rate reduction, channel conversion, 8-bit output, the
// frequency limit and the equalizer.
#include <gtest/gtest.h>

#include "tests/mpegaudio/helpers.h"

using namespace mpatest;
using mpegaudio::DecoderInfo;
using mpegaudio::MpegHeader;

namespace {

struct Locked {
  std::vector<uint8_t> bits;
  size_t at = 0;
  MpegHeader header;
  int32_t frameBytes = 0;
};

Locked lockFile(const std::string& path) {
  Locked l;
  l.bits = bytesOf(path);
  int32_t rate = 0;
  EXPECT_TRUE(mpegaudio::lockStream(l.bits.data(), l.bits.size(), 0, &l.at, &l.header, &l.frameBytes, &rate));
  return l;
}

}  // namespace

TEST(Options, InfoPerReductionAndWidth) {
  // l3-hecommon: MPEG-1 Layer III, 44.1 kHz stereo.
  const Locked l = lockFile(lean("l3-hecommon.bit"));
  ASSERT_EQ(mpegaudio::headerSampleRate(l.header), 44100);
  struct Case {
    int32_t reduction, conversion;
    int32_t channels, values, rate, bits, bytes;
  } cases[] = {
      {0, 0, 2, 2304, 44100, 16, 4608},  {1, 0, 2, 1152, 22050, 16, 2304}, {2, 0, 2, 576, 11025, 16, 1152},
      {1, 1, 1, 576, 22050, 16, 1152},   {0, 8, 2, 2304, 44100, 8, 2304},  {1, 9, 1, 576, 22050, 8, 576},
      {7, 0, 2, 576, 11025, 16, 1152},  // reduction clamped to 2
      {-3, 0, 2, 2304, 44100, 16, 4608},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "reduction " << c.reduction << " conversion " << c.conversion);
    ASSERT_EQ(mpegaudio::decodeInit(&l.header, l.frameBytes, c.reduction, 0, c.conversion, 24000), 1);
    DecoderInfo info;
    mpegaudio::decodeInfo(&info);
    EXPECT_EQ(info.channels, c.channels);
    EXPECT_EQ(info.valuesPerFrame, c.values);
    EXPECT_EQ(info.sampleRate, c.rate);
    EXPECT_EQ(info.bitsPerSample, c.bits);
    EXPECT_EQ(info.frameBytes, c.bytes);
    EXPECT_EQ(info.type, 0);
    // A decoded frame is exactly that long.
    std::vector<uint8_t> pcm(mpegaudio::kMaxPcmFrameBytes + 16, 0xAB);
    const mpegaudio::DecodeResult r =
        mpegaudio::decodeFrame(l.bits.data() + l.at, int32_t(l.bits.size() - l.at), pcm.data());
    EXPECT_EQ(r.consumed, mpegaudio::paddingBytes(l.header) + l.frameBytes);
    EXPECT_EQ(r.produced, c.bytes);
    EXPECT_EQ(pcm[size_t(c.bytes)], 0xAB);
  }
}

// Reduced rates keep the level of a low tone (a 1 kHz sine lies in the
// lowest subbands at every rate).
TEST(Options, ReductionKeepsLevel) {
  const std::vector<uint8_t> bits = bytesOf(lean("l3-hecommon.bit"));
  std::vector<double> level;
  for (int r = 0; r < 3; ++r) {
    mpegaudio::StreamOptions o;
    o.reduction = r;
    o.frequencyLimit = 2000;  // the same band at every rate
    const std::vector<int16_t> s = samples16(decodeAll(bits, o));
    ASSERT_FALSE(s.empty());
    level.push_back(rms(s));
  }
  ASSERT_GT(level[0], 50.0);
  EXPECT_NEAR(level[1] / level[0], 1.0, 0.1);
  EXPECT_NEAR(level[2] / level[0], 1.0, 0.1);
}

TEST(Options, EightBitIsSixteenBitScaled) {
  for (const char* name : {"l3-hecommon.bit", "l2-fl13.bit", "l1-fl4.bit"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> bits = bytesOf(lean(name));
    mpegaudio::StreamOptions o16;
    mpegaudio::StreamOptions o8;
    o8.conversion = mpegaudio::kConversion8Bit;
    const std::vector<int16_t> s16 = samples16(decodeAll(bits, o16));
    const std::vector<uint8_t> s8 = decodeAll(bits, o8);
    ASSERT_EQ(s16.size(), s8.size());
    ASSERT_FALSE(s8.empty());
    int worst = 0;
    for (size_t i = 0; i < s8.size(); ++i) {
      const double scaled = s16[i] / 256.0 + 128.0;
      worst = std::max(worst, int(std::ceil(std::abs(double(s8[i]) - scaled) - 1e-9)));
    }
    EXPECT_LE(worst, 1);
  }
}

TEST(Options, DownMixRules) {
  const std::vector<uint8_t> bits = bytesOf(lean("l3-hecommon.bit"));
  mpegaudio::StreamOptions o;
  const std::vector<int16_t> stereo = samples16(decodeAll(bits, o));
  ASSERT_FALSE(stereo.empty());
  std::vector<int16_t> conv[4];
  for (int c = 1; c <= 3; ++c) {
    o.conversion = c;
    conv[c] = samples16(decodeAll(bits, o));
    ASSERT_EQ(conv[c].size() * 2, stereo.size());
  }
  int mixErr = 0, leftErr = 0, rightErr = 0;
  for (size_t i = 0; i < conv[1].size(); ++i) {
    const double l = stereo[2 * i], r = stereo[2 * i + 1];
    mixErr = std::max(mixErr, int(std::ceil(std::abs(conv[1][i] - (l + r) / 2.0) - 1e-9)));
    leftErr = std::max(leftErr, std::abs(conv[2][i] - int(l)));
    rightErr = std::max(rightErr, std::abs(conv[3][i] - int(r)));
  }
  EXPECT_LE(mixErr, 1);
  EXPECT_EQ(leftErr, 0);
  EXPECT_EQ(rightErr, 0);
  // The channels of this stream differ, so the three rules give three answers.
  EXPECT_NE(conv[2], conv[3]);
}

TEST(Options, MonoStreamGivesOneChannelWhateverTheConversion) {
  const Locked l = lockFile(lean("l2-fl13.bit"));  // single channel
  for (int c = 0; c < 4; ++c) {
    ASSERT_EQ(mpegaudio::decodeInit(&l.header, l.frameBytes, 0, 0, c, 24000), 1);
    DecoderInfo info;
    mpegaudio::decodeInfo(&info);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.valuesPerFrame, 1152);
  }
}

// Subbands decoded: round(limit * 64 / rate), capped at 31 (15, 8 with
// reduction) and at the stream's own limit; below 1000 Hz counts as 1000 Hz.
// Seen through the output: a limit that keeps only the lowest subbands takes
// away the high frequencies (measured by a second difference per channel).
TEST(Options, FrequencyLimitCutsHighBands) {
  for (const char* name : {"M2L3_compl24.bit", "l1-fl4.bit"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> bits = bytesOf(lean(name));
    mpegaudio::StreamOptions o;
    mpegaudio::StreamSummary summary;
    const std::vector<int16_t> full = samples16(decodeAll(bits, o, &summary));
    o.frequencyLimit = 10;  // counts as 1000 Hz
    const std::vector<int16_t> low = samples16(decodeAll(bits, o));
    o.frequencyLimit = 1000;
    const std::vector<int16_t> low1000 = samples16(decodeAll(bits, o));
    ASSERT_EQ(full.size(), low.size());
    EXPECT_EQ(low, low1000);
    const size_t ch = size_t(summary.info.channels);
    ASSERT_GT(ch, 0u);
    double highFull = 0.0, highLow = 0.0;
    for (size_t i = 2 * ch; i < full.size(); ++i) {
      highFull += std::abs(full[i] - 2 * full[i - ch] + full[i - 2 * ch]);
      highLow += std::abs(low[i] - 2 * low[i - ch] + low[i - 2 * ch]);
    }
    EXPECT_GT(highFull, 0.0);
    EXPECT_LT(highLow, highFull / 10);
  }
}
TEST(Options, EqualizerScalesSubbands) {
  const std::vector<uint8_t> bits = bytesOf(lean("l3-hecommon.bit"));
  mpegaudio::StreamOptions o;
  const std::vector<int16_t> plain = samples16(decodeAll(bits, o));
  float factors[32];
  for (float& f : factors) f = 1.0f;
  mpegaudio::setEqualizerTable(factors);
  mpegaudio::setEqualizerEnabled(true);
  const std::vector<int16_t> unity = samples16(decodeAll(bits, o));
  for (float& f : factors) f = 0.5f;
  mpegaudio::setEqualizerTable(factors);
  const std::vector<int16_t> half = samples16(decodeAll(bits, o));
  for (float& f : factors) f = 0.0f;
  mpegaudio::setEqualizerTable(factors);
  const std::vector<int16_t> mute = samples16(decodeAll(bits, o));
  mpegaudio::setEqualizerEnabled(false);
  for (float& f : factors) f = 1.0f;
  mpegaudio::setEqualizerTable(factors);
  EXPECT_EQ(unity, plain);
  ASSERT_EQ(half.size(), plain.size());
  int worst = 0;
  for (size_t i = 0; i < plain.size(); ++i)
    worst = std::max(worst, int(std::ceil(std::abs(half[i] - plain[i] / 2.0) - 1e-9)));
  EXPECT_LE(worst, 1);
  EXPECT_EQ(rms(mute), 0.0);
  // Disabled again: back to the plain decoding.
  EXPECT_EQ(samples16(decodeAll(bits, o)), plain);
}
