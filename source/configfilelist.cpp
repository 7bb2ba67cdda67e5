#include "source/configfilelist.h"

#include <algorithm>
#include <cstring>

#include "platform/crtrand.h"
#include "platform/files.h"

size_t PlayList::count() const {
  size_t n = 0;
  if (!present_) return 0;
  for (const char* p = data_.c_str(); *p; p += std::strlen(p) + 1) ++n;
  return n;
}

std::vector<std::string> PlayList::paths() const {
  std::vector<std::string> out;
  if (!present_) return out;
  for (const char* p = data_.c_str(); *p; p += std::strlen(p) + 1) out.emplace_back(p);
  return out;
}

ConfigFileList::ConfigFileList() : ConfigBase("configfilelist", kFixedLength) {
  std::fill(std::begin(selectedDirs), std::end(selectedDirs), -1);
}

void ConfigFileList::saveBody(std::vector<uint8_t>& out, uint32_t* length) {
  appendLe32(out, 0);
  appendLe32(out, kFixedLength);
  appendLe32(out, 0);
  appendLe32(out, 0);
  appendLe32(out, static_cast<uint32_t>(listEnabled));
  appendLe32(out, static_cast<uint32_t>(showPlayButtons));
  appendLe32(out, static_cast<uint32_t>(maxFiles));
  appendLe32(out, static_cast<uint32_t>(playMode));
  appendLe32(out, static_cast<uint32_t>(randomizeOrder));
  for (int32_t v : selectedDirs) appendLe32(out, static_cast<uint32_t>(v));
  appendLe32(out, static_cast<uint32_t>(editDirectories));
  appendLe32(out, 0);
  appendLe32(out, static_cast<uint32_t>(editedListBox()));
  for (const auto& ext : extensions) out.insert(out.end(), ext, ext + kExtensionSize);
  out.insert(out.end(), 1 + 8, 0);
  uint32_t files = 0, dirs = 0;
  fileList.saveBlock(out, &files);
  dirList.saveBlock(out, &dirs);
  if (length) *length = kFixedLength + files + dirs;
}

bool ConfigFileList::loadBody(const uint8_t* data, size_t available, uint32_t* length) {
  if (available < kFixedLength) return false;
  // Both lists are read before anything is taken over, so that a list cut
  // short leaves the whole section as it was.
  StringList files, dirs;
  uint32_t filesLength = 0, dirsLength = 0;
  if (!files.loadBlock(data + kFixedLength, available - kFixedLength, &filesLength)) return false;
  const size_t dirsAt = size_t(kFixedLength) + filesLength;
  if (dirsAt > available || !dirs.loadBlock(data + dirsAt, available - dirsAt, &dirsLength)) return false;

  storedFixedLength = readLe32(data + 4);
  listEnabled = readLeInt(data + 16);
  showPlayButtons = readLeInt(data + 20);
  maxFiles = readLeInt(data + 24);
  playMode = readLeInt(data + 28);
  randomizeOrder = readLeInt(data + 32);
  for (int i = 0; i < kSelectedDirs; ++i) selectedDirs[i] = readLeInt(data + 36 + 4 * i);
  editDirectories = readLeInt(data + 1060);
  for (int i = 0; i < kExtensionSlots; ++i) {
    std::memcpy(extensions[i], data + 1072 + kExtensionSize * i, kExtensionSize);
    extensions[i][kExtensionSize - 1] = 0;  // a field without its NUL keeps 4 characters
  }
  fileList = std::move(files);
  dirList = std::move(dirs);
  if (length) *length = kFixedLength + filesLength + dirsLength;
  return true;
}

void ConfigFileList::setExtensions(const char* first, const char* second, const char* third) {
  const char* given[kExtensionSlots] = {first, second, third};
  for (int i = 0; i < kExtensionSlots; ++i) {
    std::memset(extensions[i], 0, kExtensionSize);
    if (given[i]) std::strncpy(extensions[i], given[i], kExtensionSize - 1);
  }
}

void ConfigFileList::addFiles(const char* list) { fileList.appendList(list); }

void ConfigFileList::clearLists() {
  fileList.clear();
  dirList.clear();
}

namespace {

// c draws from a pool of the indices 0..n-1 without repetition, in the
// order drawn; the pool keeps its order as gaps are closed, so a draw of r
// takes the r-th index still in the pool.  A Fenwick tree over the indices
// still present finds it in O(log n), so trimming a long list stays quick.
std::vector<size_t> drawFromPool(size_t n, size_t c) {
  std::vector<uint32_t> tree(n + 1, 0);
  for (size_t i = 1; i <= n; ++i) {
    tree[i] += 1;
    const size_t parent = i + (i & (~i + 1));
    if (parent <= n) tree[parent] += tree[i];
  }
  size_t top = 1;
  while (top * 2 <= n) top *= 2;
  std::vector<size_t> chosen;
  chosen.reserve(c);
  size_t remaining = n;
  for (size_t k = 0; k < c && remaining > 0; ++k, --remaining) {
    size_t rank = size_t(platform::randomIndex(static_cast<int>(remaining))) + 1;
    size_t pos = 0;
    for (size_t step = top; step > 0; step >>= 1) {
      if (pos + step <= n && tree[pos + step] < rank) {
        pos += step;
        rank -= tree[pos];
      }
    }
    chosen.push_back(pos);  // the 1-based position pos + 1 is index pos
    for (size_t i = pos + 1; i <= n; i += i & (~i + 1)) tree[i] -= 1;
  }
  return chosen;
}

// The working buffer of a drawing: paths are taken while they and the
// list's final NUL fit in its capacity.
class Collector {
 public:
  bool add(std::string_view path) {
    if (used_ + path.size() + 1 + 1 > ConfigFileList::kPlayListCapacity) return false;
    paths_.emplace_back(path);
    used_ += path.size() + 1;
    return true;
  }
  std::vector<std::string>& paths() { return paths_; }

 private:
  std::vector<std::string> paths_;
  size_t used_ = 0;
};

// The entries of a list as its double-NUL form holds them: an empty string
// would end that form, so nothing after one counts.
size_t leadingEntries(const StringList& list) {
  size_t n = 0;
  while (n < list.count() && !list.at(n).empty()) ++n;
  return n;
}

}  // namespace

std::vector<size_t> ConfigFileList::chooseDirectories(int32_t mode) {
  const size_t dirCount = leadingEntries(dirList);
  if (mode == kSelectedDirectories) {
    std::vector<size_t> chosen;
    for (size_t i = 0; i < size_t(kSelectedDirs) && i < dirCount; ++i) {
      const int32_t v = selectedDirs[i];
      if (v < 0 || size_t(v) >= dirCount) break;
      chosen.push_back(size_t(v));
    }
    return chosen;
  }
  size_t wanted = 0;
  if (mode >= kOneRandomDirectory && mode <= kFiveRandomDirectories) wanted = size_t(mode - 2);
  if (mode == kAllFilesRandomly) wanted = dirCount;
  return drawFromPool(dirCount, std::min(wanted, dirCount));
}

PlayList ConfigFileList::drawPlayList() {
  if (listEnabled == 0) return PlayList();
  if (playMode == kRandom) playMode = (platform::rand() & 7) + 1;  // kept for later drawings and saves
  const int32_t mode = playMode;
  if (mode < kRandom || mode > kAllFilesRandomly) return PlayList();

  const std::vector<size_t> chosen = chooseDirectories(mode);
  Collector collected;
  // Extension-major: every directory's files of the first extension come
  // before any file of the second.
  for (const auto& ext : extensions) {
    if (ext[0] == 0) continue;
    const std::string pattern = std::string("*") + ext;
    for (size_t d : chosen) {
      const std::string& dir = dirList.at(d);
      std::vector<platform::DirEntry> entries;
      if (!platform::listDirectory(dir, pattern, entries)) continue;
      for (const platform::DirEntry& e : entries) {
        // A folder named "x.jpg" is no picture, and a FIFO or device of that
        // name would hang whoever opens it.
        if (!e.isRegular) continue;
        if (!collected.add(platform::joinPath(dir, e.name))) break;
      }
    }
  }
  if (mode == kFileList || mode == kAllFilesRandomly) {
    const size_t files = leadingEntries(fileList);
    for (size_t i = 0; i < files; ++i)
      if (!collected.add(fileList.at(i))) break;
  }

  std::vector<std::string>& paths = collected.paths();
  std::string out;
  auto emit = [&out](const std::string& p) {
    out += p;
    out += '\0';
  };
  if (randomizeOrder) {
    const size_t take = maxFiles <= 0 ? 0 : std::min(size_t(maxFiles), paths.size());
    for (size_t i : drawFromPool(paths.size(), take)) emit(paths[i]);
  } else {
    for (const std::string& p : paths) emit(p);
  }
  out += '\0';
  return PlayList(std::move(out));
}

size_t ConfigFileList::countPlayList() { return drawPlayList().count(); }
