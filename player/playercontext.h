#pragma once
// The record every engine object shares: the preferences, the log, the
// Player's property store, the playlist and the queue that takes the
// stages' events.  Its owner (the music controller) creates it and frees it
// after the Player is gone.
#include <cstdint>
#include <string>

class Preferences;
class LogFile;
class PlaylistManager;
class EventQueue;
class PropertyManager;
class Player;

struct PlayerContext {
  int32_t ref = 1;
  void* reserved = nullptr;
  Preferences* prefs = nullptr;
  LogFile* log = nullptr;
  PropertyManager* props = nullptr;
  PlaylistManager* plm = nullptr;
  EventQueue* target = nullptr;
  int32_t reserved2[2] = {0, 0};
  Player* player = nullptr;
  int32_t argc = 0;
  char** argv = nullptr;
  int32_t flags = 0;  // kContextFlag...
};

// Bits of PlayerContext::flags.
inline constexpr int32_t kContextFlagSave = 1;  // the option "-save"

// The Player's property interface as the stages see it.
class PropertyWatcher {
 public:
  virtual ~PropertyWatcher() = default;
  virtual void propertyChanged(const char* name, const char* value) = 0;
};

class PropertyManager {
 public:
  // The answers of the property operations: done (for getProperty: found,
  // with its value), or refused (absent, or a null name or watcher).
  static constexpr int32_t kPropertyOk = 0;
  static constexpr int32_t kPropertyNone = 1;

  virtual ~PropertyManager() = default;
  // kPropertyNone when the property is absent, kPropertyOk with its value.
  virtual int32_t getProperty(const char* name, std::string& value) = 0;
  virtual int32_t setProperty(const char* name, const char* value) = 0;
  virtual int32_t registerWatcher(const char* name, PropertyWatcher* watcher) = 0;
  virtual int32_t removeWatcher(const char* name, PropertyWatcher* watcher) = 0;
};
