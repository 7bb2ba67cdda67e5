#include "player/preferences.h"

#include <strings.h>
#include <sys/stat.h>

#include <cstring>

#include "platform/files.h"

namespace {

enum class Kind { Int, Bool, String };

struct Default {
  const char* key;
  Kind kind;
  int32_t number;
  const char* text;
};

// Every key the engine (and the player it descends from) keeps, with its
// default.  The first group is what the engine reads.
const Default kDefaults[] = {
    {"InputBufferSize", Kind::Int, 64, nullptr},
    {"OutputBufferSize", Kind::Int, 512, nullptr},
    {"StreamBufferInterval", Kind::Int, 3, nullptr},
    {"DecoderThreadPriority", Kind::Int, 5, nullptr},
    {"PreBuffer", Kind::Int, 0, nullptr},
    {"PlaylistRepeat", Kind::Int, 2, nullptr},
    {"PlaylistShuffle", Kind::Bool, 0, nullptr},
    {"UseDebugLog", Kind::Bool, 0, nullptr},
    {"LogMain", Kind::Bool, 0, nullptr},
    {"LogDecode", Kind::Bool, 0, nullptr},
    {"LogInput", Kind::Bool, 0, nullptr},
    {"LogOutput", Kind::Bool, 0, nullptr},
    {"LogPerformance", Kind::Bool, 0, nullptr},
    {"Volume", Kind::Int, 85, nullptr},
    {"UseTitleStreaming", Kind::Bool, 1, nullptr},
    {"AskToReclaimFiletypes", Kind::Bool, 1, nullptr},
    {"PlayImmediately", Kind::Bool, 1, nullptr},
    {"ConvertUnderscoresToSpaces", Kind::Bool, 1, nullptr},
    {"NumberOfURLsToRemember", Kind::Int, 10, nullptr},
    {"TimeDisplay", Kind::Int, 0, nullptr},
    {"MainWindowPos", Kind::String, 0, "-1,-1"},
    {"WindowMode", Kind::String, 0, "MainWindow"},
    {"ThemeDefaultFont", Kind::String, 0, "Arial"},
    {"MusicBrowserUI", Kind::String, 0, "musicbrowser.ui"},
    {"DownloadManagerUI", Kind::String, 0, "download.ui"},
    {"ToolbarUI", Kind::String, 0, "toolbar.ui"},
    {"SaveStreamsDirectory", Kind::String, 0, "."},
    {"ProxyHost", Kind::String, 0, "http://proxy.example.com:8080"},
    {"AlternateNICAddress", Kind::String, 0, "192.168.0.1"},
    {"SaveStreams", Kind::Bool, 0, nullptr},
    {"UseProxy", Kind::Bool, 0, nullptr},
    {"UseAlternateNIC", Kind::Bool, 0, nullptr},
    {"CheckForUpdates", Kind::Bool, 0, nullptr},
    {"ReclaimFiletypes", Kind::Bool, 0, nullptr},
    {"ShowToolbarTextLabels", Kind::Bool, 0, nullptr},
    {"ShowToolbarImages", Kind::Bool, 0, nullptr},
    {"SaveCurrentPlaylistOnExit", Kind::Bool, 0, nullptr},
    {"ViewMusicBrowser", Kind::Bool, 0, nullptr},
    {"Welcome", Kind::Bool, 0, nullptr},
    {"AllowMultipleInstances", Kind::Bool, 0, nullptr},
    {"StayOnTop", Kind::Bool, 0, nullptr},
    {"LiveInTray", Kind::Bool, 0, nullptr},
    {"ThemePath", Kind::String, 0, ""},
    {"UserName", Kind::String, 0, ""},
    {"UsersPortablePlayers", Kind::String, 0, ""},
};

bool fileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

// ---------------------------------------------------------------------------
// MemoryPreferences

MemoryPreferences& MemoryPreferences::instance() {
  static MemoryPreferences table;
  return table;
}

std::optional<int> MemoryPreferences::find(const char* key) const {
  for (int i = 0; i < count_; ++i) {
    if (strcasecmp(slots_[i].name, key) == 0) return i;
  }
  return std::nullopt;
}

ErrorCode MemoryPreferences::getString(const char* key, char* out, uint32_t* length) const {
  if (!key || !out || !length) return kError_InvalidParam;
  platform::CheckedLock lock(m_);
  const std::optional<int> i = find(key);
  if (!i) return kError_NoPrefValue;
  const char* value = reinterpret_cast<const char*>(slots_[*i].value);
  size_t len = strnlen(value, kFieldBytes - 1);
  // The terminator must fit as well: a caller's buffer is never overrun.
  if (len + 1 > *length) {
    *length = static_cast<uint32_t>(len + 1);
    return kError_BufferTooSmall;
  }
  std::memcpy(out, value, len);
  out[len] = '\0';
  *length = static_cast<uint32_t>(len);
  return kError_NoErr;
}

ErrorCode MemoryPreferences::getInt32(const char* key, int32_t* value) const {
  if (!key || !value) return kError_InvalidParam;
  platform::CheckedLock lock(m_);
  const std::optional<int> i = find(key);
  if (!i) return kError_NoPrefValue;
  std::memcpy(value, slots_[*i].value, sizeof(int32_t));
  return kError_NoErr;
}

ErrorCode MemoryPreferences::getBoolean(const char* key, bool* value) const {
  int32_t v = 0;
  if (!value) return kError_InvalidParam;
  ErrorCode rc = getInt32(key, &v);
  if (rc == kError_NoErr) *value = v != 0;
  return rc;
}

ErrorCode MemoryPreferences::store(const char* key, const void* value, size_t bytes) {
  if (!key || std::strlen(key) >= static_cast<size_t>(kFieldBytes)) return kError_InvalidParam;
  if (bytes > static_cast<size_t>(kFieldBytes)) return kError_BufferTooSmall;
  platform::CheckedLock lock(m_);
  std::optional<int> found = find(key);
  if (!found) {
    if (count_ >= kSlots) return kError_BufferTooSmall;
    found = count_++;
    std::memset(slots_[*found].name, 0, kFieldBytes);
    std::memcpy(slots_[*found].name, key, std::strlen(key));
  }
  const int i = *found;
  std::memset(slots_[i].value, 0, kFieldBytes);
  std::memcpy(slots_[i].value, value, bytes);
  return kError_NoErr;
}

ErrorCode MemoryPreferences::setString(const char* key, const char* value) {
  if (!value) return kError_InvalidParam;
  return store(key, value, std::strlen(value) + 1);
}

ErrorCode MemoryPreferences::setInt32(const char* key, int32_t value) { return store(key, &value, sizeof(value)); }

ErrorCode MemoryPreferences::setBoolean(const char* key, bool value) { return setInt32(key, value ? 1 : 0); }

bool MemoryPreferences::contains(const char* key) const {
  if (!key) return false;
  platform::CheckedLock lock(m_);
  return find(key).has_value();
}

int MemoryPreferences::count() const {
  platform::CheckedLock lock(m_);
  return count_;
}

void MemoryPreferences::clear() {
  platform::CheckedLock lock(m_);
  count_ = 0;
}

// ---------------------------------------------------------------------------
// Preferences

std::string Preferences::componentKeyPath(const char* component) {
  return std::string(kMakerKey) + "\\" + kProductName + "\\" + component;
}

Preferences::Preferences() {
  const std::string path = componentKeyPath(kComponentName);
  if (platform::RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ | KEY_WRITE, &key_) != ERROR_SUCCESS) {
    key_ = 0;
    // Create the chain one key at a time, as the maker's installers do.
    HKEY maker = 0, product = 0;
    if (platform::RegCreateKeyExA(HKEY_CURRENT_USER, kMakerKey, &maker) == ERROR_SUCCESS) {
      if (platform::RegCreateKeyExA(maker, kProductName, &product) == ERROR_SUCCESS) {
        if (platform::RegCreateKeyExA(product, kComponentName, &key_) != ERROR_SUCCESS) key_ = 0;
        platform::RegCloseKey(product);
      }
      platform::RegCloseKey(maker);
    }
  }

  // A player installed beside "songmill.exe" records where it lives.
  const std::string cwd = platform::currentDirectory();
  if (key_ && fileExists(platform::joinPath(cwd, "songmill.exe"))) {
    char stored[MAX_PATH] = {};
    DWORD size = sizeof(stored) - 1;
    DWORD type = 0;
    bool same = platform::RegQueryValueExA(key_, "InstallDirectory", nullptr, &type, reinterpret_cast<BYTE*>(stored),
                                           &size) == ERROR_SUCCESS &&
                type == REG_SZ && cwd == stored;
    if (!same) {
      const std::string db = platform::joinPath(cwd, "db");
      platform::RegSetValueExA(key_, "InstallDirectory", 0, REG_SZ, reinterpret_cast<const BYTE*>(cwd.c_str()),
                               static_cast<DWORD>(cwd.size() + 1));
      platform::RegSetValueExA(key_, "DatabaseDirectory", 0, REG_SZ, reinterpret_cast<const BYTE*>(db.c_str()),
                               static_cast<DWORD>(db.size() + 1));
    }
  }

  initialize();
}

Preferences::~Preferences() {
  if (componentKey_) platform::RegCloseKey(componentKey_);
  if (key_) platform::RegCloseKey(key_);
}

void Preferences::initialize() {
  MemoryPreferences& table = MemoryPreferences::instance();
  const std::string cwd = platform::currentDirectory();
  auto missing = [&table](const char* key) { return !table.contains(key); };
  if (missing("InstallDirectory")) table.setString("InstallDirectory", cwd.c_str());
  if (missing("SaveMusicDirectory")) table.setString("SaveMusicDirectory", platform::joinPath(cwd, "mmp").c_str());
  if (missing("DatabaseDirectory")) table.setString("DatabaseDirectory", platform::joinPath(cwd, "mdb").c_str());
  if (missing("UI")) table.setString("UI", "3d.ui");
  if (missing("PMO")) table.setString("PMO", "soundcard.pmo");
  if (missing("OpenSaveDirectory")) table.setString("OpenSaveDirectory", cwd.c_str());
  if (missing("StayOnTop")) table.setBoolean("StayOnTop", false);
  if (missing("LiveInTray")) table.setBoolean("LiveInTray", false);
  setDefaults();
}

void Preferences::setDefaults() {
  MemoryPreferences& table = MemoryPreferences::instance();
  const std::string cwd = platform::currentDirectory();
  for (const Default& d : kDefaults) {
    if (table.contains(d.key)) continue;
    switch (d.kind) {
      case Kind::Int: table.setInt32(d.key, d.number); break;
      case Kind::Bool: table.setBoolean(d.key, d.number != 0); break;
      case Kind::String: table.setString(d.key, d.text); break;
    }
  }
  if (!table.contains("InstallDirectory")) table.setString("InstallDirectory", cwd.c_str());
}

ErrorCode Preferences::openComponentPreferences(const char* name) {
  if (!name) return kError_InvalidParam;
  if (componentKey_) platform::RegCloseKey(componentKey_);
  componentKey_ = 0;
  const std::string path = componentKeyPath(name);
  if (platform::RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ | KEY_WRITE, &componentKey_) ==
      ERROR_SUCCESS)
    return kError_NoErr;
  if (platform::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), &componentKey_) == ERROR_SUCCESS) return kError_NoErr;
  componentKey_ = 0;
  return kError_NoPrefs;
}

ErrorCode Preferences::getPrefString(const char* key, char* out, uint32_t* length) {
  return MemoryPreferences::instance().getString(key, out, length);
}
ErrorCode Preferences::setPrefString(const char* key, const char* value) {
  return MemoryPreferences::instance().setString(key, value);
}
ErrorCode Preferences::getPrefBoolean(const char* key, bool* value) {
  return MemoryPreferences::instance().getBoolean(key, value);
}
ErrorCode Preferences::setPrefBoolean(const char* key, bool value) {
  return MemoryPreferences::instance().setBoolean(key, value);
}
ErrorCode Preferences::getPrefInt32(const char* key, int32_t* value) {
  return MemoryPreferences::instance().getInt32(key, value);
}
ErrorCode Preferences::setPrefInt32(const char* key, int32_t value) {
  return MemoryPreferences::instance().setInt32(key, value);
}

ErrorCode Preferences::getFirstLibDir(char* path, uint32_t* length) { return getInstallDirectory(path, length); }

ErrorCode Preferences::getNextLibDir(char* path, uint32_t* length) {
  if (path && length && *length > 0) path[0] = '\0';
  if (length) *length = 0;
  return kError_NoMoreLibDirs;
}

ErrorCode Preferences::getLibDirClose() { return kError_NoErr; }
