#pragma once
// Shared inside the sound service: the device core that owns the buffers and
// mixes them, and the outputs (SDL device or capture clock) that pull the mix.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/sound.h"

namespace platform::soundimpl {

class SoundBuffer;
class Core;

// Where a device core's mix goes.  open/close are called without the core's
// mutex held (the output's thread takes it to mix).
class Output {
 public:
  virtual ~Output() = default;
  // Starts pulling the mix; `primary` is the format the device was asked for.
  virtual bool open(const WAVEFORMATEX& primary) = 0;
  virtual void close() = 0;
  virtual bool isOpen() const = 0;
  // The format the mix must be produced in.
  virtual WAVEFORMATEX format() const = 0;
  // Frames the device takes at once (how far the write cursor leads).
  virtual DWORD periodFrames() const = 0;
  // True when the device has gone away (its buffers are then lost).
  virtual bool deviceLost() = 0;
};

class Core : public std::enable_shared_from_this<Core> {
 public:
  explicit Core(std::unique_ptr<Output> output);
  ~Core();

  // Adds the playing secondary buffers, converted to `device`, into acc
  // (frames × device channels values at 16-bit scale) and advances their
  // play cursors.  Takes the mutex.  True when any buffer played.
  bool mixInto(int32_t* acc, DWORD frames, const WAVEFORMATEX& device);

  void markAllLost();
  // Opens the output when it is closed and notes its format; no lock held.
  bool openOutput();

  std::mutex m;
  std::unique_ptr<Output> output;
  WAVEFORMATEX primaryFormat;
  // What the open output asked for (under m): the mix format and its period.
  WAVEFORMATEX deviceFormat;
  DWORD devicePeriod = 1024;
  std::vector<SoundBuffer*> buffers;  // under m
  bool capture = false;
};

// Writes acc (16-bit scale) clipped into `device`'s sample format.
void storeMix(const int32_t* acc, DWORD frames, const WAVEFORMATEX& device, uint8_t* out);

// Outputs of the two back ends.
std::unique_ptr<Output> makeSdlOutput(Core* core, const char* deviceName);
std::unique_ptr<Output> makeCaptureOutput(Core* core);

// Back end hooks used by enumeration and creation.
HRESULT sdlEnumerate(LPDSENUMCALLBACKA callback, void* context);
HRESULT sdlResolveDevice(const GUID* guid, std::string* name, bool* isDefault);
void sdlRelease();
SoundCaptureOptions captureOptions();

}  // namespace platform::soundimpl
