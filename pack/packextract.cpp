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

std::string printableName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out;
}

bool storableMemberName(std::string_view name) {
  if (name.empty()) return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
  });
}

namespace {

// A name that stays inside the directory it is created in and can be
// logged as one line.
bool safeName(std::string_view name) {
  return storableMemberName(name) && name != "." && name != ".." && name.find_first_of("/\\") == std::string_view::npos;
}

// A new file beside `name` under a name no one else uses.
int createTemporary(int dirFd, const char* name, std::string& temp) {
  static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = std::string(".") + name + ".part-";
    uint32_t r = static_cast<uint32_t>(std::rand()) ^ (static_cast<uint32_t>(getpid()) << 8) ^
                 static_cast<uint32_t>(attempt * 2654435761u);
    for (int i = 0; i < 6; ++i, r /= 36) temp += letters[r % 36];
    const int fd = openat(dirFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
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

// How writing a member over a name went.
enum class Replacement { done, notCreated, notWhole };

// Writes member `index` of `pack` as `name` in the directory `dirFd`: under
// a fresh name, renamed over `name` once whole, so a name that is a link to
// a file elsewhere is replaced, never written through.  A copy that fails
// leaves no part behind.  `copied` hears the bytes written so far.
template <class Copied>
Replacement replaceWithMember(const Pack& pack, int index, int dirFd, const char* name, uint8_t* block,
                              Copied&& copied) {
  std::string temp;
  const int fd = createTemporary(dirFd, name, temp);
  if (fd < 0) return Replacement::notCreated;
  const uint64_t length = pack.entries()[static_cast<size_t>(index)].length;
  uint64_t done = 0;
  bool ok = true;
  while (done < length) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kCopyBlock, length - done));
    const size_t n = pack.readRange(index, block, want, static_cast<size_t>(done));
    if (n == 0) break;
    if (!writeAll(fd, block, n)) {
      ok = false;
      break;
    }
    done += n;
    copied(done);
  }
  ok = (::close(fd) == 0) && ok && done == length;
  ok = ok && renameat(dirFd, temp.c_str(), dirFd, name) == 0;
  if (ok) return Replacement::done;
  unlinkat(dirFd, temp.c_str(), 0);
  return Replacement::notWhole;
}

// Deeper trees than this are taken for a corrupt directory.
constexpr int kMaxDepth = 1024;

class TreeExtractor {
 public:
  explicit TreeExtractor(const Pack& pack)
      : pack_(pack), entries_(pack.entries()), visited_(entries_.size(), false), block_(new uint8_t[kCopyBlock]) {}

  TreeExtraction run(int targetFd, const std::string& targetAbs, std::string_view rootName) {
    rootName_ = rootName;
    visited_[0] = true;
    TreeExtraction result;
    result.written = extractDirectory(0, targetFd, targetAbs, 0);
    result.notExtracted = notExtracted_;
    result.walkStopped = stop_;
    return result;
  }

 private:
  void log(const char* prefix, const std::string& path) {
    const PackHooks& hooks = packHooks();
    if (hooks.log) hooks.log(std::string(prefix) + printableName(path));
  }

  // A member that was not extracted: counted and reported.
  void refuse(const std::string& where, const char* name, const char* why) {
    ++notExtracted_;
    const PackHooks& hooks = packHooks();
    if (hooks.problem) hooks.problem(printableName(where) + "/" + printableName(name) + ": " + why);
  }

  void stopWalk(const std::string& where, const char* why) {
    if (!stop_) {
      const PackHooks& hooks = packHooks();
      if (hooks.problem) hooks.problem(printableName(where) + ": " + why + "; the rest is not extracted");
    }
    stop_ = true;
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
    if (!safeName(name)) {
      refuse(parentAbs, name.c_str(), "unsafe directory name refused, with everything in it");
      return 0;
    }
    if (depth > kMaxDepth) {
      stopWalk(parentAbs, "directories nested too deep");
      return 0;
    }
    const std::string abs = parentAbs + "/" + name;
    if (!makeDirectory(parentFd, name.c_str(), abs)) {
      refuse(parentAbs, name.c_str(), "no directory can be made here (something else has that name)");
      return 0;
    }
    const int fd = openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      refuse(parentAbs, name.c_str(), "the directory cannot be opened");
      return 0;
    }

    uint64_t level = 0;
    // The first child is always the entry right after its directory.
    uint32_t child = index + 1;
    if (index == 0 && entries_.size() <= 1) child = 0;
    while (child != 0 && !stop_) {
      if (child >= entries_.size() || visited_[child]) {
        // A link beyond the directory or back into what was walked: the
        // directory is inconsistent, and the walk ends here.
        stopWalk(abs, "the container's directory is inconsistent");
        break;
      }
      visited_[child] = true;
      const PackEntry& c = entries_[child];
      if (c.kind == kKindDirectory) {
        if (c.firstChild != 0) {
          level += extractDirectory(child, fd, abs, depth + 1);
        } else if (!safeName(c.name)) {
          refuse(abs, c.name, "unsafe directory name refused");
        } else if (!makeDirectory(fd, c.name, abs + "/" + c.name)) {
          refuse(abs, c.name, "no directory can be made here (something else has that name)");
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
    if (!safeName(e.name)) {
      refuse(dirAbs, e.name, "unsafe file name refused");
      return 0;
    }
    if (pack_.dataOffset() + e.offset + e.length > pack_.fileSize()) {
      // A member past the end of the file: the directory lies.
      refuse(dirAbs, e.name, "the member lies past the end of the container");
      stopWalk(dirAbs, "the container's directory is inconsistent");
      return 0;
    }
    // Only a regular file of that name is replaced; a symbolic link, a FIFO
    // or a directory stays and the member is refused.
    struct stat existing {};
    if (fstatat(dirFd, e.name, &existing, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(existing.st_mode)) {
      refuse(dirAbs, e.name, "something other than a file has that name");
      return 0;
    }
    switch (replaceWithMember(pack_, static_cast<int>(index), dirFd, e.name, block_.get(),
                              [&](uint64_t done) { progress(levelBefore + done); })) {
      case Replacement::done: break;
      case Replacement::notCreated: refuse(dirAbs, e.name, "the file cannot be created"); return 0;
      case Replacement::notWhole: refuse(dirAbs, e.name, "the file could not be written whole"); return 0;
    }
    log("Copyfile:", dirAbs + "/" + e.name);
    return e.length;
  }

  const Pack& pack_;
  const std::vector<PackEntry>& entries_;
  std::vector<bool> visited_;
  std::unique_ptr<uint8_t[]> block_;
  std::string_view rootName_;
  bool stop_ = false;
  uint32_t notExtracted_ = 0;
};

}  // namespace

uint64_t Pack::extractTree(const std::string& targetDirectory, std::string_view rootName) const {
  return extractTreeReporting(targetDirectory, rootName).written;
}

TreeExtraction Pack::extractTreeReporting(const std::string& targetDirectory, std::string_view rootName) const {
  TreeExtraction result;
  if (!isOpen() || entries_.empty()) return result;
  const std::string target = targetDirectory.empty() ? std::string(".") : targetDirectory;
  const int fd = ::open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const PackHooks& hooks = packHooks();
  if (fd >= 0) {
    char resolved[PATH_MAX];
    std::string abs = realpath(target.c_str(), resolved) ? std::string(resolved) : target;
    if (abs == "/") abs.clear();
    TreeExtractor extractor(*this);
    result = extractor.run(fd, abs, rootName);
    ::close(fd);
  } else {
    result.targetMissing = true;
    result.notExtracted = static_cast<uint32_t>(entries_.size());
    if (hooks.problem) hooks.problem(printableName(target) + ": the target directory cannot be opened");
  }
  if (hooks.progress) hooks.progress(1.0);
  return result;
}

int Pack::extractMember(std::string_view name, const std::string& targetPath) const {
  const int index = findEntry(name, false);
  if (index < 0) return 0;
  const size_t slash = targetPath.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : targetPath.substr(0, slash);
  const std::string leaf = slash == std::string::npos ? targetPath : targetPath.substr(slash + 1);
  if (leaf.empty()) return 1;
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return 1;
  std::unique_ptr<uint8_t[]> block(new uint8_t[kCopyBlock]);
  // A copy that failed leaves no stale file a caller could take for this one.
  if (replaceWithMember(*this, index, dirFd, leaf.c_str(), block.get(), [](uint64_t) {}) == Replacement::notWhole)
    unlinkat(dirFd, leaf.c_str(), 0);
  ::close(dirFd);
  return 1;
}
