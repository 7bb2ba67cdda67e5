// MpegDecoder: header and sync search, the VBR header, media information,
// the output buffer, the decoder thread's stream of events and PCM, resync
// after a bad frame, seeking and tearing a chain down.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "mpegaudio/mpegaudio.h"
#include "platform/files.h"
#include "player/localfileinput.h"
#include "player/logfile.h"
#include "player/mpegdecoder.h"
#include "player/playercontext.h"
#include "player/preferences.h"
#include "player/pullbuffer.h"
#include "tests/common/testenv.h"
#include "tests/player/testsink.h"

namespace {

using namespace std::chrono_literals;

std::string fixture() { return testenv::readFile(testenv::dataDir() + "/player/hecommon.mp3"); }

// Every frame of a stream decoded by the core alone, as the decoder stage
// sets it up.
std::vector<std::string> coreDecode(const std::string& bytes) {
  std::vector<std::string> frames;
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  mpegaudio::MpegHeader h;
  int32_t bitrate = 0, skip = 0;
  int32_t frameBytes = mpegaudio::findHeader(data, static_cast<int32_t>(bytes.size()), &h, &bitrate, &skip);
  if (frameBytes <= 0 || !mpegaudio::decodeInit(&h, frameBytes, 0, 0, 0, 24000)) return frames;
  mpegaudio::DecoderInfo info;
  mpegaudio::decodeInfo(&info);
  std::string pcm(static_cast<size_t>(info.frameBytes), '\0');
  size_t pos = static_cast<size_t>(skip);
  while (pos < bytes.size()) {
    auto r = mpegaudio::decodeFrame(data + pos, static_cast<int32_t>(bytes.size() - pos), pcm.data());
    if (r.consumed <= 0) break;
    frames.push_back(pcm.substr(0, static_cast<size_t>(r.produced)));
    pos += static_cast<size_t>(r.consumed);
  }
  return frames;
}

// Offsets of the frames of a stream, walking the frame lengths.
std::vector<size_t> frameOffsets(const std::string& bytes) {
  std::vector<size_t> out;
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  size_t pos = 0;
  while (pos + 4 <= bytes.size()) {
    mpegaudio::MpegHeader h;
    int32_t bitrate = 0, skip = 0;
    int32_t n = mpegaudio::findHeader(data + pos, static_cast<int32_t>(bytes.size() - pos), &h, &bitrate, &skip);
    if (n <= 0) break;
    out.push_back(pos + static_cast<size_t>(skip));
    pos += static_cast<size_t>(skip) + static_cast<size_t>(n) + static_cast<size_t>(mpegaudio::paddingBytes(h));
  }
  return out;
}

// `count` frames with the given header bytes and silent (zero) bodies.
std::string zeroFrames(uint8_t b1, uint8_t b2, uint8_t b3, size_t frameLength, int count) {
  std::string frame(frameLength, '\0');
  frame[0] = '\xFF';
  frame[1] = static_cast<char>(b1);
  frame[2] = static_cast<char>(b2);
  frame[3] = static_cast<char>(b3);
  std::string out;
  for (int i = 0; i < count; ++i) out += frame;
  return out;
}

// A first frame carrying a Xing header with frame count, byte count and a
// table of contents toc[i] = 2 i, shaped like the stream's own frames.
std::string xingFrame(const std::string& stream, int32_t frames) {
  std::string f(417, '\0');
  f[0] = stream[0];
  f[1] = stream[1];
  f[2] = static_cast<char>(stream[2] & ~0x02);  // no padding
  f[3] = stream[3];
  size_t pos = 36;  // MPEG-1, two channels
  std::memcpy(&f[pos], "Xing", 4);
  pos += 4;
  auto be32 = [&](uint32_t v) {
    f[pos++] = static_cast<char>(v >> 24);
    f[pos++] = static_cast<char>(v >> 16);
    f[pos++] = static_cast<char>(v >> 8);
    f[pos++] = static_cast<char>(v);
  };
  be32(7);
  be32(static_cast<uint32_t>(frames));
  be32(static_cast<uint32_t>(stream.size() + 417));
  for (int i = 0; i < 100; ++i) f[pos++] = static_cast<char>(2 * i);
  return f;
}

// A decoder whose input buffer is filled directly with a whole stream.
struct BufferFed {
  RecordingQueue queue;
  PlayerContext context;
  std::unique_ptr<PullBuffer> buffer;
  std::unique_ptr<MpegDecoder> decoder;
  explicit BufferFed(const std::string& bytes, LogFile* log = nullptr) {
    context.target = &queue;
    context.log = log;
    buffer = std::make_unique<PullBuffer>(std::max<size_t>(65536, bytes.size()), 8192, &context);
    void* p = nullptr;
    if (!bytes.empty() && buffer->beginWrite(p, bytes.size()) == kError_NoErr) {
      std::memcpy(p, bytes.data(), bytes.size());
      buffer->endWrite(bytes.size());
    }
    buffer->setEndOfStream(true);
    decoder = std::make_unique<MpegDecoder>(&context);
    decoder->setInputBuffer(buffer.get());
  }
};

TEST(HeaderSearchTest, FrameSizeAndLayerDecide) {
  struct Case {
    const char* name;
    std::string stream;
    int32_t frameBytes;  // -1: the search fails
  } cases[] = {
      // 320 kbit/s at 32 kHz: the largest Layer III frame, 1440 bytes, and
      // 1441 with its padding byte (the limit counts the frame without it).
      {"layer3-1440", zeroFrames(0xFB, 0xE8, 0x00, 1440, 8), 1440},
      {"layer3-1441-padded", zeroFrames(0xFB, 0xEA, 0x00, 1441, 8), 1440},
      // 384 kbit/s at 32 kHz: 1728-byte Layer II frames.
      {"layer2-1728", zeroFrames(0xFD, 0xE8, 0x00, 1728, 8), -1},
      {"layer2-1253", zeroFrames(0xFD, 0xE0, 0x00, 1253, 8), 1253},  // 384 kbit/s at 44.1 kHz
      {"layer1", zeroFrames(0xFF, 0xE0, 0x00, 484, 20), -1},
      {"junk", std::string(5000, '\x12'), -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BufferFed fed(c.stream);
    ErrorCode rc = fed.decoder->canDecode();
    if (c.frameBytes > 0) {
      EXPECT_EQ(rc, kError_NoErr);
    } else {
      EXPECT_NE(rc, kError_NoErr);
    }
    EXPECT_EQ(fed.decoder->frameBytes(), c.frameBytes);
  }
}

TEST(HeaderSearchTest, ThirtyTwoRoundsWithoutFramesGiveNoSync) {
  // Sync-like bytes every 1000 bytes that never make a header: each round
  // ends in one sync search that moves on to the next of them.
  std::string block(1000, '\0');
  block[0] = '\xFF';
  block[1] = '\xF0';  // layer bits 00: reserved
  std::string stream;
  for (int i = 0; i < 40; ++i) stream += block;
  BufferFed fed(stream);
  EXPECT_EQ(fed.decoder->canDecode(), kDecoderError_NoSyncFound);
  // Without further candidates the search runs out of stream instead.
  BufferFed junk(std::string(6000, '\x12'));
  EXPECT_EQ(junk.decoder->canDecode(), kError_EndOfStream);
}

TEST(HeaderSearchTest, CanDecodeNeedsAnInput) {
  RecordingQueue queue;
  PlayerContext context;
  context.target = &queue;
  MpegDecoder decoder(&context);
  EXPECT_EQ(decoder.canDecode(), kError_PluginNotInitialized);
  EXPECT_EQ(decoder.initDecoder(), kError_NullValueInvalid);
  MpegStatistics s;
  EXPECT_EQ(decoder.statistics(s), kError_NullValueInvalid);
  EXPECT_EQ(decoder.extensions(), (std::vector<std::string>{"MP3", "MP2", "MP1"}));
}

TEST(VbrHeaderTest, ParsedFromTheFirstFrame) {
  std::string song = fixture();
  ASSERT_FALSE(song.empty());
  BufferFed fed(xingFrame(song, 200) + song);
  ASSERT_EQ(fed.decoder->canDecode(), kError_NoErr);
  XingVbrHeader x;
  ASSERT_TRUE(fed.decoder->vbrHeader(x));
  EXPECT_EQ(x.flags, 7);
  EXPECT_EQ(x.frames, 200);
  EXPECT_EQ(x.bytes, static_cast<int32_t>(song.size() + 417));
  EXPECT_EQ(x.toc[10], 20);
  EXPECT_EQ(x.quality, -1);
  EXPECT_TRUE(x.mpeg1);
  EXPECT_EQ(x.sampleRate, 44100);

  BufferFed plain(song);
  ASSERT_EQ(plain.decoder->canDecode(), kError_NoErr);
  EXPECT_FALSE(plain.decoder->vbrHeader(x));

  // A tag whose table would run past the bytes at hand is no header.
  std::string cut = xingFrame(song, 200).substr(0, 60);
  mpegaudio::MpegHeader h = plain.decoder->header();
  EXPECT_FALSE(parseXingHeader(reinterpret_cast<const uint8_t*>(cut.data()), cut.size(), h, x));
}

// A whole chain as the Player builds it, without the sound output: the
// test reads the decoder's EventBuffer the way the output stage does.
struct Chain {
  RecordingQueue queue;
  PlayerContext context;
  std::unique_ptr<PipelineUnit> outputStub;
  std::unique_ptr<LocalFileInput> input;
  std::unique_ptr<MpegDecoder> decoder;
  PullBuffer* in = nullptr;
  EventBuffer* out = nullptr;

  Chain(const std::string& path, LogFile* log = nullptr, Preferences* prefs = nullptr) {
    context.target = &queue;
    context.log = log;
    context.prefs = prefs;
    outputStub = std::make_unique<PipelineUnit>(&context);
    input = std::make_unique<LocalFileInput>(&context);
    decoder = std::make_unique<MpegDecoder>(&context);
    decoder->setInput(input.get());
    decoder->setOutput(outputStub.get());
    EXPECT_EQ(input->setTo(path.c_str()), kError_NoErr);
    EXPECT_EQ(input->prepare(in), kError_NoErr);
    EXPECT_EQ(decoder->prepare(in, out), kError_NoErr);
  }
  // The output stage goes first; it deletes the decoder, then the input.
  ~Chain() {
    decoder.reset();
    input.reset();
  }
};

struct Token {
  char kind;  // F format, M frame marker, P one PCM frame, E end of stream
  int32_t value;
};

struct Played {
  std::vector<Token> tokens;
  std::string pcm;
  OutputInfo info;
  size_t outputSize = 0;
  bool ended = false;
};

Played play(Chain& c, size_t maxFrames = SIZE_MAX) {
  Played r;
  size_t frame = 0;
  bool initialised = false, eos = false;
  c.decoder->wake();
  auto deadline = std::chrono::steady_clock::now() + 20s;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!initialised) {
      std::unique_ptr<Event> e = c.out->getEvent();
      if (!e) {
        if (c.queue.waitFor(INFO_DoneOutputtingDueToError, 0ms)) break;
        c.decoder->wake();
        std::this_thread::sleep_for(1ms);
        continue;
      }
      if (e->type() == kStreamEvent_Format) {
        initialised = true;
        r.info = static_cast<FormatEvent*>(e.get())->info;
        r.outputSize = c.out->size();
        r.tokens.push_back({'F', 0});
      }
      continue;
    }
    void* p = nullptr;
    size_t f = static_cast<size_t>(r.info.pcmFrameBytes);
    ErrorCode rc = c.out->beginRead(p, f);
    if (rc == kError_NoErr) {
      r.pcm.append(static_cast<char*>(p), f);
      c.out->endRead(f);
      r.tokens.push_back({'P', static_cast<int32_t>(frame++)});
      c.decoder->wake();
      if (frame >= maxFrames) break;
    } else if (rc == kError_EventPending) {
      std::unique_ptr<Event> e = c.out->getEvent();
      if (e->type() == kStreamEvent_FrameMarker)
        r.tokens.push_back({'M', static_cast<FrameMarkerEvent*>(e.get())->frame});
      if (e->type() == kStreamEvent_EndOfStream) {
        r.tokens.push_back({'E', 0});
        eos = true;
      }
    } else if (rc == kError_NoDataAvail) {
      if (eos) {
        r.ended = true;
        break;
      }
      c.decoder->wake();
      std::this_thread::sleep_for(1ms);
    } else {
      ADD_FAILURE() << "beginRead answered " << rc;
      break;
    }
  }
  return r;
}

std::string joined(const std::vector<std::string>& frames) {
  std::string s;
  for (auto& f : frames) s += f;
  return s;
}

class DecoderStageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoryPreferences::instance().clear();
    dir_ = testenv::freshDir("decoder");
    song_ = fixture();
    ASSERT_FALSE(song_.empty());
  }
  void TearDown() override { MemoryPreferences::instance().clear(); }
  std::string file(const std::string& name, const std::string& bytes) {
    std::string path = platform::joinPath(dir_, name);
    EXPECT_TRUE(testenv::writeFile(path, bytes));
    return path;
  }
  std::string dir_, song_;
};

TEST_F(DecoderStageTest, WholeFileGivesFormatMarkersSamePcmAndEnd) {
  Preferences prefs;  // "OutputBufferSize" 512
  std::string path = file("song.mp3", song_);
  Played r;
  {
    Chain c("file://" + path, nullptr, &prefs);
    r = play(c);
  }
  std::vector<std::string> core = coreDecode(song_);
  ASSERT_GT(core.size(), 20u);
  ASSERT_TRUE(r.ended);

  // 44.1 kHz 16-bit stereo MPEG-1: 4608 bytes a frame, 113 of them in 512 KiB.
  EXPECT_EQ(r.info.pcmFrameBytes, 4608);
  EXPECT_EQ(r.info.samplesPerFrame, 1152);
  EXPECT_EQ(r.info.sampleRate, 44100);
  EXPECT_EQ(r.info.channels, 2);
  EXPECT_EQ(r.info.bitsPerSample, 16);
  EXPECT_EQ(r.outputSize, 113u * 4608u);

  EXPECT_EQ(r.pcm.size(), core.size() * 4608);
  EXPECT_TRUE(r.pcm == joined(core));

  // Format first; marker n before frame n; end of stream the last event.
  ASSERT_FALSE(r.tokens.empty());
  EXPECT_EQ(r.tokens.front().kind, 'F');
  std::vector<size_t> markerAt, frameAt;
  size_t lastEvent = 0;
  for (size_t i = 0; i < r.tokens.size(); ++i) {
    if (r.tokens[i].kind == 'M') {
      EXPECT_EQ(r.tokens[i].value, static_cast<int32_t>(markerAt.size()));
      markerAt.push_back(i);
    }
    if (r.tokens[i].kind == 'P') frameAt.push_back(i);
    if (r.tokens[i].kind != 'P') lastEvent = i;
  }
  ASSERT_EQ(frameAt.size(), core.size());
  ASSERT_GE(markerAt.size(), frameAt.size());
  for (size_t n = 0; n < frameAt.size(); ++n) EXPECT_LT(markerAt[n], frameAt[n]) << n;
  EXPECT_EQ(r.tokens[lastEvent].kind, 'E');
}

TEST_F(DecoderStageTest, MediaInformationReachesThePlayer) {
  Preferences prefs;
  std::string path = file("info.mp3", song_);
  {
    Chain c(path, nullptr, &prefs);
    play(c, 1);
    ASSERT_TRUE(c.queue.waitFor(INFO_MediaInfo));
    auto events = c.queue.take();
    auto* media = static_cast<MediaInfoEvent*>(events.front().get());
    ASSERT_EQ(media->type(), INFO_MediaInfo);
    EXPECT_EQ(media->url, path);
    ASSERT_EQ(media->attached.size(), 1u);
    auto* info = static_cast<MpegInfoEvent*>(media->attached[0].get());
    EXPECT_EQ(info->type(), INFO_MPEGInfo);
    int32_t frames = static_cast<int32_t>(song_.size()) / 417;
    EXPECT_EQ(info->frameBytes, 417);
    EXPECT_EQ(info->totalFrames, frames);
    EXPECT_EQ(info->bitrate, 128000);
    EXPECT_EQ(info->sampleRate, 44100);
    EXPECT_EQ(info->layer, 3);
    EXPECT_EQ(info->mpegVersion, 1);
    EXPECT_EQ(info->channels, 2);
    EXPECT_NEAR(info->secondsPerFrame, 1152.0 / 44100.0, 1e-6);
    EXPECT_NEAR(media->totalSeconds, frames * 1152.0 / 44100.0, 1e-3);
  }
  MpegDecoder probe(nullptr);
  EXPECT_NEAR(probe.songLength(("file://" + path).c_str()), (song_.size() / 417) * 1152.0 / 44100.0, 1e-3);
  EXPECT_EQ(probe.songLength(path.c_str()), 0.0f);  // not a file URL
  EXPECT_EQ(probe.songLength("file:///no/such/file.mp3"), 0.0f);
  std::string vbrPath = file("vbr.mp3", xingFrame(song_, 200) + song_);
  EXPECT_NEAR(probe.songLength(("file://" + vbrPath).c_str()), 200 * 1152.0 / 44100.0, 1e-3);
}

TEST_F(DecoderStageTest, Id3v24TagIsPassedBySyncSearch) {
  std::string path = platform::joinPath(dir_, "tagged.log");
  LogFile log(path);
  ASSERT_TRUE(log.open());
  log.setCategoryMask(1 << LogDecode);
  std::string tag = std::string("ID3\x04\x00\x00\x00\x00\x02\x2C", 10) + std::string(300, '\0');
  std::string mp3 = file("tagged.mp3", tag + song_);
  Played r;
  {
    Chain c(mp3, &log);
    r = play(c);
  }
  log.close();
  EXPECT_TRUE(r.ended);
  EXPECT_TRUE(r.pcm == joined(coreDecode(song_)));
  EXPECT_NE(testenv::readFile(path).find("Decode: Skipped 300 bytes in advance frame.\n"), std::string::npos);
}

TEST_F(DecoderStageTest, CorruptFrameIsSkippedOnceAndDecodingGoesOn) {
  std::vector<size_t> offsets = frameOffsets(song_);
  ASSERT_GT(offsets.size(), 20u);
  // A frame in the middle is lost: its bytes are zeros.
  size_t k = 12;
  size_t length = offsets[k + 1] - offsets[k];
  std::string broken = song_;
  broken.replace(offsets[k], length, std::string(length, '\0'));

  std::string logPath = platform::joinPath(dir_, "corrupt.log");
  LogFile log(logPath);
  ASSERT_TRUE(log.open());
  log.setCategoryMask(1 << LogDecode);
  Played r;
  std::vector<int32_t> posted;
  {
    Chain c(file("broken.mp3", broken), &log);
    r = play(c);
    posted = c.queue.types();
  }
  log.close();
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.pcm.size(), (offsets.size() - 1) * 4608);
  // Everything before the bad frame is as the core alone decodes it.
  std::vector<std::string> core = coreDecode(song_);
  EXPECT_TRUE(r.pcm.substr(0, k * 4608) == joined(core).substr(0, k * 4608));
  std::string text = testenv::readFile(logPath);
  size_t first = text.find("Skipped ");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(text.find("Skipped ", first + 1), std::string::npos);
  EXPECT_NE(text.find("Decode: Skipped " + std::to_string(length) + " bytes in advance frame.\n"), std::string::npos);
  for (int32_t t : posted) EXPECT_NE(t, INFO_ErrorMessage);
}

TEST_F(DecoderStageTest, UndecodableFileIsReported) {
  std::string path = file("noise.mp3", std::string(20000, '\x33'));
  Chain c(path);
  // Woken as the output stage does while it waits for the format.
  bool failed = false;
  for (int i = 0; i < 10000 && !failed; ++i) {
    c.decoder->wake();
    failed = c.queue.waitFor(INFO_DoneOutputtingDueToError, 1ms);
  }
  ASSERT_TRUE(failed);
  EXPECT_EQ(c.queue.messages(INFO_ErrorMessage),
            std::vector<std::string>{"Tessolar cannot play this file/stream. This file/stream may be corrupted."});
}

// Waits until the input stage has read the whole (small) file.
void waitForWholeFile(PullBuffer* in, LocalFileInput& input) {
  input.wake();
  for (int i = 0; i < 5000 && !in->isEndOfStream(); ++i) std::this_thread::sleep_for(1ms);
  ASSERT_TRUE(in->isEndOfStream());
}

std::string bufferContents(PullBuffer* in) {
  void* p = nullptr;
  size_t n = in->used();
  if (n == 0 || in->beginRead(p, n) != kError_NoErr) return {};
  std::string s(static_cast<char*>(p), n);
  in->endRead(0);
  return s;
}

// Seeking without the decoder thread: the stage works on the Player's
// thread while the chain is paused.
TEST_F(DecoderStageTest, SeekingLandsOnFrameBytesOrTheTableOfContents) {
  struct Case {
    const char* name;
    std::string bytes;
    int32_t frame;
    size_t expected;
  };
  std::string vbr = xingFrame(song_, 200) + song_;
  Case cases[] = {
      {"cbr", song_, 5, 5 * 417},
      {"cbr-start", song_, 0, 0},
      {"toc", vbr, 51, 51 * vbr.size() / 256},  // p = 25.5 between toc 50 and 52
      {"toc-start", vbr, 0, 0},
      {"toc-end", vbr, 400, vbr.size()},  // clamped to the end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingQueue queue;
    PlayerContext context;
    context.target = &queue;
    LocalFileInput input(&context);
    MpegDecoder decoder(&context);
    input.setTo(file(std::string(c.name) + ".mp3", c.bytes).c_str());
    PullBuffer* in = nullptr;
    ASSERT_EQ(input.prepare(in), kError_NoErr);
    decoder.setInput(&input);
    decoder.setInputBuffer(in);
    waitForWholeFile(in, input);
    EXPECT_EQ(decoder.changePosition(c.frame), kError_SeekFailed);  // nothing known yet
    EXPECT_EQ(decoder.nextFrame(), 0);
    ASSERT_EQ(decoder.canDecode(), kError_NoErr);

    input.pause();
    ASSERT_EQ(decoder.changePosition(c.frame), kError_NoErr);
    EXPECT_EQ(decoder.nextFrame(), c.frame);
    input.resume();
    waitForWholeFile(in, input);
    EXPECT_TRUE(bufferContents(in) == c.bytes.substr(std::min(c.expected, c.bytes.size())));
  }
}

// As the output stage seeks: pause all, clear all, move, resume; then read
// on from the emptied buffer (the format is known by then).
Played seekAndPlayOn(Chain& c, int32_t frame) {
  c.decoder->pause();
  c.input->pause();
  c.decoder->clear();
  c.input->clear();
  EXPECT_EQ(c.decoder->changePosition(frame), kError_NoErr);
  c.input->resume();
  c.decoder->resume();

  Played r;
  const size_t f = 4608;
  bool eos = false;
  auto deadline = std::chrono::steady_clock::now() + 20s;
  while (std::chrono::steady_clock::now() < deadline) {
    void* p = nullptr;
    ErrorCode rc = c.out->beginRead(p, f);
    if (rc == kError_NoErr) {
      r.pcm.append(static_cast<char*>(p), f);
      c.out->endRead(f);
      c.decoder->wake();
    } else if (rc == kError_EventPending) {
      auto e = c.out->getEvent();
      if (e->type() == kStreamEvent_FrameMarker)
        r.tokens.push_back({'M', static_cast<FrameMarkerEvent*>(e.get())->frame});
      if (e->type() == kStreamEvent_EndOfStream) eos = true;
    } else if (rc == kError_NoDataAvail) {
      if (eos) break;
      c.decoder->wake();
      std::this_thread::sleep_for(1ms);
    } else {
      ADD_FAILURE() << rc;
      break;
    }
  }
  r.ended = eos;
  return r;
}

TEST_F(DecoderStageTest, SeekWhilePlayingRestartsAtTheFrame) {
  std::string path = file("seekplay.mp3", song_);
  std::vector<std::string> core = coreDecode(song_);
  for (int32_t frame : {1, 10}) {
    SCOPED_TRACE(frame);
    Chain c(path);
    Played first = play(c, 3);
    ASSERT_EQ(first.tokens.front().kind, 'F');
    Played r = seekAndPlayOn(c, frame);
    ASSERT_TRUE(r.ended);
    ASSERT_FALSE(r.tokens.empty());
    EXPECT_EQ(r.tokens.front().value, frame);
    for (size_t i = 1; i < r.tokens.size(); ++i) EXPECT_EQ(r.tokens[i].value, r.tokens[i - 1].value + 1);
    if (frame == 1) {
      // 417 bytes in is exactly where frame 1 starts: the song goes on from
      // there as a fresh decoding of the rest would.
      EXPECT_TRUE(r.pcm == joined(coreDecode(song_.substr(417))));
    } else {
      // 10 x 417 falls inside a frame: the decoder finds the next one and
      // goes on to the end.
      EXPECT_GT(r.pcm.size(), 0u);
      EXPECT_LE(r.pcm.size(), (core.size() - 10) * 4608);
    }
  }
}

// Tearing a chain down at any moment joins every thread.
TEST_F(DecoderStageTest, TeardownNeverHangs) {
  std::string path = file("teardown.mp3", song_ + song_ + song_ + song_);
  struct Moment {
    const char* name;
    int framesFirst;  // -1: never woken
    bool pauseFirst;
  } moments[] = {
      {"before-start", -1, false},
      {"mid-song-output-full", 2, false},
      {"paused", 2, true},
      {"at-end", 1000, false},
  };
  for (const Moment& m : moments) {
    SCOPED_TRACE(m.name);
    auto done = std::async(std::launch::async, [&] {
      Preferences prefs;
      prefs.setPrefInt32("OutputBufferSize", 64);  // fills quickly
      Chain c(path, nullptr, &prefs);
      if (m.framesFirst >= 0) play(c, static_cast<size_t>(m.framesFirst));
      if (m.pauseFirst) {
        c.decoder->pause();
        c.input->pause();
      }
      std::this_thread::sleep_for(20ms);
    });
    ASSERT_EQ(done.wait_for(15s), std::future_status::ready);
  }
}

}  // namespace
