#pragma once
// Events of the music engine: commands and notifications travel to the
// Player through an EventQueue; the decoder stage also places in-band
// stream events into its EventBuffer for the output stage.  Whoever
// receives an event takes ownership of it.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "player/errorcode.h"

// The engine's event identifiers: the commands the Player takes and the
// notifications the stages and the Player send, numbered 1..81.
enum EventType : int32_t {
  kFirstEventType = 1,

  // Commands, sent to the Player.
  CMD_Stop = 1,
  CMD_Play = 2,
  CMD_NextMediaItem = 3,
  CMD_PrevMediaItem = 4,
  CMD_Pause = 5,
  CMD_PlayPaused = 6,
  CMD_QuitPlayer = 7,
  CMD_QuitAcknowledged = 10,  // a user interface answers the quit request
  CMD_UnPause = 22,
  CMD_TogglePause = 24,
  CMD_ChangePosition = 27,
  CMD_SetEQData = 38,
  CMD_GetVolume = 40,
  CMD_SetVolume = 41,
  CMD_HandlerA = 55,  // for optional handler objects that this system lacks
  CMD_HandlerB = 56,
  CMD_HandlerC = 57,
  CMD_QueryPlayerState = 66,

  // Notifications, passed on to the user interfaces.
  INFO_QuitRequest = 8,
  INFO_PlaylistDonePlay = 11,
  INFO_SongFinished = 12,
  INFO_MediaInfo = 18,
  INFO_MediaTimeInfo = 19,
  INFO_Stopped = 20,
  INFO_Paused = 21,
  INFO_Playing = 26,
  INFO_ErrorMessage = 28,
  INFO_MPEGInfo = 29,
  INFO_PlaylistShuffle = 34,
  INFO_MediaPosition = 39,  // forwarded, like 19, only while playing
  INFO_StreamBuffer = 44,
  INFO_StatusMessage = 46,
  INFO_VolumeInfo = 47,
  INFO_PlaylistItemAdded = 58,
  INFO_PlaylistCleared = 59,
  INFO_PlaylistCurrentItemInfo = 60,
  INFO_DoneOutputtingDueToError = 77,

  // Numbers of the range that nothing in this system sends or handles.
  RESERVED_9 = 9,
  RESERVED_13 = 13,
  RESERVED_14 = 14,
  RESERVED_15 = 15,
  RESERVED_16 = 16,
  RESERVED_17 = 17,
  RESERVED_23 = 23,
  RESERVED_25 = 25,
  RESERVED_30 = 30,
  RESERVED_31 = 31,
  RESERVED_32 = 32,
  RESERVED_42 = 42,
  RESERVED_43 = 43,
  RESERVED_45 = 45,
  RESERVED_74 = 74,
  RESERVED_75 = 75,
  RESERVED_79 = 79,

  kLastEventType = 81,

  // The Player's own, outside the engine's range: a playlist handed to a
  // running Player, applied on its thread.
  CMD_ReplacePlaylist = 1000,
};

// In-band stream event types of an EventBuffer (a numbering of their own).
enum StreamEventType : int32_t {
  kStreamEvent_Format = 0,
  kStreamEvent_FrameMarker = 1,
  kStreamEvent_Reset = 2,
  kStreamEvent_EndOfStream = 3,
};

class Event {
 public:
  explicit Event(int32_t type) : type_(type) {}
  virtual ~Event() = default;
  int32_t type() const { return type_; }

 private:
  int32_t type_;
};

// Anything that takes events: the Player implements it, and the stages post
// their notifications to the one in the context.
class EventQueue {
 public:
  virtual ~EventQueue() = default;
  // Takes ownership of the event (also on failure).
  virtual ErrorCode acceptEvent(std::unique_ptr<Event> event) = 0;
};

// 28 and 46: a formatted message.
class MessageEvent : public Event {
 public:
  MessageEvent(int32_t type, std::string text) : Event(type), text_(std::move(text)) {}
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// 44: stream buffering state.
class StreamBufferEvent : public Event {
 public:
  StreamBufferEvent(bool isBuffering, int32_t inPercent, int32_t outPercent)
      : Event(INFO_StreamBuffer), buffering(isBuffering), inputPercent(inPercent), outputPercent(outPercent) {}
  bool buffering;
  int32_t inputPercent;
  int32_t outputPercent;
};

// 29: the stream's MPEG parameters.
class MpegInfoEvent : public Event {
 public:
  MpegInfoEvent() : Event(INFO_MPEGInfo) {}
  int32_t totalFrames = 0;
  float secondsPerFrame = 0;
  int32_t frameBytes = 0;
  int32_t bitrate = 0;  // bit/s; 0 for a file with a VBR header
  int32_t sampleRate = 0;
  int32_t layer = 0;
  int32_t mpegVersion = 0;  // 1, 2, or 3 for MPEG-2.5
  int32_t channels = 0;
  int32_t original = 0;
  int32_t protection = 0;
  int32_t emphasis = 0;
  int32_t mode = 0;
  int32_t modeExtension = 0;
};

// 18: what is known of a song; the Player fills in the playlist fields.
class MediaInfoEvent : public Event {
 public:
  MediaInfoEvent(std::string songUrl, float seconds)
      : Event(INFO_MediaInfo), url(std::move(songUrl)), totalSeconds(seconds) {}
  std::string url;  // at most 511 characters
  float totalSeconds;
  int32_t playlistIndex = 0;
  int32_t playlistLength = 0;
  std::vector<std::unique_ptr<Event>> attached;
};

// In-band 0: the PCM format the decoder stage produces.
struct OutputInfo {
  int32_t bitsPerSample = 0;
  int32_t channels = 0;
  int32_t sampleRate = 0;
  int32_t pcmFrameBytes = 0;
  int32_t samplesPerFrame = 0;  // 1152 for MPEG-1, 576 otherwise
};

class FormatEvent : public Event {
 public:
  explicit FormatEvent(const OutputInfo& format) : Event(kStreamEvent_Format), info(format) {}
  OutputInfo info;
};

// In-band 1: the number of the frame that follows.
class FrameMarkerEvent : public Event {
 public:
  explicit FrameMarkerEvent(int32_t frameNumber) : Event(kStreamEvent_FrameMarker), frame(frameNumber) {}
  int32_t frame;
};
