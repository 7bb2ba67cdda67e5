#pragma once
// The centre of the music engine: one per process.  It owns the engine
// playlist and the property store, and serves one event queue on its own
// thread: every command (play, stop, next, pause, volume, quit) and every
// notification from the stages arrives there as an Event and is handled in
// serviceEvent, one at a time.  To play a song it builds a chain of three
// stages (input, decoder, output).  User interfaces register and receive a
// copy of every notification.
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/threadannotations.h"
#include "player/event.h"
#include "player/playercontext.h"
#include "player/playerevents.h"
#include "player/thread.h"

class PlaylistManager;
class OutputStage;
class MpegDecoder;

// A user interface registered with the Player: it receives every
// notification and copies what it needs (the Player keeps the event).
class UserInterface {
 public:
  virtual ~UserInterface() = default;
  virtual ErrorCode acceptEvent(const Event& event) = 0;
};

class Player : public EventQueue, public PropertyManager, public PropertyWatcher {
 public:
  // Makes the process's one Player for that context and publishes it as
  // current(); the caller owns it.  Null while the process has one already.
  static std::unique_ptr<Player> create(PlayerContext* context);
  // The Player of this process (null when none).
  static Player* current();

  ~Player() override;

  // Released when the event thread ends.
  void setTerminationSemaphore(Semaphore* semaphore);
  // Stores the command line in the context and interprets it; posts Play at
  // the end.  False only when "-ui" lacks its name.
  bool setArgs(int32_t argc, char** argv);
  // Registers the interface (when not null), replaces the playlist by the
  // song list (NUL-terminated paths ended by an empty one; null leaves the
  // playlist as it is) and starts the event thread.  A Player whose thread
  // already runs keeps it: one thread serves the queue.
  ErrorCode run(const char* songList, UserInterface* ui);
  // Replaces the playlist by these paths (on the event thread once it runs,
  // in order with the events posted before and after).
  void setPlaylist(const std::vector<std::string>& paths);
  // 255 for a null interface.
  ErrorCode registerUI(UserInterface* ui);
  // Takes an interface off the list (its owner is going away).
  ErrorCode removeUI(UserInterface* ui);

  // Appends to the queue; callable from any thread.
  ErrorCode acceptEvent(std::unique_ptr<Event> event) override;
  // What serviceEvent answers: go on, or end the event thread (the quit
  // protocol); a null event answers kServiceNullEvent.
  enum ServiceResult : int32_t { kServiceContinue = 0, kServiceEnd = 1, kServiceNullEvent = kError_NullObject };
  // Handles one event on the event thread.
  ServiceResult serviceEvent(std::unique_ptr<Event> event);
  // Passes the event to every registered interface, in order; the caller
  // keeps it.
  void sendToUI(const Event& event);

  // The property store.
  int32_t getProperty(const char* name, std::string& value) override;
  int32_t setProperty(const char* name, const char* value) override;
  int32_t registerWatcher(const char* name, PropertyWatcher* watcher) override;
  int32_t removeWatcher(const char* name, PropertyWatcher* watcher) override;
  // "pcm_volume" changes become a volume command.
  void propertyChanged(const char* name, const char* value) override;

  enum State : int32_t { kPaused = 1, kPlaying = 2, kStopped = 3 };
  int32_t state() const { return state_.load(); }
  PlaylistManager* playlist() const { return playlist_.get(); }
  PlayerContext* context() const { return context_; }
  bool eventThreadRunning() const { return threadStarted_.load() && !threadEnded_.load(); }
  // The usage text with the program's path.
  static std::string usageText(const char* program);

 private:
  explicit Player(PlayerContext* context);

  // The playlist given to a running Player, applied on its thread.
  class ReplacePlaylistEvent : public Event {
   public:
    ReplacePlaylistEvent() : Event(CMD_ReplacePlaylist) {}
    std::vector<std::string> paths;
  };

  // One row of the dispatch table: the type, its handler, and whether it is
  // refused once the Player is quitting.
  struct Handler {
    EventType type;
    ServiceResult (Player::*handle)(Event& event);
    bool refusedWhileQuitting;
  };
  // The row for a type; null for a type without a handler.
  static const Handler* findHandler(int32_t type);
  ServiceResult onStop(Event& event);
  ServiceResult onPlay(Event& event);
  ServiceResult onPlayPaused(Event& event);
  ServiceResult onNext(Event& event);
  ServiceResult onPrevious(Event& event);
  ServiceResult onPause(Event& event);
  ServiceResult onUnpause(Event& event);
  ServiceResult onTogglePause(Event& event);
  ServiceResult onQuit(Event& event);
  ServiceResult onQuitAcknowledged(Event& event);
  ServiceResult onSongFinished(Event& event);
  ServiceResult onErrorStop(Event& event);
  ServiceResult onMediaInfo(Event& event);
  ServiceResult onPosition(Event& event);
  ServiceResult onSeek(Event& event);
  ServiceResult onEqualizer(Event& event);
  ServiceResult onVolumeQuery(Event& event);
  ServiceResult onSetVolume(Event& event);
  ServiceResult onStateQuery(Event& event);
  ServiceResult onIgnored(Event& event);
  ServiceResult onReplacePlaylist(Event& event);
  void replacePlaylist(const std::vector<std::string>& paths);

  static void eventThread(void* self);
  void eventLoop();
  std::unique_ptr<Event> takeEvent();
  void post(EventType type);
  bool setState(int32_t state);
  void notify(EventType type);
  void deleteChain();
  void buildChain(const char* url);
  void printUsage();
  void logMain(const char* format, ...) __attribute__((format(printf, 2, 3)));

  void handleStop();
  void handlePlay(bool paused);
  void handleNextPrevious(bool next);
  void handlePause();
  void handleUnpause();
  void handleSongEnd(bool error);
  // Both answer true when the event thread ends.
  bool handleQuit();
  bool handleQuitAcknowledged();
  void handleMediaInfo(MediaInfoEvent& info);

  PlayerContext* context_;

  struct Property {
    std::string value;
    bool present = false;
    std::vector<PropertyWatcher*> watchers;
  };
  platform::CheckedMutex propsMutex_;
  std::map<std::string, Property> props_ LM_GUARDED_BY(propsMutex_);

  platform::CheckedMutex queueMutex_;
  std::deque<std::unique_ptr<Event>> queue_ LM_GUARDED_BY(queueMutex_);
  Semaphore queueSem_{0};

  platform::CheckedMutex uiMutex_;
  std::vector<UserInterface*> uis_ LM_GUARDED_BY(uiMutex_);
  // After quit no notification reaches any interface.
  bool uiClosed_ LM_GUARDED_BY(uiMutex_) = false;

  std::unique_ptr<PlaylistManager> playlist_;
  std::atomic<int32_t> state_{kStopped};
  // Touched only on the event thread.  The chain's output stage owns the
  // other two; lastDecoder_ is its decoder.
  std::unique_ptr<OutputStage> chain_;
  MpegDecoder* lastDecoder_ = nullptr;
  bool quitting_ = false;
  int32_t awaitedAcks_ = 0;
  // Songs that ended on an error since one last played.
  int32_t failedInARow_ = 0;

  Semaphore* termination_ = nullptr;
  std::vector<std::string> uiNames_;
  bool autoplay_ = true;

  Thread thread_;
  platform::CheckedMutex runMutex_;  // serialises run
  std::atomic<bool> threadStarted_{false};
  std::atomic<bool> threadEnded_{false};
  std::atomic<bool> terminate_{false};
};

// Path and URL forms.  A file URL is "file://" and the path with every '\'
// turned into '/' and a drive colon into '|'; a path that starts with a
// single '\' gets the current drive in front (none on this system).  Both
// answer 7 with the needed length (terminator included) in *length when the
// buffer is too small; urlToFilePath answers 2 for anything but "file://".
ErrorCode filePathToURL(const char* path, char* url, uint32_t* length);
ErrorCode urlToFilePath(const char* url, char* path, uint32_t* length);
std::string filePathToURL(const std::string& path);
// Prefixes the current directory to a relative path and removes "." and
// ".." components and a trailing separator.
std::string makeAbsolutePath(const std::string& path);
