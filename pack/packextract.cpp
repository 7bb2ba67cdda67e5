// Extraction of single members and of whole trees (the installer's side).
// Tree extraction works relative to open directory handles rather than by
// changing the process's current directory, so that a name in the container
// can never lead outside the target and no symbolic link is followed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "pack/pack.h"
#include "platform/files.h"

using namespace packformat;

namespace {

// A name that stays inside the directory it is created in.
bool safeName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string_view::npos;
}

bool writeAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Deeper trees than this are taken for a corrupt directory.
constexpr int kMaxDepth = 1024;

class TreeExtractor {
 public:
  explicit TreeExtractor(const Pack& pack)
      : pack_(pack), entries_(pack.entries()), visited_(entries_.size(), false), block_(new uint8_t[kCopyBlock]) {}

  uint64_t run(int targetFd, const std::string& targetAbs, std::string_view rootName) {
    rootName_ = rootName;
    visited_[0] = true;
    return extractDirectory(0, targetFd, targetAbs, 0);
  }

 private:
  void log(const char* prefix, const std::string& path) {
    const PackHooks& hooks = packHooks();
    if (hooks.log) hooks.log(std::string(prefix) + path);
  }

  void progress(uint64_t written) {
    const PackHooks& hooks = packHooks();
    if (hooks.progress && pack_.totalLength() > 0)
      hooks.progress(static_cast<double>(written) / static_cast<double>(pack_.totalLength()));
  }

  // Creates `name` in `dirFd` unless a directory of that name is there.
  // Anything else of that name (a file, a symbolic link) is left alone and
  // refused.
  bool makeDirectory(int dirFd, const char* name, const std::string& abs) {
    struct stat st {};
    if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) return S_ISDIR(st.st_mode);
    if (mkdirat(dirFd, name, 0755) != 0) return false;
    log("Makedir:", abs);
    return true;
  }

  // Extracts the directory entry `index` into `parentFd`; returns the bytes
  // this directory level wrote, its sub-directories included.
  uint64_t extractDirectory(uint32_t index, int parentFd, const std::string& parentAbs, int depth) {
    const PackEntry& dir = entries_[index];
    const std::string name = index == 0 && !rootName_.empty() ? std::string(rootName_) : std::string(dir.name);
    if (!safeName(name)) return 0;
    if (depth > kMaxDepth) {
      stop_ = true;
      return 0;
    }
    const std::string abs = parentAbs + "/" + name;
    if (!makeDirectory(parentFd, name.c_str(), abs)) return 0;
    const int fd = openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return 0;

    uint64_t level = 0;
    // The first child is always the entry right after its directory.
    uint32_t child = index + 1;
    if (index == 0 && entries_.size() <= 1) child = 0;
    while (child != 0 && !stop_) {
      if (child >= entries_.size() || visited_[child]) {
        // A link beyond the directory or back into what was walked: the
        // directory is inconsistent, and the walk ends here.
        stop_ = true;
        break;
      }
      visited_[child] = true;
      const PackEntry& c = entries_[child];
      if (c.kind == kKindDirectory) {
        if (c.firstChild != 0) {
          level += extractDirectory(child, fd, abs, depth + 1);
        } else if (safeName(c.name)) {
          makeDirectory(fd, c.name, abs + "/" + c.name);
        }
      } else {
        level += extractFile(child, fd, abs, level);
      }
      child = c.nextSibling;
    }
    ::close(fd);
    return level;
  }

  uint64_t extractFile(uint32_t index, int dirFd, const std::string& dirAbs, uint64_t levelBefore) {
    const PackEntry& e = entries_[index];
    if (!safeName(e.name)) return 0;
    if (pack_.dataOffset() + e.offset + e.length > pack_.fileSize()) {
      stop_ = true;  // a member past the end of the file: the directory lies
      return 0;
    }
    // O_NOFOLLOW: a symbolic link of that name is never written through;
    // O_NONBLOCK: a FIFO of that name can't hold extraction up.
    const int fd = openat(dirFd, e.name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) return 0;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      return 0;
    }
    uint64_t done = 0;
    bool ok = true;
    const int memberIndex = static_cast<int>(index);
    while (done < e.length) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(kCopyBlock, e.length - done));
      const size_t n = pack_.readRange(memberIndex, block_.get(), want, static_cast<size_t>(done));
      if (n == 0) break;
      if (!writeAll(fd, block_.get(), n)) {
        ok = false;
        break;
      }
      done += n;
      progress(levelBefore + done);
    }
    ok = (::close(fd) == 0) && ok && done == e.length;
    if (!ok) {
      // Never leave a file that was not written whole.
      unlinkat(dirFd, e.name, 0);
      return 0;
    }
    log("Copyfile:", dirAbs + "/" + e.name);
    return done;
  }

  const Pack& pack_;
  const std::vector<PackEntry>& entries_;
  std::vector<bool> visited_;
  std::unique_ptr<uint8_t[]> block_;
  std::string_view rootName_;
  bool stop_ = false;
};

}  // namespace

uint64_t Pack::extractTree(const std::string& targetDirectory, std::string_view rootName) const {
  if (!isOpen() || entries_.empty()) return 0;
  uint64_t written = 0;
  const std::string target = targetDirectory.empty() ? std::string(".") : targetDirectory;
  const int fd = ::open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    char resolved[PATH_MAX];
    std::string abs = realpath(target.c_str(), resolved) ? std::string(resolved) : target;
    if (abs == "/") abs.clear();
    TreeExtractor extractor(*this);
    written = extractor.run(fd, abs, rootName);
    ::close(fd);
  }
  const PackHooks& hooks = packHooks();
  if (hooks.progress) hooks.progress(1.0);
  return written;
}

int Pack::extractMember(std::string_view name, const std::string& targetPath) const {
  const int index = findEntry(name, false);
  if (index < 0) return 0;
  std::FILE* out = std::fopen(targetPath.c_str(), "wb");
  if (!out) return 1;
  const PackEntry& e = entries_[static_cast<size_t>(index)];
  std::unique_ptr<uint8_t[]> block(new uint8_t[kCopyBlock]);
  uint64_t done = 0;
  bool ok = true;
  while (done < e.length) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kCopyBlock, e.length - done));
    const size_t n = readRange(index, block.get(), want, static_cast<size_t>(done));
    if (n == 0) break;
    if (std::fwrite(block.get(), 1, n, out) != n) {
      ok = false;
      break;
    }
    done += n;
  }
  ok = (std::fclose(out) == 0) && ok && done == e.length;
  if (!ok) std::remove(targetPath.c_str());
  return 1;
}
