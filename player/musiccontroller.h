#pragma once
// The screen saver's way into the music engine: startMusic builds a
// MusicController, which makes the engine's shared context, obtains the
// Player, hands it the song list and listens to it as a user interface.
// A host may keep the controller to command the music; the screen saver
// drops it, and the music plays until the process ends.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/threadannotations.h"
#include "platform/wintypes.h"
#include "player/event.h"
#include "player/player.h"

// What the controller last heard of the song that plays.
struct MusicStatus {
  int32_t playlistIndex = 0;  // 1-based
  int32_t playlistLength = 0;
  int32_t totalSeconds = 0;
  int32_t totalHours = 0, totalMinutes = 0, totalSecondsPart = 0;
  char url[512] = {};
  int32_t totalFrames = 0;
  float secondsPerFrame = 0;
  int32_t hours = 0, minutes = 0, seconds = 0;  // play position
  float positionSeconds = 0;
};

struct MusicEngine;

class MusicController : public UserInterface {
 public:
  // Starts the music: the song list is NUL-terminated paths ended by an
  // empty one, in play order, and is copied.  Without a song list no music
  // starts and the answer is null.  The command line given to the engine is
  // the process's own.  A second call in the same process reuses the
  // running Player: its playlist is replaced and it plays the new list.
  // Dropping the controller stops listening (the last one quits the
  // Player), so a host that wants the music to go on keeps it.
  [[nodiscard]] static std::unique_ptr<MusicController> startMusic(const char* songList);
  // The same with an explicit command line (argv[0] is the program).
  [[nodiscard]] static std::unique_ptr<MusicController> startMusic(const char* songList, int32_t argc, char** argv);

  // The last controller to go quits the Player (once it has answered the
  // quit request) and frees the engine; earlier ones only stop listening.
  ~MusicController() override;
  MusicController(const MusicController&) = delete;
  MusicController& operator=(const MusicController&) = delete;

  // Waits until the Player's event thread has ended, or releases that wait.
  void waitForPlayerEnd();
  void releasePlayerEnd();
  void stop();
  void pause();
  void next();
  void previous();
  void play();
  // Replaces the playlist by the paths, in order, and plays it.
  void openFiles(const std::vector<std::string>& paths);
  // Copies the information fields; only the play position when `out`
  // already describes the same song.
  void copyStatus(MusicStatus* out);
  // Any command: posts the event to the Player.
  void post(std::unique_ptr<Event> event);

  // As user interface: answers the quit request and keeps what it learns.
  ErrorCode acceptEvent(const Event& event) override;

  // Also told every notification (on the Player's thread; keep it short).
  void setListener(std::function<void(const Event&)> listener);

  Player* player() const;
  PlayerContext* context() const;

 private:
  explicit MusicController(MusicEngine* engine);

  MusicEngine* engine_;
  platform::CheckedMutex m_;
  MusicStatus status_ LM_GUARDED_BY(m_);
  std::function<void(const Event&)> listener_ LM_GUARDED_BY(m_);
};

// The process's own command line (from /proc/self/cmdline), kept for the
// life of the process.
void processArguments(int32_t* argc, char*** argv);
