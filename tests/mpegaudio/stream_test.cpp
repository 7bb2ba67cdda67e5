// Header search, free format, MPEG-2.5, refusals, the bit reservoir after a
// jump, and bad input of every kind.
#include <gtest/gtest.h>

#include "tests/common/testenv.h"

#include <dirent.h>

#include <array>
#include <random>

#include "mpegaudio/internal.h"

#include "tests/mpegaudio/helpers.h"

using namespace mpatest;
using mpegaudio::DecodeResult;
using mpegaudio::DecoderInfo;
using mpegaudio::MpegHeader;

TEST(Header, FindsSyncAfterJunkAndParsesFields) {
  // 44.1 kHz MPEG-1 Layer III 128 kbit/s joint stereo, padding set, no CRC.
  std::vector<uint8_t> b = {0x00, 0x12, 0xFF, 0x00, 0xFF, 0xFB, 0x92, 0x64};
  MpegHeader h;
  int32_t bitrate = -1, skip = -1;
  const int32_t bytes = mpegaudio::findHeader(b.data(), int32_t(b.size()), &h, &bitrate, &skip);
  EXPECT_EQ(skip, 4);
  EXPECT_EQ(bytes, 417);  // 144 * 128000 / 44100, padding not included
  EXPECT_EQ(bitrate, 128000);
  EXPECT_EQ(h.sync, 1);
  EXPECT_EQ(h.id, 1);
  EXPECT_EQ(h.layerOption, 1);
  EXPECT_EQ(h.protection, 1);
  EXPECT_EQ(h.bitrateIndex, 9);
  EXPECT_EQ(h.sampleRateIndex, 0);
  EXPECT_EQ(h.padding, 1);
  EXPECT_EQ(h.mode, 1);
  EXPECT_EQ(h.modeExtension, 2);
  EXPECT_EQ(h.copyright, 0);
  EXPECT_EQ(h.original, 1);
  EXPECT_EQ(h.emphasis, 0);
  EXPECT_EQ(mpegaudio::paddingBytes(h), 1);
}

TEST(Header, FrameBytesPerLayerAndVersion) {
  struct Case {
    uint8_t b1, b2;
    int32_t bytes, sync, version, rate;
  } cases[] = {
      {0xFF, 0x90, 312, 1, 1, 44100},  // Layer I 288k: 12 * 288000 / 44100 = 78 slots of 4 bytes
      {0xFD, 0x90, 522, 1, 1, 44100},  // Layer II 160k: 144 * 160000 / 44100
      {0xF3, 0x94, 240, 1, 2, 24000},  // MPEG-2 Layer III 80k: 72 * 80000 / 24000
      {0xE3, 0x84, 384, 2, 3, 12000},  // MPEG-2.5 Layer III 64k: 72 * 64000 / 12000
  };
  for (const Case& c : cases) {
    const uint8_t b[4] = {0xFF, c.b1, c.b2, 0x00};
    MpegHeader h;
    int32_t bitrate = 0, skip = 0;
    SCOPED_TRACE(int(c.b1));
    EXPECT_EQ(mpegaudio::findHeader(b, 4, &h, &bitrate, &skip), c.bytes);
    EXPECT_EQ(h.sync, c.sync);
    EXPECT_EQ(mpegaudio::headerVersion(h), c.version);
    EXPECT_EQ(mpegaudio::headerSampleRate(h), c.rate);
  }
}

TEST(Header, NoHeaderCases) {
  MpegHeader h;
  int32_t bitrate = 0, skip = 0;
  const uint8_t none[] = {0x00, 0x11, 0xFF, 0x0F, 0x22};
  EXPECT_EQ(mpegaudio::findHeader(none, 5, &h, &bitrate, &skip), 0);
  EXPECT_EQ(h.sync, 0);
  const uint8_t reservedLayer[] = {0xFF, 0xF9, 0x90, 0x00};  // layer bits 00
  EXPECT_EQ(mpegaudio::findHeader(reservedLayer, 4, &h, &bitrate, &skip), 0);
  const uint8_t badRate[] = {0xFF, 0xFB, 0x9C, 0x00};  // sample-rate index 3
  EXPECT_EQ(mpegaudio::findHeader(badRate, 4, &h, &bitrate, &skip), 0);
  const uint8_t badBitrate[] = {0xFF, 0xFB, 0xF0, 0x00};  // bitrate index 15
  EXPECT_EQ(mpegaudio::findHeader(badBitrate, 4, &h, &bitrate, &skip), 0);
  const uint8_t reservedVersion[] = {0xFF, 0xEB, 0x90, 0x00};  // 11-bit sync with id 1
  EXPECT_EQ(mpegaudio::findHeader(reservedVersion, 4, &h, &bitrate, &skip), 0);
  const uint8_t cut[] = {0x00, 0xFF, 0xFB};
  EXPECT_EQ(mpegaudio::findHeader(cut, 3, &h, &bitrate, &skip), 0);
  EXPECT_EQ(mpegaudio::findHeader(nullptr, 0, &h, &bitrate, &skip), 0);
}

TEST(Header, FreeFormatLengthIsMeasured) {
  const std::vector<uint8_t> bits = bytesOf(lean("l3-he_free.bit"));
  MpegHeader h;
  int32_t bitrate = 0, skip = 0;
  const int32_t bytes = mpegaudio::findHeader(bits.data(), int32_t(bits.size()), &h, &bitrate, &skip);
  ASSERT_EQ(h.bitrateIndex, 0);
  ASSERT_GT(bytes, 0);
  // The next header lies one frame (plus the first frame's padding) on.
  const size_t next = size_t(skip + bytes + mpegaudio::paddingBytes(h));
  ASSERT_LT(next + 1, bits.size());
  EXPECT_EQ(bits[next], 0xFF);
  EXPECT_EQ(bits[next + 1], bits[size_t(skip) + 1]);
  EXPECT_EQ(bitrate, bytes * mpegaudio::headerSampleRate(h) / 144);
}

TEST(Stream, Mpeg25LayerIIIDecodes) {
  const std::vector<uint8_t> bits = bytesOf(lean("mpeg25_l3_12k.bit"));
  mpegaudio::StreamSummary s;
  mpegaudio::StreamOptions o;
  const std::vector<int16_t> out = samples16(decodeAll(bits, o, &s));
  ASSERT_TRUE(s.locked);
  EXPECT_EQ(s.header.sync, 2);
  EXPECT_EQ(mpegaudio::headerVersion(s.header), 3);
  EXPECT_EQ(s.info.sampleRate, 12000);
  EXPECT_EQ(s.info.valuesPerFrame, 576);
  EXPECT_EQ(s.framesDecoded, 40);
  EXPECT_EQ(s.resyncs, 0);
  EXPECT_EQ(out.size(), 40u * 576u);
  EXPECT_GT(rms(out), 100.0);
}

TEST(Stream, Mpeg25LayerIIAndIAreRefused) {
  // A plausible MPEG-2.5 Layer II frame: 11-bit sync, id 0, layer bits 10.
  std::vector<uint8_t> frame(2000, 0x55);
  frame[0] = 0xFF;
  frame[1] = 0xE5;  // 1110 0101: MPEG-2.5, Layer II, no CRC
  frame[2] = 0x84;  // 64 kbit/s, 12 kHz
  frame[3] = 0xC0;  // single channel
  MpegHeader h;
  int32_t bitrate = 0, skip = 0;
  const int32_t bytes = mpegaudio::findHeader(frame.data(), int32_t(frame.size()), &h, &bitrate, &skip);
  ASSERT_GT(bytes, 0);
  EXPECT_EQ(h.sync, 2);
  EXPECT_EQ(mpegaudio::decodeInit(&h, bytes, 0, 0, 0, 24000), 0);
  uint8_t pcm[mpegaudio::kMaxPcmFrameBytes];
  EXPECT_EQ(mpegaudio::decodeFrame(frame.data(), int32_t(frame.size()), pcm).consumed, 0);
  // Layer I likewise.
  frame[1] = 0xE7;
  ASSERT_GT(mpegaudio::findHeader(frame.data(), int32_t(frame.size()), &h, &bitrate, &skip), 0);
  EXPECT_EQ(mpegaudio::decodeInit(&h, bytes, 0, 0, 0, 24000), 0);
  // And a MPEG-2.5 frame handed to a running MPEG-1 Layer II stream.
  const std::vector<uint8_t> l2 = bytesOf(lean("l2-fl13.bit"));
  ASSERT_GT(mpegaudio::findHeader(l2.data(), int32_t(l2.size()), &h, &bitrate, &skip), 0);
  ASSERT_EQ(mpegaudio::decodeInit(&h, 144, 0, 0, 0, 24000), 1);
  std::vector<uint8_t> mangled(l2.begin(), l2.begin() + 144);
  mangled[1] &= 0xE7;  // clear the 12th sync bit and the id
  EXPECT_EQ(mpegaudio::decodeFrame(mangled.data(), int32_t(mangled.size()), pcm).consumed, 0);
  EXPECT_EQ(mpegaudio::decodeFrame(l2.data(), int32_t(l2.size()), pcm).consumed, 144);
}

TEST(Stream, LayerIINotAllowedCombinationIsRefused) {
  // Layer II, 44.1 kHz, stereo at 32 kbit/s is not an allowed combination;
  // single channel at 384 kbit/s neither.
  const uint8_t stereo32[4] = {0xFF, 0xFD, 0x10, 0x00};
  const uint8_t mono384[4] = {0xFF, 0xFD, 0xE0, 0xC0};
  const uint8_t stereo128[4] = {0xFF, 0xFD, 0x80, 0x00};
  for (const uint8_t* b : {stereo32, mono384}) {
    MpegHeader h;
    int32_t bitrate = 0, skip = 0;
    const int32_t bytes = mpegaudio::findHeader(b, 4, &h, &bitrate, &skip);
    ASSERT_GT(bytes, 0);
    EXPECT_EQ(mpegaudio::decodeInit(&h, bytes, 0, 0, 0, 24000), 0);
  }
  MpegHeader h;
  int32_t bitrate = 0, skip = 0;
  const int32_t bytes = mpegaudio::findHeader(stereo128, 4, &h, &bitrate, &skip);
  EXPECT_EQ(mpegaudio::decodeInit(&h, bytes, 0, 0, 0, 24000), 1);
}

TEST(Stream, TruncatedFrameIsRefusedAndWholeOneDecodes) {
  const std::vector<uint8_t> bits = bytesOf(lean("l3-hecommon.bit"));
  size_t at = 0;
  MpegHeader h;
  int32_t frameBytes = 0, bitrate = 0;
  ASSERT_TRUE(mpegaudio::lockStream(bits.data(), bits.size(), 0, &at, &h, &frameBytes, &bitrate));
  ASSERT_EQ(mpegaudio::decodeInit(&h, frameBytes, 0, 0, 0, mpegaudio::kFullBand), 1);
  const int32_t whole = frameBytes + mpegaudio::paddingBytes(h);
  uint8_t pcm[mpegaudio::kMaxPcmFrameBytes];
  std::vector<uint8_t> cut(bits.begin() + long(at), bits.begin() + long(at) + whole - 1);
  EXPECT_EQ(mpegaudio::decodeFrame(cut.data(), int32_t(cut.size()), pcm).consumed, 0);
  EXPECT_EQ(mpegaudio::decodeFrame(bits.data() + at, whole, pcm).consumed, whole);
  EXPECT_EQ(mpegaudio::decodeFrame(bits.data() + at, 3, pcm).consumed, 0);
  // Not set up: nothing is decoded.
  MpegHeader none;
  EXPECT_EQ(mpegaudio::decodeInit(&none, 0, 0, 0, 0, 24000), 0);
  EXPECT_EQ(mpegaudio::decodeFrame(bits.data() + at, whole, pcm).consumed, 0);
  DecoderInfo info;
  mpegaudio::decodeInfo(&info);
  EXPECT_EQ(info.frameBytes, 0);
}

// After a jump into the middle of a Layer III stream the first frames point
// back into main data that was never seen: they give silence of full length
// until the reservoir holds what they need; then sound follows.
TEST(Stream, JumpGivesSilenceUntilReservoirFills) {
  const std::vector<uint8_t> bits = bytesOf(lean("l3-hecommon.bit"));
  size_t at = 0;
  MpegHeader h;
  int32_t frameBytes = 0, bitrate = 0;
  ASSERT_TRUE(mpegaudio::lockStream(bits.data(), bits.size(), bits.size() / 2, &at, &h, &frameBytes, &bitrate));
  ASSERT_EQ(mpegaudio::decodeInit(&h, frameBytes, 0, 0, 0, mpegaudio::kFullBand), 1);
  // main_data_begin of the frame we land on (9 bits after the header and CRC).
  const size_t side = at + 4 + (h.protection ? 0 : 2);
  const int mainDataBegin = (bits[side] << 1) | (bits[side + 1] >> 7);
  ASSERT_GT(mainDataBegin, 0) << "pick a frame that uses the reservoir";
  uint8_t pcm[mpegaudio::kMaxPcmFrameBytes];
  int silent = 0, sounding = 0;
  size_t pos = at;
  for (int f = 0; f < 6; ++f) {
    std::memset(pcm, 0x77, sizeof pcm);
    const DecodeResult r = mpegaudio::decodeFrame(bits.data() + pos, int32_t(bits.size() - pos), pcm);
    ASSERT_GT(r.consumed, 0);
    ASSERT_EQ(r.produced, 4608);
    bool zero = true;
    for (int i = 0; i < r.produced; ++i) zero = zero && pcm[i] == 0;
    if (zero) {
      EXPECT_EQ(sounding, 0) << "silence after sound";
      ++silent;
    } else {
      ++sounding;
    }
    pos += size_t(r.consumed);
  }
  EXPECT_GE(silent, 1);
  EXPECT_GE(sounding, 1);
}

namespace {

// Decodes arbitrary bytes through the whole walk, every option combination
// that changes code paths.  Sanitizers catch any stray access.
void survive(const std::vector<uint8_t>& bytes) {
  for (int variant = 0; variant < 3; ++variant) {
    mpegaudio::StreamOptions o;
    o.reduction = variant;
    o.conversion = variant == 1 ? 1 : variant == 2 ? (3 | mpegaudio::kConversion8Bit) : 0;
    o.frequencyLimit = variant == 0 ? mpegaudio::kFullBand : 24000;
    mpegaudio::StreamSummary s;
    std::vector<uint8_t> pcm;
    mpegaudio::decodeStream(bytes.data(), bytes.size(), o, &pcm, &s);
    if (s.locked && s.info.frameBytes > 0) {
      // Every frame produced a whole PCM frame.
      EXPECT_EQ(pcm.size() % size_t(s.info.frameBytes), 0u);
    }
  }
}

}  // namespace

TEST(Robustness, IllegalAndNonstandardFilesNeverCrash) {
  const std::string dir = shared("");
  if (dir.empty()) LM_SKIP_UNLESS_REQUIRED(testenv::Need::sharedData, "shared conformance data not present");
  DIR* d = opendir(dir.c_str());
  ASSERT_NE(d, nullptr);
  int files = 0;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.size() < 5 || name.substr(name.size() - 4) != ".bit") continue;
    if (name.rfind("ILL", 0) != 0 && name.find("nonstandard") == std::string::npos) continue;
    SCOPED_TRACE(name);
    survive(bytesOf(dir + name));
    ++files;
  }
  closedir(d);
  const std::vector<uint8_t> cut = bytesOf(dir + "fuzz/l3-compl-cut.mp3");
  survive(cut);
  EXPECT_GT(files, 30);
}

// Lying side information: big_values beyond 288, part2_3_length far past the
// frame, every table select, huge scale-factor fields.
TEST(Robustness, LyingSideInformation) {
  const std::vector<uint8_t> good = bytesOf(lean("l3-hecommon.bit"));
  size_t at = 0;
  MpegHeader h;
  int32_t frameBytes = 0, bitrate = 0;
  ASSERT_TRUE(mpegaudio::lockStream(good.data(), good.size(), 0, &at, &h, &frameBytes, &bitrate));
  const size_t side = at + 4 + (h.protection ? 0 : 2);
  std::mt19937 rng(7);
  for (int round = 0; round < 60; ++round) {
    std::vector<uint8_t> bytes = good;
    // Set the side information of the first frames to all ones or random.
    for (int f = 0; f < 4; ++f) {
      const size_t s = side + size_t(f) * size_t(frameBytes);
      for (size_t i = 0; i < 32 && s + i < bytes.size(); ++i) bytes[s + i] = round % 3 == 0 ? 0xFF : uint8_t(rng());
    }
    survive(bytes);
  }
}

TEST(Robustness, RandomMutationsOfEveryLayer) {
  std::mt19937 rng(12345);
  for (const char* name :
       {"l1-fl4.bit", "l2-fl13.bit", "l3-si_block.bit", "M2L3_compl24.bit", "mpeg25_l3_12k.bit", "l3-he_free.bit"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> good = bytesOf(lean(name));
    const size_t keep = std::min<size_t>(good.size(), 6000);
    for (int round = 0; round < 12; ++round) {
      std::vector<uint8_t> bytes(good.begin(), good.begin() + long(keep));
      const int flips = 1 + int(rng() % 64);
      for (int i = 0; i < flips; ++i) bytes[rng() % bytes.size()] ^= uint8_t(1u << (rng() % 8));
      if (round % 4 == 3) bytes.resize(rng() % bytes.size());
      survive(bytes);
    }
  }
  std::vector<uint8_t> junk(5000);
  for (uint8_t& b : junk) b = uint8_t(rng() | 0xE0);  // many sync candidates
  survive(junk);
}

namespace {

// Free-format headers (bitrate index 0) whose fixed bytes all differ within
// any 14 KB: no two of them make a frame distance.
std::vector<uint8_t> falseFreeFormatHeaders(size_t bytes) {
  std::vector<uint8_t> out;
  std::vector<std::array<uint8_t, 4>> kinds;
  for (int b1 = 0xE2; b1 <= 0xFF; ++b1) {
    const bool mpeg25 = !(b1 & 0x10);
    if ((b1 & 0x06) == 0 || (mpeg25 && (b1 & 0x08))) continue;  // no layer, or reserved version
    for (int rate = 0; rate < 3; ++rate)
      for (int b3 = 0; b3 < 256; ++b3)
        if ((b3 & 0x30) == 0) kinds.push_back({0xFF, uint8_t(b1), uint8_t(rate << 2), uint8_t(b3)});
  }
  for (size_t k = 0; out.size() < bytes; ++k) {
    const auto& h = kinds[k % kinds.size()];
    out.insert(out.end(), h.begin(), h.end());
  }
  return out;
}

}  // namespace

// Rejecting false free-format headers costs work in proportion to the bytes,
// not to the bytes times the longest free-format frame; a real free-format
// stream behind them is still measured and decoded.
TEST(Header, FalseFreeFormatHeadersAreRejectedInBoundedWork) {
  const std::vector<uint8_t> junk = falseFreeFormatHeaders(1 << 20);
  const uint64_t before = mpegaudio::detail::g_freeFormatProbes.load();
  mpegaudio::StreamSummary s;
  const std::vector<uint8_t> none = decodeAll(junk, mpegaudio::StreamOptions{}, &s);
  EXPECT_FALSE(s.locked);
  EXPECT_TRUE(none.empty());
  EXPECT_LT(mpegaudio::detail::g_freeFormatProbes.load() - before, 8u * junk.size());

  const std::vector<uint8_t> free = bytesOf(lean("l3-he_free.bit"));
  mpegaudio::StreamSummary plain;
  const std::vector<uint8_t> ref = decodeAll(free, mpegaudio::StreamOptions{}, &plain);
  ASSERT_TRUE(plain.locked);
  std::vector<uint8_t> bytes(junk.begin(), junk.begin() + 100000);
  bytes.insert(bytes.end(), free.begin(), free.end());
  mpegaudio::StreamSummary behind;
  const std::vector<uint8_t> out = decodeAll(bytes, mpegaudio::StreamOptions{}, &behind);
  EXPECT_TRUE(behind.locked);
  EXPECT_EQ(behind.frameBytes, plain.frameBytes);
  EXPECT_EQ(behind.bitrate, plain.bitrate);
  EXPECT_EQ(out, ref);
}
