#pragma once
// The sound service, shaped like DirectSound: devices are enumerated with the
// primary sound driver first; a DirectSound object owns a primary buffer whose
// format is the device's, and secondary buffers that loop over their own PCM
// while a play cursor runs through them at the device's pace.  Writers fill a
// secondary buffer through Lock/Unlock (two parts when the region wraps).
//
// Two back ends:
// - SDL2 (the default): the audio callback drains every playing secondary
//   buffer at the device's pace, converts it to the device format (sample
//   rate, channels, 8/16 bits) where they differ, mixes, and advances each play
//   cursor by what it consumed.
// - capture: the same mixing, paced by a clock (real time, faster, or stepped
//   by hand), recording what would have been heard instead of playing it.  For
//   tests and for writing what a song sounds like to a file.
//
// Written data becomes audible at Unlock: Lock hands out a staging copy, so a
// writer never touches memory the device is reading.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/wintypes.h"

using ULONG = uint32_t;

// Results (the published values).
inline constexpr HRESULT DS_OK = 0;
inline constexpr HRESULT DSERR_ALLOCATED = static_cast<HRESULT>(0x8878000Au);
inline constexpr HRESULT DSERR_CONTROLUNAVAIL = static_cast<HRESULT>(0x8878001Eu);
inline constexpr HRESULT DSERR_INVALIDPARAM = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT DSERR_INVALIDCALL = static_cast<HRESULT>(0x88780032u);
inline constexpr HRESULT DSERR_GENERIC = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT DSERR_PRIOLEVELNEEDED = static_cast<HRESULT>(0x88780046u);
inline constexpr HRESULT DSERR_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT DSERR_BADFORMAT = static_cast<HRESULT>(0x88780064u);
inline constexpr HRESULT DSERR_UNSUPPORTED = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT DSERR_NODRIVER = static_cast<HRESULT>(0x88780078u);
inline constexpr HRESULT DSERR_BUFFERLOST = static_cast<HRESULT>(0x88780096u);

// Cooperative levels.
inline constexpr DWORD DSSCL_NORMAL = 1;
inline constexpr DWORD DSSCL_PRIORITY = 2;
inline constexpr DWORD DSSCL_EXCLUSIVE = 3;
inline constexpr DWORD DSSCL_WRITEPRIMARY = 4;

// Buffer description flags.
inline constexpr DWORD DSBCAPS_PRIMARYBUFFER = 0x00000001;
inline constexpr DWORD DSBCAPS_STATIC = 0x00000002;
inline constexpr DWORD DSBCAPS_LOCHARDWARE = 0x00000004;
inline constexpr DWORD DSBCAPS_LOCSOFTWARE = 0x00000008;
inline constexpr DWORD DSBCAPS_CTRL3D = 0x00000010;
inline constexpr DWORD DSBCAPS_CTRLFREQUENCY = 0x00000020;
inline constexpr DWORD DSBCAPS_CTRLPAN = 0x00000040;
inline constexpr DWORD DSBCAPS_CTRLVOLUME = 0x00000080;
inline constexpr DWORD DSBCAPS_CTRLPOSITIONNOTIFY = 0x00000100;
inline constexpr DWORD DSBCAPS_STICKYFOCUS = 0x00004000;
inline constexpr DWORD DSBCAPS_GLOBALFOCUS = 0x00008000;
inline constexpr DWORD DSBCAPS_GETCURRENTPOSITION2 = 0x00010000;

inline constexpr DWORD DSBPLAY_LOOPING = 0x00000001;

inline constexpr DWORD DSBSTATUS_PLAYING = 0x00000001;
inline constexpr DWORD DSBSTATUS_BUFFERLOST = 0x00000002;
inline constexpr DWORD DSBSTATUS_LOOPING = 0x00000004;

inline constexpr DWORD DSBLOCK_FROMWRITECURSOR = 0x00000001;
inline constexpr DWORD DSBLOCK_ENTIREBUFFER = 0x00000002;

inline constexpr DWORD DSBSIZE_MIN = 4;
inline constexpr DWORD DSBSIZE_MAX = 0x0FFFFFFF;

inline constexpr WORD WAVE_FORMAT_PCM = 1;

namespace platform {

struct GUID {
  uint32_t Data1 = 0;
  uint16_t Data2 = 0;
  uint16_t Data3 = 0;
  uint8_t Data4[8] = {};
};
inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}

struct WAVEFORMATEX {
  WORD wFormatTag = 0;
  WORD nChannels = 0;
  DWORD nSamplesPerSec = 0;
  DWORD nAvgBytesPerSec = 0;
  WORD nBlockAlign = 0;
  WORD wBitsPerSample = 0;
  WORD cbSize = 0;
};

// A PCM format with its derived fields filled in.
WAVEFORMATEX pcmFormat(DWORD rate, WORD channels, WORD bits);
// PCM, 1 or 2 channels, 8 or 16 bits, 100..200000 Hz, consistent block and rate.
bool isValidPcmFormat(const WAVEFORMATEX& f);

struct DSBUFFERDESC {
  DWORD dwSize = sizeof(DSBUFFERDESC);
  DWORD dwFlags = 0;
  DWORD dwBufferBytes = 0;  // 0 for the primary buffer
  DWORD dwReserved = 0;
  WAVEFORMATEX* lpwfxFormat = nullptr;  // null for the primary buffer
};

// A sound buffer.  Reference counted: Release deletes it at zero.
class IDirectSoundBuffer {
 public:
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
  // Play cursor and write cursor (the first byte that is safe to write); both
  // 0 for the primary buffer.
  virtual HRESULT GetCurrentPosition(DWORD* play, DWORD* write) = 0;
  virtual HRESULT GetFormat(WAVEFORMATEX* format, DWORD size, DWORD* written) = 0;
  virtual HRESULT GetStatus(DWORD* status) = 0;
  // Locks `bytes` from `offset` (DSBLOCK_FROMWRITECURSOR: from the write
  // cursor; DSBLOCK_ENTIREBUFFER: all of it).  The region wraps into a
  // second part at the end of the buffer (p2 null and n2 0 when it doesn't).
  // DSERR_BUFFERLOST while the buffer is lost (Restore it first).
  virtual HRESULT Lock(DWORD offset, DWORD bytes, void** p1, DWORD* n1, void** p2, DWORD* n2, DWORD flags) = 0;
  // Starts playing from the play cursor; DSBPLAY_LOOPING wraps at the end,
  // otherwise the buffer stops there.
  virtual HRESULT Play(DWORD reserved, DWORD priority, DWORD flags) = 0;
  virtual HRESULT SetCurrentPosition(DWORD play) = 0;
  // Primary buffer only: sets the device format (needs DSSCL_PRIORITY).
  virtual HRESULT SetFormat(const WAVEFORMATEX* format) = 0;
  virtual HRESULT Stop() = 0;
  // Makes the written bytes (n1 at p1, n2 at p2) audible.
  virtual HRESULT Unlock(void* p1, DWORD n1, void* p2, DWORD n2) = 0;
  // Gives a lost buffer back its device; its contents must be written anew.
  virtual HRESULT Restore() = 0;

 protected:
  virtual ~IDirectSoundBuffer() = default;
};

// A sound device.  Reference counted; its buffers keep it alive.
class IDirectSound {
 public:
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
  virtual HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, IDirectSoundBuffer** buffer, void* outer) = 0;
  // Any window (0 included) is accepted: on this platform the level only
  // decides who may set the primary format.
  virtual HRESULT SetCooperativeLevel(HWND window, DWORD level) = 0;

 protected:
  virtual ~IDirectSound() = default;
};

// Owns one reference to a sound object (a device or a buffer) and gives it
// back with Release when it goes.
struct SoundRelease {
  template <class T>
  void operator()(T* object) const {
    object->Release();
  }
};
template <class T>
using SoundRef = std::unique_ptr<T, SoundRelease>;

// guid is null for the primary sound driver.  Return TRUE to go on.
using LPDSENUMCALLBACKA = BOOL (*)(GUID* guid, const char* description, const char* module, void* context);

// Lists the output devices, the primary sound driver first.  A machine
// without sound lists none and answers DS_OK.
HRESULT DirectSoundEnumerateA(LPDSENUMCALLBACKA callback, void* context);
// Creates the object for a device (null: the primary sound driver).
HRESULT DirectSoundCreate(const GUID* device, IDirectSound** ds, void* outer);

// ---- Back end selection and the capture back end ----------------------

struct SoundCaptureOptions {
  // The format of what is recorded (the "device format" buffers are
  // converted to).
  DWORD rate = 44100;
  WORD channels = 2;
  WORD bits = 16;
  // Length of one clock step in milliseconds of sound.
  DWORD periodMs = 10;
  // How many times faster than real time the clock runs; 0 steps only by
  // soundCaptureAdvance.
  double speed = 1.0;
  // Devices listed by enumeration (the first is the primary sound driver);
  // 0 is a machine without sound.
  int devices = 1;
  // Faults for tests: enumeration itself fails; DirectSoundCreate fails;
  // creating a secondary buffer fails.
  bool failEnumeration = false;
  bool failCreate = false;
  bool failSecondary = false;
};

// A device stays open from one DirectSound object to the next, so that one
// song follows another without the sound stopping and starting again.  This
// closes the devices no object uses any more (a program that ends may call
// it; switching back ends does).
void soundCloseIdleDevices();

// Objects created afterwards use the capture back end (the recording starts
// empty), or SDL again.
void soundUseCapture(const SoundCaptureOptions& options);
void soundUseSdl();
bool soundUsesCapture();

// The capture's format.
WAVEFORMATEX soundCaptureFormat();
// What has been heard so far (taken: the recording restarts empty).  Only
// clock steps in which some secondary buffer played are recorded.
std::vector<uint8_t> soundCaptureTake();
// Frames of sound the clock has run through (recorded or not).
uint64_t soundCaptureFramesElapsed();
// Runs the clock by `ms` milliseconds of sound at once (any speed).
void soundCaptureAdvance(DWORD ms);
// Marks every capture buffer as lost (as when a device goes away).
void soundCaptureLoseBuffers();

// Writes a canonical RIFF/WAVE file (through a temporary file).
bool writeWaveFile(const std::string& path, const WAVEFORMATEX& format, const uint8_t* data, size_t bytes);

}  // namespace platform
