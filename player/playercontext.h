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
  int32_t flags = 0;  // bit 0: "-save"
};

// The Player's property interface as the stages see it.
class PropertyWatcher {
 public:
  virtual ~PropertyWatcher() = default;
  virtual void propertyChanged(const char* name, const char* value) = 0;
};

class PropertyManager {
 public:
  virtual ~PropertyManager() = default;
  // 1 when the property is absent, 0 with its value.
  virtual int32_t getProperty(const char* name, std::string& value) = 0;
  virtual int32_t setProperty(const char* name, const char* value) = 0;
  virtual int32_t registerWatcher(const char* name, PropertyWatcher* watcher) = 0;
  virtual int32_t removeWatcher(const char* name, PropertyWatcher* watcher) = 0;
};
