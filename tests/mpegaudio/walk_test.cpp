// The whole-file walk of the mp3decode tool: ID3v2 tag, three consistent
// frames, resynchronisation over damage, VBR header.
#include <gtest/gtest.h>

#include <random>

#include "tests/mpegaudio/helpers.h"

using namespace mpatest;

namespace {

std::vector<uint8_t> id3Tag(size_t body) {
  std::vector<uint8_t> tag = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0};
  tag[6] = uint8_t((body >> 21) & 0x7F);
  tag[7] = uint8_t((body >> 14) & 0x7F);
  tag[8] = uint8_t((body >> 7) & 0x7F);
  tag[9] = uint8_t(body & 0x7F);
  // A body full of false sync candidates.
  for (size_t i = 0; i < body; ++i) tag.push_back(i % 3 == 0 ? 0xFF : 0xFB);
  return tag;
}

}  // namespace

TEST(Walk, SkipsId3v2AndJunkThenDecodesEverything) {
  const std::vector<uint8_t> clean = bytesOf(lean("l3-hecommon.bit"));
  mpegaudio::StreamSummary plain;
  const std::vector<uint8_t> ref = decodeAll(clean, mpegaudio::StreamOptions{}, &plain);
  ASSERT_GT(plain.framesDecoded, 10);

  std::vector<uint8_t> bytes = id3Tag(700);
  EXPECT_EQ(mpegaudio::id3v2Size(bytes.data(), bytes.size()), 710u);
  const uint8_t junk[] = {0x00, 0xFF, 0xF0, 0x12, 0xFF, 0xFB, 0x00};  // a stray, unusable candidate
  bytes.insert(bytes.end(), junk, junk + sizeof junk);
  bytes.insert(bytes.end(), clean.begin(), clean.end());
  mpegaudio::StreamSummary s;
  const std::vector<uint8_t> out = decodeAll(bytes, mpegaudio::StreamOptions{}, &s);
  EXPECT_EQ(s.framesDecoded, plain.framesDecoded);
  EXPECT_EQ(out, ref);
}

TEST(Walk, ResynchronisesOverADamagedFrame) {
  std::vector<uint8_t> bytes = bytesOf(lean("l2-fl13.bit"));  // 144-byte frames
  mpegaudio::StreamSummary plain;
  decodeAll(bytes, mpegaudio::StreamOptions{}, &plain);
  // Destroy the sync of frame 10 and put garbage in its place.
  for (size_t i = 10 * 144; i < 10 * 144 + 20; ++i) bytes[i] = 0x11;
  mpegaudio::StreamSummary s;
  const std::vector<uint8_t> out = decodeAll(bytes, mpegaudio::StreamOptions{}, &s);
  EXPECT_GE(s.resyncs, 1);
  EXPECT_EQ(s.framesDecoded, plain.framesDecoded - 1);
  EXPECT_EQ(out.size(), size_t(s.framesDecoded) * 2304u);
}

TEST(Walk, NothingToFind) {
  std::vector<uint8_t> bytes = id3Tag(100);
  mpegaudio::StreamSummary s;
  const std::vector<uint8_t> out = decodeAll(bytes, mpegaudio::StreamOptions{}, &s);
  EXPECT_FALSE(s.locked);
  EXPECT_TRUE(out.empty());
}

// Three consistent frames make a stream; fewer only when they run exactly to
// the end of the file or to a trailing tag.
TEST(Walk, ShortFiles) {
  const std::vector<uint8_t> clean = bytesOf(lean("l2-fl13.bit"));  // 144-byte frames
  mpegaudio::StreamSummary s;
  std::vector<uint8_t> two(clean.begin(), clean.begin() + 144 * 2);
  EXPECT_EQ(decodeAll(two, mpegaudio::StreamOptions{}, &s).size(), 2u * 2304u);
  EXPECT_TRUE(s.locked);
  std::vector<uint8_t> tagged = two;
  const char tag[] = "TAG some title";
  tagged.insert(tagged.end(), tag, tag + sizeof tag);
  EXPECT_EQ(decodeAll(tagged, mpegaudio::StreamOptions{}, &s).size(), 2u * 2304u);
  std::vector<uint8_t> junk = two;
  junk.insert(junk.end(), {0x12, 0x34, 0x56, 0x78, 0x9A});
  EXPECT_TRUE(decodeAll(junk, mpegaudio::StreamOptions{}, &s).empty());
  EXPECT_FALSE(s.locked);
}

TEST(Walk, ReadsXingHeader) {
  // A Layer III frame carrying a Xing tag with frames, bytes and quality.
  std::vector<uint8_t> frame(417, 0);
  frame[0] = 0xFF;
  frame[1] = 0xFB;
  frame[2] = 0x90;
  frame[3] = 0x64;  // joint stereo: the tag sits 36 bytes in
  const uint8_t tag[] = {'X', 'i', 'n', 'g', 0, 0, 0, 0x0B, 0, 0, 0x12, 0x34, 0, 1, 0, 0};
  std::memcpy(frame.data() + 36, tag, sizeof tag);
  frame[36 + 16] = 0;  // quality follows the byte count (no table of contents)
  frame[36 + 19] = 77;
  mpegaudio::MpegHeader h;
  int32_t bitrate = 0, skip = 0;
  ASSERT_GT(mpegaudio::findHeader(frame.data(), int32_t(frame.size()), &h, &bitrate, &skip), 0);
  const mpegaudio::VbrInfo v = mpegaudio::readVbrHeader(frame.data(), frame.size(), h);
  EXPECT_TRUE(v.present);
  EXPECT_EQ(v.flags, 0x0B);
  EXPECT_EQ(v.frames, 0x1234);
  EXPECT_EQ(v.bytes, 0x10000);
  EXPECT_EQ(v.quality, 77);
  // Cut short: the tag cannot be read, and nothing outside the bytes is touched.
  EXPECT_FALSE(mpegaudio::readVbrHeader(frame.data(), 40, h).present);
  frame[36] = 'x';
  EXPECT_FALSE(mpegaudio::readVbrHeader(frame.data(), frame.size(), h).present);
}

// The walk reads through a bounded window: a tag, junk and damage longer
// than the window, and frames straddling its refills, give what a window
// holding the whole file gives.
TEST(Walk, BoundedWindowMatchesWholeFile) {
  const std::vector<uint8_t> clean = bytesOf(lean("M2L3_compl24.bit"));
  std::mt19937 rng(99);
  // Junk of several lengths puts the stream at several places against the
  // window's steps.
  for (size_t junk : {100000u, 104099u, 108198u, 112297u, 116396u, 120495u}) {
    SCOPED_TRACE(junk);
    std::vector<uint8_t> bytes = id3Tag(150000);
    for (size_t i = 0; i < junk; ++i) bytes.push_back(uint8_t(rng() & 0x7F));
    for (int copy = 0; copy < 4; ++copy) {
      const size_t start = bytes.size();
      bytes.insert(bytes.end(), clean.begin(), clean.end());
      // Damage in the middle of each copy: resynchronisation.
      for (size_t i = start + clean.size() / 2; i < start + clean.size() / 2 + 300; ++i) bytes[i] = uint8_t(rng());
    }
    auto walk = [&](size_t window, mpegaudio::StreamSummary* s) {
      mpegaudio::MemorySource source(bytes.data(), bytes.size());
      std::vector<uint8_t> pcm;
      const mpegaudio::PcmSink sink = [&](const uint8_t* p, size_t n) {
        pcm.insert(pcm.end(), p, p + n);
        return true;
      };
      EXPECT_TRUE(mpegaudio::decodeStream(source, mpegaudio::StreamOptions{}, sink, s, window));
      return pcm;
    };
    mpegaudio::StreamSummary whole, bounded;
    const std::vector<uint8_t> expected = walk(bytes.size() * 4, &whole);
    const std::vector<uint8_t> got = walk(mpegaudio::kMinimumWalkWindow, &bounded);
    ASSERT_TRUE(whole.locked);
    EXPECT_GT(whole.framesDecoded, 4 * 200);
    EXPECT_GE(whole.resyncs, 4);
    EXPECT_EQ(bounded.framesDecoded, whole.framesDecoded);
    EXPECT_EQ(bounded.resyncs, whole.resyncs);
    EXPECT_EQ(got, expected);
  }
}

// A sink that refuses stops the walk.
TEST(Walk, SinkStopsTheWalk) {
  const std::vector<uint8_t> clean = bytesOf(lean("l2-fl13.bit"));
  mpegaudio::MemorySource source(clean.data(), clean.size());
  int calls = 0;
  const mpegaudio::PcmSink sink = [&](const uint8_t*, size_t) { return ++calls < 3; };
  mpegaudio::StreamSummary s;
  EXPECT_FALSE(mpegaudio::decodeStream(source, mpegaudio::StreamOptions{}, sink, &s));
  EXPECT_EQ(calls, 3);
}

// A tag whose declared length runs past the end of the file (a cut or lying
// tag) does not hide the stream behind its header.
TEST(Walk, Id3v2LongerThanTheFileIsPassedByItsHeader) {
  const std::vector<uint8_t> clean = bytesOf(lean("l3-hecommon.bit"));
  mpegaudio::StreamSummary plain;
  const std::vector<uint8_t> ref = decodeAll(clean, mpegaudio::StreamOptions{}, &plain);
  std::vector<uint8_t> bytes = id3Tag(0);
  const size_t declared = 1000000;
  bytes[6] = uint8_t((declared >> 21) & 0x7F);
  bytes[7] = uint8_t((declared >> 14) & 0x7F);
  bytes[8] = uint8_t((declared >> 7) & 0x7F);
  bytes[9] = uint8_t(declared & 0x7F);
  bytes.insert(bytes.end(), clean.begin(), clean.end());
  EXPECT_EQ(mpegaudio::id3v2Size(bytes.data(), bytes.size()), 10u);
  mpegaudio::StreamSummary s;
  const std::vector<uint8_t> out = decodeAll(bytes, mpegaudio::StreamOptions{}, &s);
  EXPECT_TRUE(s.locked);
  EXPECT_EQ(s.framesDecoded, plain.framesDecoded);
  EXPECT_EQ(out, ref);
}
