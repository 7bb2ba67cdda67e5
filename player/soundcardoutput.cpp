#include "player/soundcardoutput.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

#include "player/localfileinput.h"
#include "player/logfile.h"
#include "player/mpegdecoder.h"
#include "player/playercontext.h"
#include "player/playerevents.h"
#include "player/preferences.h"
#include "player/pullbuffer.h"

using namespace platform;

namespace {

// The secondary buffer's geometry in PCM frames: its size, the queue that
// starts playback (more than kStartFrames), the silence that covers an
// underrun.  The full mark is one frame below the size, the low mark one
// frame.
constexpr uint32_t kBufferFrames = 32;
constexpr uint32_t kStartFrames = 3;
constexpr uint32_t kSilenceFrames = 4;
// The writer's waits: the short wait while the decoder has nothing yet,
// the poll while the buffer is full, the poll while the song's end plays.
constexpr int kShortWaitMs = 1;
constexpr int kRoomPollMs = 50;
constexpr int kEndPollMs = 10;
// The device format set on the primary buffer, whatever the song's.
constexpr DWORD kPrimaryRate = 44100;
constexpr WORD kPrimaryChannels = 2;
constexpr WORD kPrimaryBits = 16;
// Silence in 8-bit PCM (unsigned samples); 16-bit silence is 0.
constexpr uint8_t kSilence8Bit = 0x80;
std::atomic<HWND> g_processWindow{0};

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

// ---- Output base -------------------------------------------------------

OutputStage::OutputStage(PlayerContext* context) : PipelineUnit(context) {
  int32_t v = 0;
  if (context && context->prefs && context->prefs->getPrefInt32("PreBuffer", &v) == kError_NoErr) preBufferMs_ = v;
}

OutputStage::~OutputStage() {
  if (decoder_) decoder_->pause();
  if (inputStage_) inputStage_->pause();
}

void OutputStage::setDecoder(std::unique_ptr<MpegDecoder> decoder) { decoder_ = std::move(decoder); }
void OutputStage::setInput(std::unique_ptr<LocalFileInput> input) { inputStage_ = std::move(input); }

EventBuffer* OutputStage::eventBuffer() const { return static_cast<EventBuffer*>(input_); }

ErrorCode OutputStage::setTo(const char* url) {
  MutexLock lock(chainMutex_);
  if (!inputStage_ || !decoder_) return kError_NullValueInvalid;
  ErrorCode rc = inputStage_->setTo(url);
  if (rc != kError_NoErr) return rc;
  PullBuffer* pull = nullptr;
  rc = inputStage_->prepare(pull);
  if (rc != kError_NoErr) return rc;
  inputPull_ = pull;
  EventBuffer* events = nullptr;
  rc = decoder_->prepare(pull, events);
  if (rc != kError_NoErr) return rc;
  setInputBuffer(events);
  return kError_NoErr;
}

bool OutputStage::shortWait() {
  sleepMs(kShortWaitMs);
  return isExiting() || isPaused();
}

void OutputStage::preBufferWait() {
  if (preBufferMs_ > 0) sleepMs(preBufferMs_);
}

void OutputStage::fillReport() {
  std::time_t now = std::time(nullptr);
  if (now == lastFillReport_) return;
  lastFillReport_ = now;
  if (!target_) return;
  int32_t in = inputPull_ ? inputPull_->fillPercent() : 0;
  int32_t out = input_ ? input_->fillPercent() : 0;
  target_->acceptEvent(std::make_unique<StreamBufferEvent>(false, in, out));
}

// ---- SoundCardOutput ---------------------------------------------------

void SoundCardOutput::setProcessWindow(HWND window) { g_processWindow = window; }
HWND SoundCardOutput::processWindow() { return g_processWindow; }

SoundCardOutput::SoundCardOutput(PlayerContext* context) : OutputStage(context) {
  // The window for the cooperative level: the process's own, when it has one.
  window_ = processWindow();

  if (FAILED(DirectSoundEnumerateA(&SoundCardOutput::enumerateDevice, this))) enumerationError_ = true;

  writer_.create(&SoundCardOutput::writerThread, this);

  std::string ignored;
  if (context && context->props && context->props->getProperty("MainWindow", ignored) == PropertyManager::kPropertyOk) {
    // This platform has no wave-output mixer: opening it fails as on a
    // machine without one, and the volume operations do nothing.
    log("Cannot open Mixer device.");
  }
}

BOOL SoundCardOutput::enumerateDevice(GUID* guid, const char* description, const char* module, void* self) {
  auto* out = static_cast<SoundCardOutput*>(self);
  auto d = std::make_unique<Device>();
  d->hasGuid = guid != nullptr;
  if (guid) d->guid = *guid;
  d->module = module ? module : "";
  d->description = description ? description : "";
  IDirectSound* ds = nullptr;
  if (FAILED(DirectSoundCreate(guid ? &d->guid : nullptr, &ds, nullptr)) || !ds) {
    out->log("error creating DirectSound Object...\n");
    return FALSE;
  }
  d->ds.reset(ds);
  out->devices_.push_back(std::move(d));
  return TRUE;
}

SoundCardOutput::~SoundCardOutput() {
  signalExit();
  writer_.join();
  MutexLock lock(bufferLock_);
  releaseSecondary();
  primary_.reset();
  devices_.clear();
}

void SoundCardOutput::log(const char* text) {
  if (context_ && context_->log) context_->log->logCategory(LogOutput, "%s", text);
}

uint8_t SoundCardOutput::silenceByte() const { return secondaryFormat_.wBitsPerSample == 8 ? kSilence8Bit : 0; }

SoundCardOutput::Geometry SoundCardOutput::geometry() {
  MutexLock lock(bufferLock_);
  return geometry_;
}

SoundCardOutput::BufferState SoundCardOutput::bufferState() {
  MutexLock lock(bufferLock_);
  return secondary_ ? state_ : kNoBuffer;
}

ErrorCode SoundCardOutput::init(const OutputInfo& info) {
  if (enumerationError_ || devices_.empty()) return kError_UnknownErr;
  if (info.bitsPerSample != 8 && info.bitsPerSample != 16) return kError_UnknownErr;
  if (info.channels < 1 || info.channels > 2 || info.pcmFrameBytes <= 0 || info.sampleRate <= 0)
    return kError_UnknownErr;

  HWND window = window_;
  std::string hwnd;
  if (props_ && props_->getProperty("MainHwnd", hwnd) == PropertyManager::kPropertyOk)
    window = static_cast<HWND>(std::strtoull(hwnd.c_str(), nullptr, 10));

  Device& dev = *devices_.front();
  MutexLock lock(bufferLock_);
  sampleRate_ = info.sampleRate;
  samplesPerFrame_ = info.samplesPerFrame;
  frameBytes_ = static_cast<uint32_t>(info.pcmFrameBytes);
  bytesPerSampleFrame_ = info.bitsPerSample / 8 * info.channels;
  state_ = kFilling;
  // A new format replaces the old buffer; left playing it would loop its
  // stale contents under the new one.
  releaseSecondary();
  initialised_ = false;

  if (!dev.primaryFormatSet.exchange(true)) {
    if (FAILED(dev.ds->SetCooperativeLevel(window, DSSCL_PRIORITY))) {
      log("error cannot set DirectSound DSSCL_PRIORITY Cooperative Level...\n");
      return kError_UnknownErr;
    }
    DSBUFFERDESC pd;
    pd.dwFlags = DSBCAPS_PRIMARYBUFFER;
    IDirectSoundBuffer* primary = nullptr;
    if (FAILED(dev.ds->CreateSoundBuffer(&pd, &primary, nullptr)) || !primary) {
      log("error Creating DirectSound Primary Buffer...\n");
      return kError_UnknownErr;
    }
    primary_.reset(primary);
    WAVEFORMATEX pf = pcmFormat(kPrimaryRate, kPrimaryChannels, kPrimaryBits);
    if (FAILED(primary_->SetFormat(&pf))) {
      log("Cannot Set DirectSound Primary Buffer Format...\n");
      return kError_UnknownErr;
    }
  }

  const uint32_t f = frameBytes_;
  geometry_.size = kBufferFrames * f;
  geometry_.fullMark = (kBufferFrames - 1) * f;
  geometry_.lowMark = f;
  geometry_.startMark = kStartFrames * f;
  geometry_.silenceUnit = kSilenceFrames * f;

  secondaryFormat_ = pcmFormat(static_cast<DWORD>(info.sampleRate), static_cast<WORD>(info.channels),
                               static_cast<WORD>(info.bitsPerSample));
  DSBUFFERDESC sd;
  sd.dwFlags =
      DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS | DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN | DSBCAPS_CTRLFREQUENCY;
  sd.dwBufferBytes = geometry_.size;
  sd.lpwfxFormat = &secondaryFormat_;
  IDirectSoundBuffer* secondary = nullptr;
  if (FAILED(dev.ds->CreateSoundBuffer(&sd, &secondary, nullptr)) || !secondary) {
    log("error Creating DirectSound Secondary Buffer...\n");
    return kError_UnknownErr;
  }
  secondary_.reset(secondary);
  initialised_ = true;
  bufferResetLocked();
  return kError_NoErr;
}

void SoundCardOutput::releaseSecondary() {
  if (secondary_) secondary_->Stop();
  secondary_.reset();
}

ErrorCode SoundCardOutput::reset(bool flag) {
  if (flag) {
    MutexLock lock(bufferLock_);
    if (secondary_) bufferResetLocked();
  }
  return kError_NoErr;
}

void SoundCardOutput::bufferResetLocked() {
  writePos_ = 0;
  lastPlayCursor_ = 0;
  state_ = kFilling;
  if (secondary_) {
    secondary_->Stop();
    secondary_->SetCurrentPosition(0);
    void *p1 = nullptr, *p2 = nullptr;
    DWORD n1 = 0, n2 = 0;
    if (SUCCEEDED(secondary_->Lock(0, geometry_.size, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER))) {
      std::memset(p1, silenceByte(), n1);
      secondary_->Unlock(p1, n1, p2, n2);
    }
  }
  fresh_ = true;
}

ErrorCode SoundCardOutput::clear() {
  reset(true);
  return PipelineUnit::clear();
}

void SoundCardOutput::pause() {
  {
    MutexLock lock(bufferLock_);
    if (secondary_) secondary_->Stop();
    playRequested_ = false;
    fresh_ = false;
  }
  PipelineUnit::pause();
  // The file input ignores that the output paused; a stream would be told here.
  reset(true);
}

void SoundCardOutput::resume() {
  {
    MutexLock lock(bufferLock_);
    playRequested_ = true;
    if (secondary_ && !fresh_) secondary_->Play(0, 0, DSBPLAY_LOOPING);
  }
  if (inputStage_ && inputStage_->pauseOnOutputPause() && decoder_) {
    decoder_->pause();
    inputStage_->pause();
    decoder_->clear();
    inputStage_->resume();
    decoder_->resume();
  }
  PipelineUnit::resume();
}

ErrorCode SoundCardOutput::changePosition(int32_t frame) {
  if (inputStage_ && inputStage_->isStreaming()) return kError_FileSeekNotSupported;
  if (!inputStage_ || !decoder_) return kError_NullValueInvalid;
  MutexLock lock(chainMutex_);
  const bool wasPaused = isPaused();
  pause();
  decoder_->pause();
  inputStage_->pause();
  clear();
  decoder_->clear();
  inputStage_->clear();
  decoder_->changePosition(frame);
  inputStage_->resume();
  decoder_->resume();
  if (!wasPaused) resume();
  return kError_NoErr;
}

// Without a mixer (this platform has none) the volume reads as 0 and
// setting it does nothing.
int32_t SoundCardOutput::getVolume() { return 0; }

int32_t SoundCardOutput::setVolume(int32_t) { return kMixerInvalidHandle; }

// ---- State machine and writing -----------------------------------------

SoundCardOutput::BufferState SoundCardOutput::runStateMachine() {
  MutexLock lock(bufferLock_);
  return stateMachineLocked();
}

SoundCardOutput::BufferState SoundCardOutput::stateMachineLocked() {
  if (!secondary_) return kNoBuffer;
  DWORD play = 0, write = 0;
  if (FAILED(secondary_->GetCurrentPosition(&play, &write))) play = lastPlayCursor_;
  const uint32_t size = geometry_.size;
  const uint32_t queued = (writePos_ + size - play) % size;
  lastQueued_ = queued;
  const uint32_t played = (play + size - lastPlayCursor_) % size;
  bytesPlayed_ += static_cast<int32_t>(played);
  lastPlayCursor_ = play;
  switch (state_) {
    case kFilling:
      if (queued > geometry_.startMark) {
        if (playRequested_ && fresh_) secondary_->Play(0, 0, DSBPLAY_LOOPING);
        fresh_ = false;
        state_ = queued < size ? kPlaying : kFull;
      }
      break;
    case kPlaying:
      if (queued < geometry_.lowMark) {
        writeLocked(nullptr, geometry_.silenceUnit);
        state_ = kDraining;
      } else {
        state_ = queued < geometry_.fullMark ? kPlaying : kFull;
      }
      break;
    case kFull:
      if (queued < geometry_.lowMark) {
        writeLocked(nullptr, geometry_.silenceUnit);
        state_ = kDraining;
      } else if (queued < geometry_.fullMark) {
        state_ = kPlaying;
      }
      break;
    case kDraining:
      if (queued < geometry_.silenceUnit) {
        bufferResetLocked();
        state_ = kFilling;
      }
      break;
    case kNoBuffer: break;
  }
  return state_;
}

bool SoundCardOutput::writeLocked(const void* data, uint32_t bytes) {
  void *p1 = nullptr, *p2 = nullptr;
  DWORD n1 = 0, n2 = 0;
  HRESULT hr = secondary_->Lock(writePos_, bytes, &p1, &n1, &p2, &n2, 0);
  if (hr == DSERR_BUFFERLOST) {
    secondary_->Restore();
    hr = secondary_->Lock(writePos_, bytes, &p1, &n1, &p2, &n2, 0);
  }
  if (FAILED(hr)) {
    log("Exiting DSWriteToSecBuffer with DSound error\n");
    return false;
  }
  const uint8_t silence = silenceByte();
  const uint8_t* src = static_cast<const uint8_t*>(data);
  if (src)
    std::memcpy(p1, src, n1);
  else
    std::memset(p1, silence, n1);
  writePos_ += n1;
  if (writePos_ >= geometry_.size) writePos_ = 0;
  if (p2 && n2) {
    if (src)
      std::memcpy(p2, src + n1, n2);
    else
      std::memset(p2, silence, n2);
    writePos_ = n2;
  }
  secondary_->Unlock(p1, n1, p2, n2);
  return true;
}

bool SoundCardOutput::write(bool frame) {
  EventBuffer* events = eventBuffer();
  void* data = nullptr;
  if (frame) {
    if (!events || events->beginRead(data, frameBytes_) != kError_NoErr) return false;
  }
  bool written = false;
  {
    MutexLock lock(bufferLock_);
    if (secondary_) written = writeLocked(data, frame ? frameBytes_ : geometry_.silenceUnit);
  }
  if (frame) events->endRead(written ? frameBytes_ : 0);
  return written;
}

void SoundCardOutput::waitForRoomAndWrite() {
  for (;;) {
    const BufferState s = runStateMachine();
    if (s == kFilling || s == kPlaying) break;
    if (isExiting()) return;
    sleepMs(kRoomPollMs);
    if (isExiting()) return;
  }
  write(true);
}

void SoundCardOutput::updatePlayTime(int32_t frame) {
  float seconds;
  {
    MutexLock lock(bufferLock_);
    if (frame != lastFrame_ + 1) bytesPlayed_ = bytesPerSampleFrame_ * samplesPerFrame_ * frame;
    lastFrame_ = frame;
    const int32_t perSecond = bytesPerSampleFrame_ * sampleRate_;
    seconds = perSecond > 0 ? static_cast<float>(bytesPlayed_) / static_cast<float>(perSecond) : 0.0f;
  }
  if (!target_) return;
  const int32_t whole = static_cast<int32_t>(seconds);
  target_->acceptEvent(std::make_unique<MediaTimeInfoEvent>(whole / 3600, whole % 3600 / 60, whole % 60, seconds));
}

// The end of the stream is announced while its last frame is still unread,
// and the chain is deleted as soon as the song is reported finished: write
// what is left and let the queued sound play out first, so that no song
// loses its last second.
void SoundCardOutput::finishSong() {
  // Paused just as the end came: the rest waits for the resume.
  while (isPaused() && !isExiting()) pauseSem_.wait();
  EventBuffer* events = eventBuffer();
  while (events && !isExiting() && !isPaused()) {
    void* data = nullptr;
    ErrorCode rc = events->beginRead(data, frameBytes_);
    if (rc == kError_EventPending) {
      events->getEvent();  // nothing follows the end of the stream
      continue;
    }
    if (rc != kError_NoErr) break;
    events->endRead(0);
    waitForRoomAndWrite();
  }
  // The buffer loops: once the cursor has passed the last sample it plays
  // whatever lies behind it, which at the end of a long song is the sound
  // of 0.8 s before.  So silence follows the last sample, written as the
  // cursor frees room, and the buffer is stopped before the end is told.
  uint32_t pcmLeft = 0, played = 0;
  {
    MutexLock lock(bufferLock_);
    if (secondary_) {
      advanceCursorLocked();
      pcmLeft = (writePos_ + geometry_.size - lastPlayCursor_) % geometry_.size;
      silenceBehindCursorLocked();
      if (pcmLeft > 0 && playRequested_ && fresh_) {
        // A song shorter than the start mark: start it now.
        secondary_->Play(0, 0, DSBPLAY_LOOPING);
        fresh_ = false;
        state_ = kPlaying;
      }
    }
  }
  while (!isExiting() && played < pcmLeft) {
    if (isPaused()) {
      // Pausing emptied the buffer: nothing is left to play.
      pauseSem_.wait();
      break;
    }
    sleepMs(kEndPollMs);
    MutexLock lock(bufferLock_);
    if (!secondary_) break;
    const std::optional<uint32_t> d = advanceCursorLocked();
    if (!d) break;
    played += *d;
    if (played < pcmLeft) silenceBehindCursorLocked();
  }
  {
    MutexLock lock(bufferLock_);
    if (secondary_) secondary_->Stop();
  }
  if (!isExiting() && target_) target_->acceptEvent(std::make_unique<Event>(INFO_SongFinished));
}

std::optional<uint32_t> SoundCardOutput::advanceCursorLocked() {
  DWORD play = 0, write = 0;
  if (FAILED(secondary_->GetCurrentPosition(&play, &write))) return std::nullopt;
  const uint32_t d = (play + geometry_.size - lastPlayCursor_) % geometry_.size;
  bytesPlayed_ += static_cast<int32_t>(d);
  lastPlayCursor_ = play;
  return d;
}

void SoundCardOutput::silenceBehindCursorLocked() {
  // Up to one low mark short of the cursor, so that the write position
  // never meets it (a full buffer would then look empty).
  const uint32_t size = geometry_.size;
  const uint32_t queued = (writePos_ + size - lastPlayCursor_) % size;
  const uint32_t room = size - queued;
  if (room > geometry_.lowMark) writeLocked(nullptr, room - geometry_.lowMark);
}

// ---- Writer thread -----------------------------------------------------

void SoundCardOutput::writerThread(void* self) { static_cast<SoundCardOutput*>(self)->writerLoop(); }

SoundCardOutput::StreamEventOutcome SoundCardOutput::handleStreamEvent(std::unique_ptr<Event> event) {
  if (!event) return StreamEventOutcome::kGoOn;
  switch (event->type()) {
    case kStreamEvent_Format:
      if (init(static_cast<FormatEvent*>(event.get())->info) != kError_NoErr) return StreamEventOutcome::kInitFailed;
      break;
    case kStreamEvent_Reset: reset(true); break;
    case kStreamEvent_FrameMarker: updatePlayTime(static_cast<FrameMarkerEvent*>(event.get())->frame); break;
    case kStreamEvent_EndOfStream: return StreamEventOutcome::kSongEnded;
    default: break;
  }
  return StreamEventOutcome::kGoOn;
}

void SoundCardOutput::writerLoop() {
  pauseSem_.wait();
  if (!isExiting()) {
    preBufferWait();
    int32_t priority = Thread::kHighest;
    if (context_ && context_->prefs) context_->prefs->getPrefInt32("DecoderThreadPriority", &priority);
    writer_.setPriority(priority);
  }
  while (!isExiting()) {
    if (isPaused()) {
      pauseSem_.wait();
      continue;
    }
    EventBuffer* events = eventBuffer();
    if (!initialised_) {
      std::unique_ptr<Event> ev = events ? events->getEvent() : nullptr;
      if (ev) {
        if (ev->type() == kStreamEvent_Format && init(static_cast<FormatEvent*>(ev.get())->info) != kError_NoErr) break;
      } else {
        if (decoder_) decoder_->wake();
        shortWait();
      }
      continue;
    }

    // Make sure a whole frame is there before waiting for room for it.
    bool haveFrame = false;
    while (!isExiting() && !isPaused()) {
      void* data = nullptr;
      ErrorCode rc = events->beginRead(data, frameBytes_);
      if (rc == kError_NoErr) {
        events->endRead(0);
        haveFrame = true;
        break;
      }
      if (rc == kError_NoDataAvail) {
        // The decoder is behind: keep watching the buffer so that an
        // underrun is covered with silence instead of replaying old sound.
        runStateMachine();
        if (decoder_) decoder_->wake();
        shortWait();
        continue;
      }
      if (rc == kError_EventPending) {
        switch (handleStreamEvent(events->getEvent())) {
          case StreamEventOutcome::kGoOn: continue;
          case StreamEventOutcome::kSongEnded: finishSong(); return;  // quietly: the song is done
          case StreamEventOutcome::kInitFailed: goto exitLoop;
        }
        continue;
      }
      if (rc == kError_Interrupt || rc == kError_EndOfStream) {
        // Nothing more will come until the decoder is cleared or exits.
        shortWait();
        break;
      }
      reportError("Internal error occured.");
      if (context_ && context_->log)
        context_->log->logCategory(LogOutput, "Cannot read from buffer in PMO worker tread: %d\n", rc);
      return;
    }
    if (haveFrame && !isPaused() && !isExiting()) {
      waitForRoomAndWrite();
      if (decoder_) decoder_->wake();
      fillReport();
    }
  }
exitLoop:
  log("PMO: Soundcard thread exiting\n");
}
