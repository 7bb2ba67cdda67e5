// SoundCardOutput: a song through the whole chain into the capture device,
// the buffer geometry, the state machine with its underrun cover, pause and
// resume, seeking, and a machine without sound.
#include "player/soundcardoutput.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/sound.h"
#include "player/localfileinput.h"
#include "player/mpegdecoder.h"
#include "player/playercontext.h"
#include "player/playerevents.h"
#include "player/preferences.h"
#include "player/pullbuffer.h"
#include "tests/common/testenv.h"
#include "tests/player/soundtesthelpers.h"
#include "tests/player/testsink.h"

using namespace soundtest;

namespace {

constexpr int32_t kF = 4608;  // 1152 samples, 16-bit stereo
constexpr int kSamples = 1152;

class OutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    prefs_ = std::make_unique<Preferences>();
    ctx_.prefs = prefs_.get();
    ctx_.target = &queue_;
  }
  void TearDown() override { platform::soundUseSdl(); }

  // Input, output and decoder wired as the Player wires them.
  std::unique_ptr<SoundCardOutput> chain() {
    auto input = std::make_unique<LocalFileInput>(&ctx_);
    auto output = std::make_unique<SoundCardOutput>(&ctx_);
    auto decoder = std::make_unique<MpegDecoder>(&ctx_);
    decoder->setInput(input.get());
    decoder->setOutput(output.get());
    output->setInput(std::move(input));
    output->setDecoder(std::move(decoder));
    return output;
  }

  std::vector<const MediaTimeInfoEvent*> times(std::vector<std::unique_ptr<Event>>& events) {
    std::vector<const MediaTimeInfoEvent*> out;
    for (auto& e : events)
      if (e->type() == INFO_MediaTimeInfo) out.push_back(static_cast<const MediaTimeInfoEvent*>(e.get()));
    return out;
  }

  std::unique_ptr<Preferences> prefs_;
  RecordingQueue queue_;
  PlayerContext ctx_;
};

// Feeds an EventBuffer as the decoder stage would: the format, then a frame
// marker before every frame.  Frame k (1-based) holds the sample value k.
struct Feeder {
  explicit Feeder(PlayerContext* ctx) : eb(40 * kF, 0, ctx) {}
  void format() {
    OutputInfo info;
    info.bitsPerSample = 16;
    info.channels = 2;
    info.sampleRate = 44100;
    info.pcmFrameBytes = kF;
    info.samplesPerFrame = kSamples;
    eb.acceptEvent(std::make_unique<FormatEvent>(info));
  }
  void frames(int n) {
    for (int i = 0; i < n; ++i, ++next) {
      eb.acceptEvent(std::make_unique<FrameMarkerEvent>(next - 1));
      void* p = nullptr;
      ASSERT_EQ(eb.beginWrite(p, kF), kError_NoErr);
      std::vector<int16_t> s(kF / 2, static_cast<int16_t>(next));
      std::memcpy(p, s.data(), kF);
      ASSERT_EQ(eb.endWrite(kF), kError_NoErr);
    }
  }
  // The end of the stream after the last frame.
  void end() { eb.acceptEvent(std::make_unique<Event>(kStreamEvent_EndOfStream)); }
  EventBuffer eb;
  int next = 1;
};

// The sample frames of consecutive frames numbered in `numbers`, each `count` long.
std::vector<uint32_t> expectedFrames(const std::vector<int>& numbers) {
  std::vector<uint32_t> out;
  for (int n : numbers) out.insert(out.end(), kSamples, static_cast<uint32_t>(n) * 0x10001u);
  return out;
}

bool isPrefix(const std::vector<uint32_t>& got, const std::vector<uint32_t>& expected) {
  return got.size() <= expected.size() && std::equal(got.begin(), got.end(), expected.begin());
}

// Milliseconds of sound of `samples` sample frames at 44.1 kHz (rounded down).
DWORD msOf(double samples) { return static_cast<DWORD>(samples * 1000.0 / 44100.0); }

}  // namespace

TEST_F(OutputTest, ASongThroughTheWholeChainIsTheDecodersPcm) {
  const std::string file = testenv::readFile(songPath());
  ASSERT_FALSE(file.empty());
  int32_t frameBytes = 0;
  const auto reference = referenceDecode(file, &frameBytes);
  ASSERT_EQ(frameBytes, kF);
  const size_t count = reference.size() / kF;
  ASSERT_EQ(reference.size(), count * kF);
  ASSERT_GE(count, 20u);

  useCapture(3);
  std::unique_ptr<SoundCardOutput> out = chain();
  ASSERT_EQ(out->setTo(songPath().c_str()), kError_NoErr);
  out->resume();
  ASSERT_TRUE(queue_.waitFor(INFO_SongFinished)) << "the song never finished";
  out.reset();

  const auto heard = audible(frames(platform::soundCaptureTake()));
  const auto expect = audible(frames(reference));
  ASSERT_FALSE(expect.empty());
  EXPECT_EQ(heard.size(), expect.size());
  size_t firstDiff = 0;
  while (firstDiff < heard.size() && firstDiff < expect.size() && heard[firstDiff] == expect[firstDiff]) ++firstDiff;
  EXPECT_TRUE(heard == expect) << "the PCM heard differs from the decoder core's at audible frame " << firstDiff;

  auto events = queue_.take();
  auto t = times(events);
  // One play position per frame, and one for the frame that never came.
  ASSERT_EQ(t.size(), count + 1);
  for (size_t i = 1; i < t.size(); ++i) EXPECT_GE(t[i]->totalSeconds, t[i - 1]->totalSeconds);
  // Positions count what was heard: never past the song.
  EXPECT_LE(t.back()->totalSeconds, count * 1152 / 44100.0 + 0.001);
  EXPECT_EQ(t.back()->hours, 0);
  EXPECT_EQ(t.back()->minutes, 0);
  EXPECT_EQ(events.back()->type(), INFO_SongFinished);  // the end comes last
}

TEST_F(OutputTest, WithoutASoundDeviceNothingPlaysAndTheSongNeverEnds) {
  useCapture(3, /*devices=*/0);
  std::unique_ptr<SoundCardOutput> out = chain();
  EXPECT_EQ(out->deviceCount(), 0u);
  ASSERT_EQ(out->setTo(songPath().c_str()), kError_NoErr);
  out->resume();
  ASSERT_TRUE(queue_.waitFor(INFO_MediaInfo));  // the decoder did start
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(out->isInitialised());
  for (int32_t t : queue_.types()) EXPECT_NE(t, INFO_SongFinished);
  out.reset();
  EXPECT_TRUE(platform::soundCaptureTake().empty());
}

TEST_F(OutputTest, InitSetsTheGeometryFromTheFrameSize) {
  useCapture(0);
  SoundCardOutput out(&ctx_);
  ASSERT_EQ(out.deviceCount(), 1u);
  OutputInfo info{16, 2, 44100, kF, kSamples};
  ASSERT_EQ(out.init(info), kError_NoErr);
  auto g = out.geometry();
  EXPECT_EQ(g.size, 32u * kF);
  EXPECT_EQ(g.fullMark, 31u * kF);
  EXPECT_EQ(g.lowMark, 1u * kF);
  EXPECT_EQ(g.startMark, 3u * kF);
  EXPECT_EQ(g.silenceUnit, 4u * kF);
  EXPECT_EQ(out.bufferState(), 0);
  // A new format mid-song: a new buffer for the new frame size.
  OutputInfo mono{16, 1, 22050, 1152, 576};
  ASSERT_EQ(out.init(mono), kError_NoErr);
  EXPECT_EQ(out.geometry().size, 32u * 1152);

  platform::SoundCaptureOptions o;
  o.speed = 0;
  o.failSecondary = true;
  platform::soundUseCapture(o);
  SoundCardOutput failing(&ctx_);
  EXPECT_NE(failing.init(info), kError_NoErr);
  EXPECT_FALSE(failing.isInitialised());
  EXPECT_EQ(failing.bufferState(), -1);
}

TEST_F(OutputTest, PlaybackStartsAfterThreeFramesAndAnUnderrunIsCoveredWithSilence) {
  useCapture(0);
  Feeder feed(&ctx_);
  SoundCardOutput out(&ctx_);
  out.setInputBuffer(&feed.eb);
  feed.format();
  feed.frames(8);
  out.resume();
  ASSERT_TRUE(waitUntil([&] { return feed.eb.used() == 0 && out.bufferState() == 1; }));
  EXPECT_TRUE(platform::soundCaptureTake().empty());  // nothing heard before the clock moves

  // Play all but half a frame: the writer sees less than a frame queued.
  platform::soundCaptureAdvance(msOf(7.5 * kSamples));
  ASSERT_TRUE(waitUntil([&] { return out.bufferState() == 3; })) << "no underrun noticed";
  // The rest plays out, then the silence: the buffer stops and starts over.
  platform::soundCaptureAdvance(msOf(2.0 * kSamples));
  ASSERT_TRUE(waitUntil([&] { return out.bufferState() == 0; }));
  auto first = frames(platform::soundCaptureTake());
  platform::soundCaptureAdvance(100);
  EXPECT_TRUE(platform::soundCaptureTake().empty()) << "a stopped buffer is not heard";

  feed.frames(8);
  ASSERT_TRUE(waitUntil([&] { return feed.eb.used() == 0 && out.bufferState() == 1; }));
  platform::soundCaptureAdvance(msOf(7.5 * kSamples));
  auto second = frames(platform::soundCaptureTake());

  // Frames 1..8, silence, frames 9..
  const auto a = audible(first);
  EXPECT_EQ(a, expectedFrames({1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_GT(first.size(), a.size());  // the silence unit was heard
  const auto b = audible(second);
  EXPECT_GE(b.size(), 7u * kSamples);
  EXPECT_TRUE(isPrefix(b, expectedFrames({9, 10, 11, 12, 13, 14, 15, 16})));
}

TEST_F(OutputTest, PauseDropsWhatIsQueuedAndResumeGoesOnFromTheNextDecodedFrame) {
  useCapture(0);
  Feeder feed(&ctx_);
  SoundCardOutput out(&ctx_);
  out.setInputBuffer(&feed.eb);
  feed.format();
  feed.frames(10);
  out.resume();
  ASSERT_TRUE(waitUntil([&] { return feed.eb.used() == 0 && out.bufferState() == 1; }));
  platform::soundCaptureAdvance(msOf(2.5 * kSamples));

  out.pause();
  EXPECT_TRUE(out.isPaused());
  feed.frames(10);  // frames 11..20 wait in the event buffer
  platform::soundCaptureAdvance(100);
  auto before = audible(frames(platform::soundCaptureTake()));
  EXPECT_TRUE(isPrefix(before, expectedFrames({1, 2, 3})));
  EXPECT_GE(before.size(), 2u * kSamples);

  out.resume();
  ASSERT_TRUE(waitUntil([&] { return feed.eb.used() == 0 && out.bufferState() == 1; }));
  platform::soundCaptureAdvance(msOf(5 * kSamples));
  auto after = audible(frames(platform::soundCaptureTake()));
  EXPECT_GE(after.size(), 4u * kSamples);
  EXPECT_TRUE(isPrefix(after, expectedFrames({11, 12, 13, 14, 15})));
}

TEST_F(OutputTest, SeekingMovesThePlayPositionAndKeepsAPausedUnitPaused) {
  std::string dir = testenv::freshDir("seek");
  std::string song = longSong(dir, 6);  // 174 frames
  useCapture(2);
  std::unique_ptr<SoundCardOutput> out = chain();
  ASSERT_EQ(out->setTo(song.c_str()), kError_NoErr);
  out->resume();
  ASSERT_TRUE(queue_.waitFor(INFO_MediaTimeInfo));
  ASSERT_EQ(out->changePosition(120), kError_NoErr);
  EXPECT_FALSE(out->isPaused());
  // The positions after the seek count from frame 120.
  ASSERT_TRUE(waitUntil([&] {
    auto events = queue_.take();
    for (auto& e : events)
      if (e->type() == INFO_MediaTimeInfo &&
          static_cast<MediaTimeInfoEvent*>(e.get())->totalSeconds >= 120 * 1152 / 44100.0 - 0.01)
        return true;
    return false;
  }));
  out->pause();
  ASSERT_EQ(out->changePosition(10), kError_NoErr);
  EXPECT_TRUE(out->isPaused());
  out.reset();
}

// At the end of a song longer than the buffer the buffer is full of the
// song's last 0.8 s: whatever plays after its last sample must be silence,
// also while the end is being acted on (the chain goes some time later).
TEST_F(OutputTest, WhatFollowsTheLastSampleOfASongLongerThanTheBufferIsSilence) {
  useCapture(0);
  Feeder feed(&ctx_);
  SoundCardOutput out(&ctx_);
  out.setInputBuffer(&feed.eb);
  feed.format();
  feed.frames(40);  // more than the buffer's 32
  feed.end();
  out.resume();
  // The clock in steps of 10 ms, with time for the writer in between.
  ASSERT_TRUE(waitUntil([&] {
    platform::soundCaptureAdvance(10);
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    return queue_.waitFor(INFO_SongFinished, std::chrono::milliseconds(0));
  })) << "the song never finished";
  platform::soundCaptureAdvance(200);  // the Player deletes the chain a little later

  std::vector<int> all;
  for (int i = 1; i <= 40; ++i) all.push_back(i);
  const auto heard = frames(platform::soundCaptureTake());
  const auto a = audible(heard);
  EXPECT_EQ(a.size(), 40u * kSamples) << "sound from earlier in the song was heard after its end";
  EXPECT_TRUE(a == expectedFrames(all));
}
