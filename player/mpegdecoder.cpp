#include "player/mpegdecoder.h"

#include <strings.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/bytes.h"
#include "player/localfileinput.h"
#include "player/logfile.h"
#include "player/playercontext.h"
#include "player/preferences.h"
#include "player/pullbuffer.h"

using mpegaudio::MpegHeader;

namespace {

constexpr int32_t kFrequencyLimit = 24000;
constexpr int32_t kDefaultOutputKb = 512;
constexpr int32_t kMinOutputKb = 64;
constexpr int32_t kMaxOutputKb = 64 * 1024;
// Enough of a file for every round of the header search.
constexpr size_t kSongLengthProbeBytes = 256 * 1024;

const char* const kCannotPlay = "Tessolar cannot play this file/stream. This file/stream may be corrupted.";
const char* const kCannotRead = "Cannot read MP3 data from input plugin.";
const char* const kCannotWrite = "Cannot write audio data to output buffer.";

int32_t bigEndian32(const uint8_t* p) { return static_cast<int32_t>(platform::readBe32(p)); }

bool isSyncPair(const uint8_t* p) { return p[0] == 0xFF && ((p[1] & 0xF0) == 0xF0 || (p[1] & 0xF0) == 0xE0); }

// The sample rate by MPEG version and index, as the media information
// reports it.
int32_t statisticsSampleRate(const MpegHeader& h) {
  static const int32_t kMpeg1[3] = {44100, 48000, 32000};
  static const int32_t kMpeg2[3] = {22050, 24000, 16000};
  if (h.sampleRateIndex < 0 || h.sampleRateIndex > 2) return 0;
  if (h.id == 1) return kMpeg1[h.sampleRateIndex];
  int32_t rate = kMpeg2[h.sampleRateIndex];
  return h.sync == 2 ? rate / 2 : rate;
}

// Samples per channel in one frame: Layer II keeps 1152 at the lower
// rates, only Layer III halves it.
int32_t samplesPerFrame(const MpegHeader& h) {
  int32_t n = mpegaudio::headerSamplesPerFrame(h);
  return n > 0 ? n : (h.id == 1 ? 1152 : 576);
}

}  // namespace

bool parseXingHeader(const uint8_t* frame, size_t length, const MpegHeader& header, XingVbrHeader& out) {
  size_t offset = header.id == 1 ? (header.mode == 3 ? 21 : 36) : (header.mode == 3 ? 13 : 21);
  if (length < offset + 8 || std::memcmp(frame + offset, "Xing", 4) != 0) return false;
  XingVbrHeader x;
  size_t pos = offset + 4;
  x.flags = bigEndian32(frame + pos);
  pos += 4;
  // A header whose announced fields run past the bytes at hand is taken as
  // no header at all.
  auto need = [&](size_t n) { return pos + n <= length; };
  if (x.flags & XingVbrHeader::kFramesFlag) {
    if (!need(4)) return false;
    x.frames = bigEndian32(frame + pos);
    pos += 4;
  }
  if (x.flags & XingVbrHeader::kBytesFlag) {
    if (!need(4)) return false;
    x.bytes = bigEndian32(frame + pos);
    pos += 4;
  }
  if (x.flags & XingVbrHeader::kTocFlag) {
    if (!need(100)) return false;
    std::memcpy(x.toc, frame + pos, 100);
    pos += 100;
  }
  if (x.flags & XingVbrHeader::kQualityFlag) {
    if (!need(4)) return false;
    x.quality = bigEndian32(frame + pos);
    pos += 4;
  }
  static const int32_t kRates[3] = {44100, 48000, 32000};
  x.mpeg1 = header.id == 1;
  x.sampleRate = header.sampleRateIndex >= 0 && header.sampleRateIndex <= 2
                     ? kRates[header.sampleRateIndex] >> (header.id == 1 ? 0 : 1)
                     : 0;
  out = x;
  return true;
}

// Where the searches read from: the input PullBuffer, or a file's first
// bytes in memory (the song length query).
class MpegDecoder::Source {
 public:
  virtual ~Source() = default;
  virtual ErrorCode read(size_t bytes, bool blocking, const uint8_t*& data, size_t& got) = 0;
  virtual void release(size_t consumed) = 0;
  virtual bool reportsErrors() const = 0;
};

class MpegDecoder::InputSource : public MpegDecoder::Source {
 public:
  explicit InputSource(MpegDecoder& owner) : owner_(owner) {}
  ErrorCode read(size_t bytes, bool blocking, const uint8_t*& data, size_t& got) override {
    return owner_.readInput(bytes, blocking, true, data, got);
  }
  void release(size_t consumed) override { owner_.input_->endRead(consumed); }
  bool reportsErrors() const override { return true; }

 private:
  MpegDecoder& owner_;
};

class MpegDecoder::MemorySource : public MpegDecoder::Source {
 public:
  explicit MemorySource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  ErrorCode read(size_t bytes, bool, const uint8_t*& data, size_t& got) override {
    size_t left = bytes_.size() - pos_;
    if (left == 0) return kError_EndOfStream;
    got = std::min(bytes, left);
    data = bytes_.data() + pos_;
    return kError_NoErr;
  }
  void release(size_t consumed) override { pos_ = std::min(bytes_.size(), pos_ + consumed); }
  bool reportsErrors() const override { return false; }

 private:
  std::vector<uint8_t> bytes_;
  size_t pos_ = 0;
};

MpegDecoder::MpegDecoder(PlayerContext* context) : PipelineUnit(context) {}

MpegDecoder::~MpegDecoder() {
  signalExit();
  if (thread_.isCreated()) {
    thread_.join();
    logDecode("LMC: Decoder thread exited.\n");
  }
  output_ = nullptr;
}

void MpegDecoder::logDecode(const char* format, ...) {
  if (!context_ || !context_->log) return;
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  context_->log->logCategory(LogDecode, "%s", text);
}

#define LM_LOG_ERROR(...)                                                \
  do {                                                                   \
    if (context_ && context_->log) context_->log->logError(__VA_ARGS__); \
  } while (0)

int32_t MpegDecoder::frameBytes() const {
  platform::CheckedLock lock(streamM_);
  return frameBytes_;
}

int32_t MpegDecoder::bitrate() const {
  platform::CheckedLock lock(streamM_);
  return bitrate_;
}

MpegHeader MpegDecoder::header() const {
  platform::CheckedLock lock(streamM_);
  return header_;
}

bool MpegDecoder::vbrHeader(XingVbrHeader& out) const {
  platform::CheckedLock lock(streamM_);
  if (!vbr_) return false;
  out = *vbr_;
  return true;
}

OutputInfo MpegDecoder::outputInfo() const {
  platform::CheckedLock lock(streamM_);
  return outputInfo_;
}

ErrorCode MpegDecoder::clear() { return PipelineUnit::clear(); }

ErrorCode MpegDecoder::prepare(PullBuffer* input, EventBuffer*& output) {
  // One song per stage: the running thread keeps its buffers.
  if (thread_.isCreated()) return kError_InitFailed;
  input_ = input;
  eventBuffer_ = std::make_unique<EventBuffer>(kInitialOutputBytes, 0, context_);
  output_ = eventBuffer_.get();
  if (!thread_.create(&MpegDecoder::decoderThread, this)) return kDecoderError_CreateThreadFailed;
  output = eventBuffer_.get();
  return kError_NoErr;
}

void MpegDecoder::setEqualizerEnabled(bool enabled) { mpegaudio::setEqualizerEnabled(enabled); }

void MpegDecoder::setEqualizerTable(const float factors[32]) { mpegaudio::setEqualizerTable(factors); }

// ---------------------------------------------------------------------------
// Reading the input

ErrorCode MpegDecoder::readInput(size_t bytes, bool /*blocking*/, bool allowPartial, const uint8_t*& data, size_t& got,
                                 bool yieldToPause) {
  // Local files are never network streams, so the stream buffering rule
  // (which only such inputs need) has nothing to do here.
  if (!input_) return kError_NullValueInvalid;
  for (;;) {
    void* p = nullptr;
    ErrorCode rc = input_->beginRead(p, bytes);
    if (rc == kError_EndOfStream && allowPartial) {
      // The last bytes of a stream are served as they are, so a short
      // file or a last frame behind a bad one is not lost.
      size_t left = input_->used();
      if (left > 0 && left < bytes && input_->beginRead(p, left) == kError_NoErr) {
        data = static_cast<const uint8_t*>(p);
        got = left;
        return kError_NoErr;
      }
      return kError_EndOfStream;
    }
    if (rc == kError_NoDataAvail) {
      if (inputStage_) inputStage_->wake();
      if (sleep()) return kError_Interrupt;
      // A paused frame loop must not wait here holding its output region:
      // the seek that paused it clears that buffer.
      if (yieldToPause && paused_.load()) return kError_NoDataAvail;
      continue;
    }
    if (rc == kError_NoErr) {
      data = static_cast<const uint8_t*>(p);
      got = bytes;
    }
    return rc;
  }
}

ErrorCode MpegDecoder::syncSearch(Source& source) {
  for (;;) {
    const uint8_t* p = nullptr;
    size_t got = 0;
    ErrorCode rc = source.read(kSyncReadBytes, true, p, got);
    if (rc == kError_EndOfStream || rc == kError_Interrupt) return rc;
    if (rc != kError_NoErr) {
      if (source.reportsErrors()) reportError("%s", kCannotRead);
      return rc;
    }
    size_t i = kSyncReadBytes - 1;
    bool found = false;
    for (size_t k = 1; k + 1 < got && k <= kSyncReadBytes - 1; ++k) {
      if (isSyncPair(p + k)) {
        i = k - 1;
        found = true;
        break;
      }
    }
    size_t skip = std::min(i + 1, got);
    logDecode("Skipped %d bytes in advance frame.\n", static_cast<int>(skip));
    source.release(skip);
    if (found && i > 0 && i < kSyncReadBytes - 1) return kError_NoErr;
  }
}

ErrorCode MpegDecoder::headerSearch(Source& source) {
  for (int round = 0; round < kHeaderRounds; ++round) {
    const uint8_t* p = nullptr;
    size_t got = 0;
    ErrorCode rc = source.read(kHeaderReadBytes, false, p, got);
    if (rc == kError_Interrupt || rc == kError_EndOfStream) return rc;
    if (rc != kError_NoErr) {
      if (source.reportsErrors()) reportError("%s", kCannotRead);
      return rc;
    }

    // Walk the frames: three in a row that agree with the first one.
    MpegHeader reference{};
    int32_t firstBytes = 0, firstBitrate = 0;
    size_t firstAt = 0, pos = 0;
    int count = 0;
    std::unique_ptr<XingVbrHeader> vbr;
    while (pos < got) {
      MpegHeader h{};
      int32_t bitrate = 0, skip = 0;
      int32_t bytes = mpegaudio::findHeader(p + pos, static_cast<int32_t>(got - pos), &h, &bitrate, &skip);
      if (bytes <= 0) break;
      if (count == 0) {
        reference = h;
        firstBytes = bytes;
        firstBitrate = bitrate;
        firstAt = pos + static_cast<size_t>(skip);
      } else if (bytes > kMaxFrameBytes || (h.layerOption != 1 && h.layerOption != 2) ||
                 h.sampleRateIndex != reference.sampleRateIndex || h.layerOption != reference.layerOption ||
                 h.id != reference.id || h.mode != reference.mode) {
        break;
      }
      if (++count == 3) {
        XingVbrHeader x;
        if (parseXingHeader(p + firstAt, got - firstAt, reference, x)) vbr = std::make_unique<XingVbrHeader>(x);
        break;
      }
      pos += static_cast<size_t>(skip) + static_cast<size_t>(bytes) + static_cast<size_t>(mpegaudio::paddingBytes(h));
    }
    source.release(0);
    if (count == 3) {
      platform::CheckedLock lock(streamM_);
      header_ = reference;
      frameBytes_ = firstBytes;
      bitrate_ = firstBitrate;
      vbr_ = std::move(vbr);
      return kError_NoErr;
    }
    rc = syncSearch(source);
    if (rc != kError_NoErr) return rc;
  }
  return kDecoderError_NoSyncFound;
}

// ---------------------------------------------------------------------------
// Stream information

ErrorCode MpegDecoder::canDecode() {
  if (!input_) {
    LM_LOG_ERROR("CanDecode() called, with no PMI set.\n");
    return kError_PluginNotInitialized;
  }
  InputSource source(*this);
  ErrorCode rc = headerSearch(source);
  if (rc == kError_Interrupt) return rc;
  if (rc != kError_NoErr) {
    logDecode("GetHeadInfo() in CanDecode() could not find the sync marker.\n");
    return rc;
  }
  int32_t interval = 3;
  if (!context_ || !context_->prefs || context_->prefs->getStreamBufferInterval(&interval) != kError_NoErr)
    interval = 3;
  streamBufferInterval_ = interval;
  return kError_NoErr;
}

ErrorCode MpegDecoder::statistics(MpegStatistics& out) {
  if (frameBytes() < 0 && !input_) return kError_NullValueInvalid;
  InputSource source(*this);
  return statisticsFrom(&source, false, 0, out);
}

ErrorCode MpegDecoder::statisticsFrom(Source* source, bool haveFile, int32_t fileSize, MpegStatistics& out) {
  if (!inputStage_ && !haveFile) return kError_NullValueInvalid;
  if (frameBytes() < 0) {
    ErrorCode rc = headerSearch(*source);
    if (rc != kError_NoErr) return rc;
  }
  MpegStatistics s;
  if (haveFile) {
    s.fileSize = fileSize;
  } else {
    size_t length = 0;
    s.fileSize = inputStage_->getLength(length) == kError_NoErr ? static_cast<int32_t>(length) : 0;
  }
  platform::CheckedLock lock(streamM_);
  s.sampleRate = statisticsSampleRate(header_);
  s.layer = header_.layerOption >= 1 && header_.layerOption <= 3 ? 4 - header_.layerOption : 0;
  s.msPerFrame = s.sampleRate ? samplesPerFrame(header_) * 1000.0f / static_cast<float>(s.sampleRate) : 0;
  if (s.fileSize == 0) {
    s.totalFrames = -1;
    s.totalSeconds = 0;
  } else {
    // A VBR header counts the frames only when it says it does.
    bool vbrFrames = vbr_ && (vbr_->flags & XingVbrHeader::kFramesFlag) && vbr_->frames > 0;
    s.totalFrames = vbrFrames ? vbr_->frames : s.fileSize / std::max(frameBytes_, 1);
    s.totalSeconds = s.msPerFrame * static_cast<float>(s.totalFrames) * 0.001f;
  }
  totalFrames_ = s.totalFrames;
  out = s;
  return kError_NoErr;
}

ErrorCode MpegDecoder::extractMediaInfo() {
  MpegStatistics s;
  ErrorCode rc = statistics(s);
  if (rc != kError_NoErr) return rc;
  std::string url = inputStage_ ? inputStage_->url().substr(0, 511) : std::string();
  auto media = std::make_unique<MediaInfoEvent>(url, s.totalSeconds);
  auto info = std::make_unique<MpegInfoEvent>();
  {
    platform::CheckedLock lock(streamM_);
    info->totalFrames = s.totalFrames;
    info->secondsPerFrame = s.msPerFrame * 0.001f;
    info->frameBytes = frameBytes_;
    info->bitrate = vbr_ ? 0 : bitrate_;
    info->sampleRate = s.sampleRate;
    info->layer = s.layer;
    info->mpegVersion = header_.sync == 2 ? 3 : (header_.id == 1 ? 1 : 2);
    info->channels = header_.mode == 3 ? 1 : 2;
    info->original = header_.original;
    info->protection = header_.protection;
    info->emphasis = header_.emphasis;
    info->mode = header_.mode;
    info->modeExtension = header_.modeExtension;
  }
  media->attached.push_back(std::move(info));
  if (!target_) return kError_NullValueInvalid;
  return target_->acceptEvent(std::move(media));
}

float MpegDecoder::songLength(const char* url) {
  if (!url || strncasecmp(url, "file://", 7) != 0) return 0;
  std::FILE* f = std::fopen(url + 7, "rb");
  if (!f) return 0;
  long size = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
  std::vector<uint8_t> bytes;
  if (size > 0 && std::fseek(f, 0, SEEK_SET) == 0) {
    bytes.resize(std::min(static_cast<size_t>(size), kSongLengthProbeBytes));
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
  }
  std::fclose(f);
  if (bytes.empty()) return 0;
  // A stage of its own, so that this stage's stream state stays as it is.
  MpegDecoder probe(context_);
  MemorySource source(std::move(bytes));
  MpegStatistics s;
  if (probe.statisticsFrom(&source, true, static_cast<int32_t>(size), s) != kError_NoErr) return 0;
  return s.totalSeconds;
}

// ---------------------------------------------------------------------------
// Decoding

ErrorCode MpegDecoder::initDecoder() {
  if (!target_ || !inputStage_ || !outputStage_ || !input_ || !eventBuffer_) return kError_NullValueInvalid;
  if (frameBytes() < 0) {
    InputSource source(*this);
    ErrorCode rc = headerSearch(source);
    if (rc != kError_NoErr) return rc;
  }
  MpegHeader header = this->header();
  if (!mpegaudio::decodeInit(&header, frameBytes(), 0, 0, 0, kFrequencyLimit)) {
    logDecode("Audio decode init failed.\n");
    return kDecoderError_DecoderInitFailed;
  }
  mpegaudio::DecoderInfo info;
  mpegaudio::decodeInfo(&info);
  OutputInfo out;
  out.bitsPerSample = info.bitsPerSample;
  out.channels = info.channels;
  out.sampleRate = info.sampleRate;
  out.samplesPerFrame = samplesPerFrame(header);
  out.pcmFrameBytes = (info.bitsPerSample / 8) * info.channels * out.samplesPerFrame;
  // The core writes exactly its own frame size; the region must hold it.
  if (out.pcmFrameBytes != info.frameBytes && info.frameBytes > 0) out.pcmFrameBytes = info.frameBytes;
  if (out.pcmFrameBytes <= 0) {
    logDecode("Audio decode init failed.\n");
    return kDecoderError_DecoderInitFailed;
  }

  int32_t kb = kDefaultOutputKb;
  if (!context_ || !context_->prefs || context_->prefs->getOutputBufferSize(&kb) != kError_NoErr) kb = kDefaultOutputKb;
  size_t size = static_cast<size_t>(std::clamp(kb, kMinOutputKb, kMaxOutputKb)) * 1024;
  size -= size % static_cast<size_t>(out.pcmFrameBytes);
  ErrorCode rc = eventBuffer_->resize(size, 0);
  if (rc != kError_NoErr) {
    reportError("Internal buffer sizing error occurred.");
    LM_LOG_ERROR("Resize output buffer failed.");
    return rc;
  }
  {
    platform::CheckedLock lock(streamM_);
    outputInfo_ = out;
  }
  return eventBuffer_->acceptEvent(std::make_unique<FormatEvent>(out));
}

ErrorCode MpegDecoder::changePosition(int32_t frame) {
  if (frame < 0) frame = 0;
  long position = 0;
  {
    platform::CheckedLock lock(streamM_);
    if (frameBytes_ <= 0) return kError_SeekFailed;  // the stream is not known yet
    bool useToc = vbr_ && (vbr_->flags & XingVbrHeader::kTocFlag) && (vbr_->flags & XingVbrHeader::kFramesFlag) &&
                  vbr_->frames > 0;
    if (useToc) {
      size_t length = 0;
      if (inputStage_) inputStage_->getLength(length);
      double p = std::clamp(frame * 100.0 / vbr_->frames, 0.0, 100.0);
      int i = std::min(static_cast<int>(p), 99);
      double a = vbr_->toc[i];
      double b = i < 99 ? vbr_->toc[i + 1] : 256.0;
      position = static_cast<long>((a + (p - i) * (b - a)) * static_cast<double>(length) / 256.0);
    } else {
      position = static_cast<long>(frame) * frameBytes_;
    }
  }
  nextFrame_.store(frame);
  pendingFrame_.store(frame);
  if (inputStage_) {
    int32_t newPosition = 0;
    inputStage_->seek(newPosition, static_cast<int32_t>(position), 0);
  }
  return kError_NoErr;
}

void MpegDecoder::decoderThread(void* self) { static_cast<MpegDecoder*>(self)->decodeLoop(); }

void MpegDecoder::decodeLoop() {
  // The output stage wakes the decoder when it first needs data.
  wakeSem_.wait();
  if (exit_.load()) return;
  if (inputStage_) inputStage_->wake();

  ErrorCode rc = canDecode();
  if (rc == kError_Interrupt) return;
  if (rc != kError_NoErr) {
    LM_LOG_ERROR("CanDecode returned false.\n");
    reportError("%s", kCannotPlay);
    return;
  }
  rc = extractMediaInfo();
  if (rc == kError_Interrupt) return;
  if (rc != kError_NoErr) {
    LM_LOG_ERROR("ExtractMediaInfo failed: %d\n", rc);
    reportError("%s", kCannotPlay);
    return;
  }
  rc = initDecoder();
  if (rc == kError_Interrupt) return;
  if (rc != kError_NoErr) {
    LM_LOG_ERROR("Initializing the decoder failed: %d\n", rc);
    reportError("Initializing the decoder failed.");
    return;
  }
  int32_t priority = Thread::kHighest;
  if (!context_ || !context_->prefs || context_->prefs->getDecoderThreadPriority(&priority) != kError_NoErr)
    priority = Thread::kHighest;
  thread_.setPriority(priority);
  // A seek that came before the first frame keeps its number.
  if (pendingFrame_.load() < 0) nextFrame_.store(0);
  if (exit_.load()) return;
  frameLoop();
}

void MpegDecoder::frameLoop() {
  EventBuffer* out = eventBuffer_.get();
  const size_t pcmBytes = static_cast<size_t>(outputInfo().pcmFrameBytes);
  MpegHeader header = this->header();
  const int32_t frameBytes = this->frameBytes();
  InputSource source(*this);
  bool markerPlaced = false;

  while (!exit_.load()) {
    // The pause comes before the frame marker, so that a seek made while
    // paused (which empties the buffer, events included) is followed by
    // a marker carrying the new frame number.
    while (paused_.load() && !exit_.load()) pauseSem_.wait();
    if (exit_.load()) return;
    const uint32_t generation = out->clearCount();
    int32_t pending = pendingFrame_.exchange(-1);
    if (pending >= 0) {
      nextFrame_.store(pending);
      markerPlaced = false;
      // Start the core afresh, so that no main data from before the seek
      // is mixed into the frames after it.
      mpegaudio::decodeInit(&header, frameBytes, 0, 0, 0, kFrequencyLimit);
    }
    if (!markerPlaced) {
      // A clear since the top of the loop (a seek) starts the frame over.
      if (out->acceptEvent(std::make_unique<FrameMarkerEvent>(nextFrame_.load()), generation) != kError_NoErr) continue;
      markerPlaced = true;
    }

    void* pcm = nullptr;
    ErrorCode rc = out->beginWrite(pcm, pcmBytes);
    if (rc == kError_Interrupt) return;
    if (rc == kError_BufferTooSmall) {
      if (sleep()) return;
      continue;
    }
    if (rc != kError_NoErr) {
      reportError("%s", kCannotWrite);
      LM_LOG_ERROR("LMC: Cannot write to eventbuffer: %s (%d)\n", "", rc);
      return;
    }

    // The last frame of a stream may be shorter than a full read.
    size_t readSize = kSyncReadBytes;
    size_t held = input_->used();
    if (held > 0 && held < kSyncReadBytes && input_->isEndOfStream()) readSize = held;
    const uint8_t* data = nullptr;
    size_t got = 0;
    rc = readInput(readSize, true, false, data, got, true);
    if (rc == kError_Interrupt) {
      out->endWrite(0);
      return;
    }
    if (rc == kError_EndOfStream) {
      out->endWrite(0);
      if (out->acceptEvent(std::make_unique<Event>(kStreamEvent_EndOfStream), generation) != kError_NoErr) {
        markerPlaced = false;
        continue;
      }
      // Stay until the chain goes, or until a seek brings the input back.
      // The seek itself is the sign: a short rest of a file may be read to
      // its end again before this thread looks at the input.
      bool resumed = false;
      while (!resumed) {
        if (sleep()) return;
        resumed = !input_->isEndOfStream() || pendingFrame_.load() >= 0;
      }
      continue;
    }
    if (rc == kError_NoDataAvail) {
      out->endWrite(0);
      if (!paused_.load() && sleep()) return;
      continue;
    }
    if (rc != kError_NoErr) {
      out->endWrite(0);
      reportError("%s", kCannotRead);
      LM_LOG_ERROR("LMC: Cannot read from pullbuffer: %s\n", errorText(rc));
      return;
    }

    mpegaudio::DecodeResult result = mpegaudio::decodeFrame(data, static_cast<int32_t>(got), pcm);
    if (result.consumed <= 0) {
      // No valid frame here: find the next one and start the core afresh.
      input_->endRead(0);
      out->endWrite(0);
      rc = syncSearch(source);
      if (rc == kError_Interrupt) return;
      if (rc == kError_EndOfStream) {
        out->acceptEvent(std::make_unique<Event>(kStreamEvent_EndOfStream), generation);
        return;
      }
      if (rc != kError_NoErr) {
        LM_LOG_ERROR("LMC: Cannot advance to next frame: %d\n", rc);
        reportError("Cannot advance to next frame. Possible media corruption?");
        return;
      }
      mpegaudio::decodeInit(&header, frameBytes, 0, 0, 0, kFrequencyLimit);
      continue;
    }

    input_->endRead(std::min(static_cast<size_t>(result.consumed), got));
    if (inputStage_) inputStage_->wake();
    rc = out->endWrite(static_cast<size_t>(std::max(result.produced, 0)), generation);
    if (rc == kError_UserCancel) {
      // Decoded for the stream from before a seek: dropped with its marker.
      markerPlaced = false;
      continue;
    }
    if (rc == kError_Interrupt) return;
    if (rc != kError_NoErr) {
      LM_LOG_ERROR("lmc: EndWrite returned %d\n", rc);
      reportError("%s", kCannotWrite);
      return;
    }
    nextFrame_.fetch_add(1);
    markerPlaced = false;
  }
}
