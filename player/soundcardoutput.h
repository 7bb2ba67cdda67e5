#pragma once
// The output stage (PMO) of a playing chain: owns the chain's input and
// decoder stages, and on its writer thread copies the decoded PCM from the
// decoder's EventBuffer into a looping secondary sound buffer, driving
// playback with a small state machine over the distance between its own
// write position and the play cursor.  It reports the play position once
// per frame marker, the buffer fill once per second and the end of the song.
#include <atomic>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/sound.h"
#include "player/event.h"
#include "player/pipelineunit.h"
#include "player/thread.h"

class LocalFileInput;
class MpegDecoder;
class EventBuffer;

// The output base: holds the chain and tears it down.
class OutputStage : public PipelineUnit {
 public:
  explicit OutputStage(PlayerContext* context);
  // Pauses the decoder and the input, then deletes them (and their buffers).
  ~OutputStage() override;

  virtual ErrorCode init(const OutputInfo& info) = 0;
  // Volume in percent (0 when it can't be read).
  virtual int32_t getVolume() = 0;
  virtual int32_t setVolume(int32_t percent) = 0;
  virtual ErrorCode reset(bool flag) = 0;
  virtual ErrorCode changePosition(int32_t frame) = 0;
  // The output owns the chain's other two stages.
  virtual void setDecoder(std::unique_ptr<MpegDecoder> decoder);
  virtual void setInput(std::unique_ptr<LocalFileInput> input);
  // Opens the song for the input and the decoder.
  virtual ErrorCode setTo(const char* url);
  // Takes one argument, does nothing.
  virtual ErrorCode hook(int32_t) { return kError_NoErr; }
  // Writer-thread hooks: sleep 1 ms and answer whether the unit is exiting
  // or paused; sleep "PreBuffer" ms; the once-per-second fill report.
  virtual bool shortWait();
  virtual void preBufferWait();
  virtual void fillReport();

  MpegDecoder* decoder() const { return decoder_.get(); }
  LocalFileInput* inputStage() const { return inputStage_.get(); }
  EventBuffer* eventBuffer() const;

 protected:
  // The decoder reads the input's buffer, so it goes first: members are
  // destroyed in the reverse of this order.
  std::unique_ptr<LocalFileInput> inputStage_;
  std::unique_ptr<MpegDecoder> decoder_;
  int32_t preBufferMs_ = 0;
  PullBuffer* inputPull_ = nullptr;  // the input stage's buffer, for fill reports
  std::time_t lastFillReport_ = 0;
  // Serialises setTo and changePosition (the base mutex guards the flags
  // that pause and resume change inside them).
  Mutex chainMutex_;
};

class SoundCardOutput : public OutputStage {
 public:
  explicit SoundCardOutput(PlayerContext* context);
  ~SoundCardOutput() override;

  void pause() override;
  void resume() override;
  ErrorCode clear() override;

  ErrorCode init(const OutputInfo& info) override;
  int32_t getVolume() override;
  int32_t setVolume(int32_t percent) override;
  ErrorCode reset(bool flag) override;
  ErrorCode changePosition(int32_t frame) override;

  // The window the sound device's cooperative level is set for when the
  // property "MainHwnd" is absent: the process's own top-level window,
  // published by whoever makes it (0, the default, when the process has
  // none).
  static void setProcessWindow(HWND window);
  static HWND processWindow();

  // States of the buffer state machine; kNoBuffer without a secondary buffer.
  enum BufferState : int32_t { kNoBuffer = -1, kFilling = 0, kPlaying = 1, kFull = 2, kDraining = 3 };

  // Buffer geometry in bytes (after init).
  struct Geometry {
    uint32_t size = 0, fullMark = 0, lowMark = 0, startMark = 0, silenceUnit = 0;
  };
  Geometry geometry();
  // The state machine's state.
  BufferState bufferState();
  bool isInitialised() const { return initialised_.load(); }
  size_t deviceCount() const { return devices_.size(); }

  // Runs the buffer state machine once (tests drive it by hand): the state
  // after the step.
  BufferState runStateMachine();

  // Mixer results (the multimedia mixer's values).
  static constexpr int32_t kMixerInvalidHandle = 5;  // MMSYSERR_INVALHANDLE

 private:
  struct Device {
    bool hasGuid = false;
    platform::GUID guid;
    std::string module;
    std::string description;
    platform::SoundRef<platform::IDirectSound> ds;
    std::atomic<bool> primaryFormatSet{false};
  };

  static BOOL enumerateDevice(platform::GUID* guid, const char* description, const char* module, void* self);
  static void writerThread(void* self);
  void writerLoop();
  // What an in-band event means for the writer thread.
  enum class StreamEventOutcome { kGoOn, kSongEnded, kInitFailed };
  StreamEventOutcome handleStreamEvent(std::unique_ptr<Event> event);
  void waitForRoomAndWrite();
  void finishSong();
  // Writes one PCM frame (frame true) or one silence unit; under bufferLock_
  // for the buffer part.  False when nothing was written (no frame to
  // reserve, no buffer, or the device refused).
  bool write(bool frame);
  // Writes `bytes` of data (silence when null) at the own write position;
  // false when the device refused.
  bool writeLocked(const void* data, uint32_t bytes) LM_REQUIRES(bufferLock_);
  BufferState stateMachineLocked() LM_REQUIRES(bufferLock_);
  void bufferResetLocked() LM_REQUIRES(bufferLock_);
  // Follows the play cursor: the bytes played since the last look (none
  // when the cursor can't be read).
  std::optional<uint32_t> advanceCursorLocked() LM_REQUIRES(bufferLock_);
  // Fills the room behind the play cursor with silence.
  void silenceBehindCursorLocked() LM_REQUIRES(bufferLock_);
  void updatePlayTime(int32_t frame);
  void releaseSecondary() LM_REQUIRES(bufferLock_);
  // The byte value of silence in the secondary buffer's format.
  uint8_t silenceByte() const LM_REQUIRES(bufferLock_);
  void log(const char* text);

  std::vector<std::unique_ptr<Device>> devices_;
  bool enumerationError_ = false;
  HWND window_ = 0;

  // The buffers, the stream format and everything of the state machine.
  Mutex bufferLock_;
  platform::SoundRef<platform::IDirectSoundBuffer> primary_ LM_GUARDED_BY(bufferLock_);
  platform::SoundRef<platform::IDirectSoundBuffer> secondary_ LM_GUARDED_BY(bufferLock_);
  platform::WAVEFORMATEX secondaryFormat_ LM_GUARDED_BY(bufferLock_);
  std::atomic<bool> initialised_{false};
  int32_t bytesPerSampleFrame_ LM_GUARDED_BY(bufferLock_) = 0;
  int32_t sampleRate_ LM_GUARDED_BY(bufferLock_) = 0;
  int32_t samplesPerFrame_ LM_GUARDED_BY(bufferLock_) = 0;
  // Set by init and read by the writer thread, which is the thread that
  // runs init while it plays.
  uint32_t frameBytes_ = 0;
  Geometry geometry_ LM_GUARDED_BY(bufferLock_);
  uint32_t writePos_ LM_GUARDED_BY(bufferLock_) = 0;
  uint32_t lastQueued_ LM_GUARDED_BY(bufferLock_) = 0;
  uint32_t lastPlayCursor_ LM_GUARDED_BY(bufferLock_) = 0;
  int32_t bytesPlayed_ LM_GUARDED_BY(bufferLock_) = 0;
  int32_t lastFrame_ LM_GUARDED_BY(bufferLock_) = -1;
  BufferState state_ LM_GUARDED_BY(bufferLock_) = kFilling;
  bool fresh_ LM_GUARDED_BY(bufferLock_) = true;
  bool playRequested_ LM_GUARDED_BY(bufferLock_) = false;

  Thread writer_;
};
