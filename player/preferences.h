#pragma once
// The engine's preference store.  Values live in one process-wide table in
// memory (so every run starts from the defaults); the engine's registry key
// is created at construction but the engine stores nothing there.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/product.h"
#include "platform/registry.h"
#include "platform/threadannotations.h"
#include "player/errorcode.h"

// The process-wide table: 200 slots of a name (at most 259 characters) and
// a 260-byte value area.  Strings are stored as text; integers and booleans
// as an int32 at the start of the value area.  Names compare without regard
// to ASCII case.
class MemoryPreferences {
 public:
  static constexpr int kSlots = 200;
  static constexpr int kFieldBytes = 260;

  static MemoryPreferences& instance();

  // 2 for a null key or output, 31 when the key is missing, 7 when the
  // value and its terminator need more than *length bytes (the needed
  // length is returned in *length), else 0 with *length = the value's
  // length.
  ErrorCode getString(const char* key, char* out, uint32_t* length) const;
  ErrorCode getInt32(const char* key, int32_t* value) const;
  ErrorCode getBoolean(const char* key, bool* value) const;

  // Replaces the value of an existing key or appends a slot.  2 for a null
  // or over-long key, 7 for a string longer than 259 characters or when
  // all 200 slots are taken (nothing is changed then).
  ErrorCode setString(const char* key, const char* value);
  ErrorCode setInt32(const char* key, int32_t value);
  ErrorCode setBoolean(const char* key, bool value);

  bool contains(const char* key) const;
  int count() const;
  // Empties the table (a fresh process in tests).
  void clear();

 private:
  struct Slot {
    char name[kFieldBytes];
    unsigned char value[kFieldBytes];
  };
  MemoryPreferences() = default;
  // Under m_: the slot of the key, none when it is missing.
  std::optional<int> find(const char* key) const LM_REQUIRES(m_);
  ErrorCode store(const char* key, const void* value, size_t bytes);

  mutable platform::CheckedMutex m_;
  Slot slots_[kSlots] LM_GUARDED_BY(m_) = {};
  int count_ LM_GUARDED_BY(m_) = 0;
};

class Preferences {
 public:
  static constexpr const char* kMakerKey = "SOFTWARE\\Tessolar";
  static constexpr const char* kProductName = product::kName;
  static constexpr const char* kComponentName = "Mp3player";

  // Opens (or creates) HKEY_CURRENT_USER\SOFTWARE\Tessolar\Lumenmere\Mp3player
  // and fills every missing default from the current directory.
  Preferences();
  virtual ~Preferences();
  Preferences(const Preferences&) = delete;
  Preferences& operator=(const Preferences&) = delete;

  // The start-up values that depend on the current directory, then
  // setDefaults.
  virtual void initialize();
  // Every key of the defaults table that is missing gets its default.
  virtual void setDefaults();
  // Opens or creates the key of another component of the product.
  virtual ErrorCode openComponentPreferences(const char* name);

  virtual ErrorCode getPrefString(const char* key, char* out, uint32_t* length);
  virtual ErrorCode setPrefString(const char* key, const char* value);
  virtual ErrorCode getPrefBoolean(const char* key, bool* value);
  virtual ErrorCode setPrefBoolean(const char* key, bool value);
  virtual ErrorCode getPrefInt32(const char* key, int32_t* value);
  virtual ErrorCode setPrefInt32(const char* key, int32_t value);

  // The library directories: only "InstallDirectory".
  virtual ErrorCode getFirstLibDir(char* path, uint32_t* length);
  virtual ErrorCode getNextLibDir(char* path, uint32_t* length);
  virtual ErrorCode getLibDirClose();

  ErrorCode getInstallDirectory(char* path, uint32_t* length) {
    return getPrefString("InstallDirectory", path, length);
  }
  ErrorCode getInputBufferSize(int32_t* v) { return getPrefInt32("InputBufferSize", v); }
  ErrorCode getOutputBufferSize(int32_t* v) { return getPrefInt32("OutputBufferSize", v); }
  ErrorCode getStreamBufferInterval(int32_t* v) { return getPrefInt32("StreamBufferInterval", v); }
  ErrorCode getDecoderThreadPriority(int32_t* v) { return getPrefInt32("DecoderThreadPriority", v); }
  ErrorCode getPlaylistRepeat(int32_t* v) { return getPrefInt32("PlaylistRepeat", v); }
  ErrorCode setPlaylistRepeat(int32_t v) { return setPrefInt32("PlaylistRepeat", v); }
  ErrorCode getPlaylistShuffle(bool* v) { return getPrefBoolean("PlaylistShuffle", v); }
  ErrorCode setPlaylistShuffle(bool v) { return setPrefBoolean("PlaylistShuffle", v); }

  // The engine's registry key (0 when it could not be opened or created).
  HKEY registryKey() const { return key_; }
  static std::string componentKeyPath(const char* component);

 private:
  HKEY key_ = 0;
  HKEY componentKey_ = 0;
};
