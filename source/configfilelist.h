#pragma once
// One user-edited media list (the pictures or the songs): single files,
// directories, a selection among the directories, up to three file-name
// extensions, a play mode, a maximum number of files and a "randomize"
// switch.  drawPlayList turns it into a fresh play list of full paths.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "coms/configbase.h"
#include "source/stringlist.h"

// A drawn play list: a double-NUL list of paths (each followed by a NUL,
// the whole by one more), or none.  The receiver owns it.
class PlayList {
 public:
  PlayList() = default;
  explicit PlayList(std::string doubleNul) : present_(true), data_(std::move(doubleNul)) {}

  bool present() const { return present_; }
  explicit operator bool() const { return present_; }
  // The double-NUL list, or nullptr for none.
  const char* data() const { return present_ ? data_.c_str() : nullptr; }
  // Its bytes including the final NUL (0 for none).
  size_t size() const { return present_ ? data_.size() : 0; }
  const std::string& bytes() const { return data_; }
  size_t count() const;
  std::vector<std::string> paths() const;

 private:
  bool present_ = false;
  std::string data_;
};

class ConfigFileList : public ConfigBase {
 public:
  static constexpr uint32_t kFixedLength = 1096;
  static constexpr int kSelectedDirs = 256;
  static constexpr int kExtensionSlots = 3;
  static constexpr int kExtensionSize = 5;  // four characters and a NUL
  // The working buffer a play list is collected in.
  static constexpr size_t kPlayListCapacity = 0x200000;

  enum PlayMode : int32_t {
    kRandom = 0,
    kFileList = 1,
    kSelectedDirectories = 2,
    kOneRandomDirectory = 3,
    kFiveRandomDirectories = 7,
    kAllFilesRandomly = 8,
  };

  ConfigFileList();

  void saveBody(std::vector<uint8_t>& out, uint32_t* length) override;
  bool loadBody(const uint8_t* data, size_t available, uint32_t* length) override;
  // The list's dialog: "Image list" (185) or "Mp3 File List" (202).
  intptr_t dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

  // A fresh play list drawn by the play mode, partly at random (platform::rand);
  // none when the list is disabled or the mode is outside 0..8.  Mode 0 is
  // replaced, for good, by a mode drawn at random.
  PlayList drawPlayList();
  // The number of entries of a play list drawn for the purpose.
  size_t countPlayList();
  // Each a text of up to 4 characters; null or empty for none.
  void setExtensions(const char* first, const char* second, const char* third);
  std::string extension(int slot) const { return extensions[slot]; }
  // Appends every path of a double-NUL list to fileList.
  void addFiles(const char* doubleNulList);
  void clearLists();

  // List box of the edited list as the file stores it.
  int32_t editedListBox() const { return editDirectories == 1 ? 1093 : 1092; }

  int32_t listEnabled = 1;
  int32_t showPlayButtons = 0;
  int32_t maxFiles = 99;
  int32_t playMode = kAllFilesRandomly;
  int32_t randomizeOrder = 1;
  int32_t selectedDirs[kSelectedDirs];
  int32_t editDirectories = 0;
  char extensions[kExtensionSlots][kExtensionSize] = {};
  StringList fileList;
  StringList dirList;
  // The fixed part length as the file stored it (1096 is always written).
  uint32_t storedFixedLength = kFixedLength;

 private:
  std::vector<size_t> chooseDirectories(int32_t mode);
};
