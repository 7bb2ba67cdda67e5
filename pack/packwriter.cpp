#include "pack/packwriter.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/files.h"

using namespace packformat;

bool writePackHeader(std::FILE* f, uint32_t totalLength, const std::vector<PackEntry>& entries) {
  std::vector<uint8_t> bytes(kHeaderSize + kEntrySize * entries.size(), 0);
  signatureBytes(bytes.data());
  writeLe32(bytes.data() + 28, totalLength);
  writeLe32(bytes.data() + 32, static_cast<uint32_t>(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) entries[i].encode(bytes.data() + kHeaderSize + i * kEntrySize);
  return std::fseek(f, 0, SEEK_SET) == 0 && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
}

// ---------------------------------------------------------------------------
// Flat writer

PackWriter::~PackWriter() { dropDataFile(); }

void PackWriter::dropDataFile() {
  if (data_) std::fclose(data_);
  data_ = nullptr;
  if (!dataPath_.empty()) std::remove(dataPath_.c_str());
  dataPath_.clear();
}

bool PackWriter::report(uint64_t bytes) {
  if (!progress || progress(bytes)) return true;
  stopped_ = true;
  failed_ = true;
  return false;
}

void PackWriter::fail(int error) {
  if (!failed_ && error_ == 0) error_ = error;
  failed_ = true;
}

bool PackWriter::begin(const std::string& targetPath, const std::string& dataDirectory) {
  dropDataFile();
  entries_.clear();
  dataLength_ = 0;
  failed_ = false;
  stopped_ = false;
  error_ = 0;
  target_.clear();
  if (targetPath.empty() || targetPath.size() > 259) return false;
  target_ = targetPath;
  dataPath_ = dataDirectory.empty() ? std::string(kDataFileName) : platform::joinPath(dataDirectory, kDataFileName);
  data_ = std::fopen(dataPath_.c_str(), "w+b");
  if (!data_) {
    error_ = errno;
    dataPath_.clear();
    return false;
  }
  entries_.reserve(kMaxEntries);
  return true;
}

bool PackWriter::add(std::string_view path, const void* data, size_t length) {
  if (!data_ || stopped_ || entries_.size() >= kMaxEntries) return false;
  // A member without a name could never be found again, and one with
  // control characters could forge lines in the logs that print it.
  if (!storableMemberName(platform::fileNamePart(path))) return false;
  std::string fetched;
  if (!data) {
    if (processPack().load(path, fetched) == kPackLoadNothing) return false;
    data = fetched.data();
    length = fetched.size();
  }
  // Offsets and lengths are 32-bit; a member that would not fit is refused
  // rather than stored with a wrapped offset.
  const uint64_t directory = kHeaderSize + kEntrySize * (entries_.size() + 1);
  if (dataLength_ + length + directory > UINT32_MAX) return false;

  PackEntry e;
  e.setName(platform::fileNamePart(path));
  e.kind = kKindFile;
  e.offset = static_cast<uint32_t>(dataLength_);
  e.length = static_cast<uint32_t>(length);
  if (length && std::fwrite(data, 1, length, data_) != length) fail(errno);
  entries_.push_back(e);
  dataLength_ += length;
  return report(dataLength_);
}

bool PackWriter::finish() {
  if (!data_) return false;
  if (failed_) {
    dropDataFile();
    return false;
  }
  std::FILE* out = std::fopen(target_.c_str(), "wb");
  if (!out) {
    fail(errno);
    dropDataFile();
    return false;
  }
  bool ok = writePackHeader(out, 0, entries_);
  if (!ok) fail(errno);
  if (ok && (std::fflush(data_) != 0 || std::fseek(data_, 0, SEEK_SET) != 0)) {
    fail(errno);
    ok = false;
  }
  uint64_t copied = 0;
  if (ok) {
    std::unique_ptr<uint8_t[]> block(new uint8_t[kCopyBlock]);
    for (;;) {
      const size_t n = std::fread(block.get(), 1, kCopyBlock, data_);
      if (n == 0) break;
      if (std::fwrite(block.get(), 1, n, out) != n) {
        fail(errno);
        ok = false;
        break;
      }
      copied += n;
      if (!report(dataLength_ + copied)) {
        ok = false;
        break;
      }
    }
    if (ok && (std::ferror(data_) || copied != dataLength_)) {
      fail(EIO);
      ok = false;
    }
  }
  dropDataFile();
  const uint64_t total = kHeaderSize + kEntrySize * entries_.size() + dataLength_;
  if (ok && !writePackHeader(out, static_cast<uint32_t>(total), entries_)) {
    fail(errno);
    ok = false;
  }
  if (std::fclose(out) != 0 && ok) {
    fail(errno);
    ok = false;
  }
  if (!ok) std::remove(target_.c_str());
  return ok;
}

// ---------------------------------------------------------------------------
// Tree builder and writer

namespace {

struct Item {
  std::string name;
  bool directory = false;
};

// Items of `dir` in the order the file system lists them, without names
// beginning with '.', without symbolic links to directories and without
// anything that is neither a file nor a directory.
bool listItems(const std::string& dir, std::vector<Item>& out) {
  DIR* d = opendir(dir.c_str());
  if (!d) return false;
  const int fd = dirfd(d);
  while (dirent* de = readdir(d)) {
    const char* name = de->d_name;
    if (name[0] == '.') continue;
    struct stat st {};
    if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISLNK(st.st_mode)) {
      if (fstatat(fd, name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
    }
    if (S_ISREG(st.st_mode)) {
      out.push_back({name, false});
    } else if (S_ISDIR(st.st_mode)) {
      out.push_back({name, true});
    }
  }
  closedir(d);
  return true;
}

std::string directoryName(const std::string& dir) {
  char resolved[PATH_MAX];
  std::string full = realpath(dir.c_str(), resolved) ? std::string(resolved) : dir;
  while (full.size() > 1 && full.back() == '/') full.pop_back();
  return std::string(platform::fileNamePart(full));
}

}  // namespace

bool PackTreeWriter::scan(const std::string& dir, uint32_t parent, uint32_t& subdirs, uint32_t& files) {
  std::vector<Item> items;
  if (!listItems(dir, items)) return true;  // an unreadable directory stays empty
  uint32_t previous = 0;
  for (const Item& item : items) {
    if (entries_.size() >= kMaxEntries) {
      error_ = "more than 10000 entries";
      return false;
    }
    if (item.name.size() > kMaxNameLength) {
      error_ = "name longer than 63 characters: " + printableName(platform::joinPath(dir, item.name));
      return false;
    }
    if (!storableMemberName(item.name)) {
      error_ = "name with control characters: " + printableName(platform::joinPath(dir, item.name));
      return false;
    }
    const uint32_t index = static_cast<uint32_t>(entries_.size());
    PackEntry e;
    e.setName(item.name);
    e.parent = parent;
    e.previousSibling = previous;
    e.kind = item.directory ? kKindDirectory : kKindFile;
    entries_.push_back(e);
    sources_.push_back(platform::joinPath(dir, item.name));
    if (previous) entries_[previous].nextSibling = index;
    previous = index;
    if (item.directory) {
      ++subdirs;
      uint32_t innerDirs = 0, innerFiles = 0;
      // A copy: scanning grows sources_ and would move the string away.
      const std::string sub = sources_[index];
      if (!scan(sub, index, innerDirs, innerFiles)) return false;
      entries_[index].offset = innerDirs;
      entries_[index].length = innerFiles;
      entries_[index].firstChild = entries_.size() > index + 1u ? index + 1 : 0;
    } else {
      ++files;
    }
  }
  return true;
}

bool PackTreeWriter::build(const std::string& directory) {
  entries_.clear();
  sources_.clear();
  error_.clear();
  std::string root = directory;
  if (root.empty()) {
    std::vector<Item> items;
    listItems(".", items);
    int dirs = 0;
    for (const Item& item : items) {
      if (item.directory) {
        ++dirs;
        root = item.name;
      }
    }
    if (dirs != 1) {
      error_ = "the current directory does not hold exactly one sub-directory";
      return false;
    }
  }
  struct stat st {};
  if (stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error_ = "not a directory: " + printableName(root);
    return false;
  }
  const std::string name = directoryName(root);
  if (name.size() > kMaxNameLength || !storableMemberName(name)) {
    error_ = "unusable directory name: " + printableName(root);
    return false;
  }
  entries_.reserve(kMaxEntries);
  PackEntry rootEntry;
  rootEntry.setName(name);
  entries_.push_back(rootEntry);
  sources_.push_back(root);
  uint32_t subdirs = 0, files = 0;
  if (!scan(root, 0, subdirs, files)) {
    entries_.clear();
    sources_.clear();
    return false;
  }
  // The root's counts stand the other way round from a directory's.
  entries_[0].offset = files;
  entries_[0].length = subdirs;
  return true;
}

bool PackTreeWriter::write(const std::string& path) {
  if (entries_.empty()) return false;
  const std::string target = path.empty() ? std::string(entries_[0].name) + ".pck" : path;
  std::FILE* out = std::fopen(target.c_str(), "wb");
  if (!out) return false;
  bool ok = writePackHeader(out, 0, entries_);
  const uint64_t directory = kHeaderSize + kEntrySize * entries_.size();
  uint64_t written = 0;
  std::unique_ptr<uint8_t[]> block(new uint8_t[kCopyBlock]);
  for (size_t i = 1; ok && i < entries_.size(); ++i) {
    PackEntry& e = entries_[i];
    if (e.kind != kKindFile) continue;
    e.offset = e.length = e.checksum = 0;
    // A file replaced by a FIFO since the listing is stored empty rather
    // than waited on.
    const int inFd = platform::openRegularFile(sources_[i]);
    std::FILE* in = inFd >= 0 ? fdopen(inFd, "rb") : nullptr;
    if (!in) {
      if (inFd >= 0) close(inFd);
      continue;
    }
    uint64_t length = 0;
    uint32_t sum = 0;
    for (;;) {
      const size_t n = std::fread(block.get(), 1, kCopyBlock, in);
      if (n == 0) break;
      for (size_t k = 0; k < n; ++k) sum += block[k];
      if (std::fwrite(block.get(), 1, n, out) != n) {
        ok = false;
        break;
      }
      length += n;
    }
    std::fclose(in);
    // Offsets are 32-bit: a tree too large for them can't be written.
    if (directory + written + length > UINT32_MAX) ok = false;
    e.offset = static_cast<uint32_t>(written);
    e.length = static_cast<uint32_t>(length);
    e.checksum = sum;
    written += length;
  }
  ok = ok && writePackHeader(out, static_cast<uint32_t>(directory + written), entries_);
  ok = (std::fclose(out) == 0) && ok;
  if (!ok) std::remove(target.c_str());
  return ok;
}
