// Any bytes as the settings file: the block chain (root, water, the two
// media lists), then what is done with what was read.  Whatever was loaded
// must save and load back to the same bytes, and the media lists must draw
// play lists without reading outside what they hold.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "platform/crtrand.h"
#include "source/config.h"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "fuzz_settings: %s\n", what);
  std::abort();
}

// Lists with more directories than this are not drawn from (each drawing
// pass looks at every directory).
constexpr size_t kMaxDrawnDirectories = 4096;

void checkDrawing(const ConfigFileList& loaded) {
  if (loaded.dirList.count() > kMaxDrawnDirectories) return;
  // The directories are replaced by ones that can't exist, so that a
  // drawing never lists the real file system; their number and the rest of
  // the section stay as loaded.
  ConfigFileList list = loaded;
  list.dirList.clear();
  for (size_t i = 0; i < loaded.dirList.count(); ++i)
    list.dirList.append(loaded.dirList.at(i).empty() ? std::string() : "/nonexistent-lm-fuzz/" + std::to_string(i));

  platform::srand(1);
  const int32_t modeBefore = list.playMode;
  const PlayList drawn = list.drawPlayList();
  if (modeBefore == ConfigFileList::kRandom && list.listEnabled != 0 && (list.playMode < 1 || list.playMode > 8))
    fail("random mode replaced by a mode outside 1..8");
  if (!drawn) return;
  if (list.listEnabled == 0) fail("a disabled list drew a play list");
  const std::string& bytes = drawn.bytes();
  if (bytes.empty() || bytes.back() != '\0') fail("play list not NUL-terminated");
  if (bytes.size() > ConfigFileList::kPlayListCapacity) fail("play list beyond its capacity");
  const std::vector<std::string> paths = drawn.paths();
  if (paths.size() != drawn.count()) fail("play list count differs from its paths");
  const std::set<std::string> files(list.fileList.strings().begin(), list.fileList.strings().end());
  for (const std::string& p : paths)
    if (!files.count(p)) fail("play list path not in the file list");
  if (list.randomizeOrder && paths.size() > size_t(list.maxFiles < 0 ? 0 : list.maxFiles))
    fail("more files drawn than the maximum");
}

// A block that is not this section's, or that is cut short, leaves the
// section exactly as it was.
void checkOneSection(ConfigBase& section, const uint8_t* data, size_t size) {
  std::vector<uint8_t> before, after;
  uint32_t length = 0;
  section.save(before, &length);
  uint32_t declared = 0xDEADBEEF;
  const int r = section.load(data, size, &declared);
  if (r != ConfigBase::kLoaded && r != ConfigBase::kTagDiffers && r != ConfigBase::kLengthDiffers &&
      r != ConfigBase::kTruncated)
    fail("unknown block result");
  if (size >= 4 && declared != ConfigBase::readLe32(data)) fail("declared length not reported");
  if (size < 4 && declared != 0) fail("declared length reported without one");
  section.save(after, &length);
  if ((r == ConfigBase::kTagDiffers || r == ConfigBase::kTruncated) && after != before)
    fail("a block that was not loaded changed the section");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Config config;
  const int loaded = config.loadData(data, size);
  if (loaded < 0 || loaded > 4) fail("loaded count out of range");

  // What was read saves and reads back unchanged.
  const std::vector<uint8_t> saved = config.serialize();
  Config again;
  if (again.loadData(saved.data(), saved.size()) != 4) fail("saved settings do not load whole");
  if (again.serialize() != saved) fail("settings differ after a save and a load");
  if (again.standaloneMarker != config.standaloneMarker) fail("marker lost");

  {
    Config root;
    ConfigWater water;
    ConfigFileList list;
    checkOneSection(root, data, size);
    checkOneSection(water, data, size);
    checkOneSection(list, data, size);
  }

  checkDrawing(config.images);
  checkDrawing(config.mp3);
  return 0;
}
