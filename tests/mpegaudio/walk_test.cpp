// The whole-file walk of the mp3decode tool: ID3v2 tag, three consistent
// frames, resynchronisation over damage, VBR header.
#include <gtest/gtest.h>

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
