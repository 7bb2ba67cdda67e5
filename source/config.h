#pragma once
// The settings tree: the root section with the water settings and the two
// media lists, saved as one binary file, Lumenmere.ini, in the settings
// directory.  Loading takes the first source that has the file: a member
// of the process-wide pack, then the file in the settings directory.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "coms/configbase.h"
#include "platform/product.h"
#include "source/configfilelist.h"
#include "source/configwater.h"

class Config : public ConfigBase {
 public:
  static constexpr uint32_t kBodyLength = 32;
  // standaloneMarker of the settings a standalone copy carries.
  static constexpr int32_t kStandaloneMarker = 1521782;
  static constexpr const char* kProductName = product::kName;
  static constexpr const char* kMakerKey = product::kMakerKey;
  // The product's key under HKEY_CURRENT_USER ("%s\%s" of the two above).
  static constexpr const char* kProductKey = product::kProductKey;
  static constexpr const char* kSettingsFileName = product::kSettingsFileName;
  static constexpr size_t kMaxInstallDir = 260;

  // The image list gets ".jpg" and ".bmp", the MP3 list ".mp3".
  Config();

  void saveBody(std::vector<uint8_t>& out, uint32_t* length) override;
  bool loadBody(const uint8_t* data, size_t available, uint32_t* length) override;
  // The main settings menu (dialog 147).
  intptr_t dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

  // Fills the tree from the first source that has the settings file; with
  // none the values stay as they are.  Reads `installdir` first (it becomes
  // the settings directory) and makes the settings directory current.  A
  // standalone copy's settings switch the music engine's file access to the
  // pack.  True when a source was found.
  bool load();
  // Reads the block chain from memory: root, water, image list, MP3 list,
  // each where the previous one ends by its declared length.  Stops at the
  // end of the data; sections not reached keep their values.  Returns the
  // number of blocks whose tags matched and loaded.
  int loadData(const uint8_t* data, size_t size);
  // The block chain, in a buffer that grows with the lists.
  std::vector<uint8_t> serialize();
  // Has the shell write its display settings, makes the settings directory
  // current and replaces Lumenmere.ini there as a whole (a temporary file
  // renamed over it).  False when nothing could be written.
  bool save();

  int32_t standaloneMarker = 0;
  ConfigWater water;
  ConfigFileList images;
  ConfigFileList mp3;

  // The process-wide settings (nullptr until published).
  static Config* instance();
  static void publish(Config* config);
  // The published instance; when there is none, one is made, loaded and
  // published (it lives until the process ends).
  static Config& ensureInstance();

  // The shell's display settings writer, called by save with the product's
  // key path before anything else.  Empty until the shell fills it.
  static inline void (*saveDisplaySettingsHook)(const char* keyPath) = nullptr;

  // The directory of the program's own file (the entry point sets it; by
  // default the running program's).
  static std::string programDirectory();
  static void setProgramDirectory(const std::string& dir);
  // Where Lumenmere.ini lives: the directory `installdir` named, else the
  // program directory when it is writable, else $XDG_CONFIG_HOME/Lumenmere.
  static std::string settingsDirectory();
  static void setSettingsDirectory(const std::string& dir);
  // Forgets both directories (tests).
  static void resetDirectories();
  // `installdir` under HKEY_CURRENT_USER\Software\Tessolar\Lumenmere ("" when
  // absent, empty or not a string).
  static std::string readInstallDir();
};
