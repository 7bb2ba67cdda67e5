#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace platform {

std::string programPath() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

std::string programDirectory() { return directoryPart(programPath()); }

std::string currentDirectory() {
  char buf[PATH_MAX];
  if (!getcwd(buf, sizeof buf)) return std::string();
  return buf;
}

bool setCurrentDirectory(const std::string& dir) { return chdir(dir.c_str()) == 0; }

std::string_view fileNamePart(std::string_view path) {
  size_t cut = path.find_last_of("/\\");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

std::string directoryPart(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string joinPath(std::string_view dir, std::string_view name) {
  std::string out(dir);
  if (!out.empty() && out.back() != '/') out += '/';
  out += name;
  return out;
}

bool matchWildcard(std::string_view pattern, std::string_view name) {
  // Iterative match with one backtrack point for the last '*'.
  size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  auto same = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  };
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || same(pattern[p], name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool listDirectory(const std::string& dir, std::string_view pattern, std::vector<DirEntry>& out) {
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return false;
  while (dirent* e = readdir(d)) {
    std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    if (!matchWildcard(pattern, name)) continue;
    DirEntry entry;
    entry.name = std::string(name);
    if (e->d_type == DT_DIR) {
      entry.isDirectory = true;
    } else if (e->d_type == DT_REG) {
      entry.isRegular = true;
    } else if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      struct stat st;
      if (stat(joinPath(dir, name).c_str(), &st) == 0) {
        entry.isDirectory = S_ISDIR(st.st_mode);
        entry.isRegular = S_ISREG(st.st_mode);
      }
    }
    out.push_back(std::move(entry));
  }
  closedir(d);
  return true;
}

int openRegularFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

std::optional<std::string> readRegularFile(const std::string& path) {
  const int fd = openRegularFile(path);
  if (fd < 0) return std::nullopt;
  std::string bytes;
  char buf[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (n == 0) break;
    bytes.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  if (!ok) return std::nullopt;
  return bytes;
}

static std::string xdgDirectory(const char* var, const char* fallback) {
  const char* v = std::getenv(var);
  if (v && *v == '/') return v;
  const char* home = std::getenv("HOME");
  return joinPath(home && *home ? home : "/tmp", fallback);
}

std::string userConfigDirectory() { return xdgDirectory("XDG_CONFIG_HOME", ".config"); }
std::string userDataDirectory() { return xdgDirectory("XDG_DATA_HOME", ".local/share"); }

bool makeDirectories(const std::string& dir) {
  if (dir.empty()) return false;
  struct stat st;
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0) makeDirectories(dir.substr(0, slash));
  return mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST;
}

namespace {

// The temporary files of writeFileAtomically: ".<name>.saving-XXXXXX" beside
// the target, locked (flock) by the process writing them.
std::string temporaryPrefix(std::string_view name) { return "." + std::string(name) + ".saving-"; }

// Removes temporary files of `name` that a process left when it died while
// saving: a file no one holds the lock of is such a leftover.
void removeLeftovers(const std::string& dir, std::string_view name) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  const std::string prefix = temporaryPrefix(name);
  const int dfd = dirfd(d);
  while (dirent* e = readdir(d)) {
    const std::string_view entry = e->d_name;
    if (entry.size() != prefix.size() + 6 || entry.compare(0, prefix.size(), prefix) != 0) continue;
    const int fd = openat(dfd, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0) unlinkat(dfd, e->d_name, 0);
    ::close(fd);
  }
  closedir(d);
}

// Follows symbolic links from `path` to the file they end at (which need
// not exist yet), so that a link is written through, not replaced.
std::string finalTarget(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    char buf[PATH_MAX];
    const ssize_t n = readlink(current.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return current;
    const std::string link(buf, static_cast<size_t>(n));
    current = link[0] == '/' ? link : joinPath(directoryPart(current), link);
  }
  return current;
}

}  // namespace

bool writeFileAtomically(const std::string& pathIn, const void* data, size_t size) {
  const std::string path = finalTarget(pathIn);
  const std::string dir = directoryPart(path);
  const std::string_view name = fileNamePart(path);
  removeLeftovers(dir, name);
  // Also beside the link, where a save made before it was a link wrote.
  if (path != pathIn) removeLeftovers(directoryPart(pathIn), fileNamePart(pathIn));

  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 10 && fd < 0; ++attempt) {
    tmp = joinPath(dir, temporaryPrefix(name) + "XXXXXX");
    fd = mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    // Held while the file is written; another process's clean-up could
    // have taken it between its creation and the lock: then start again.
    struct stat st {};
    if (flock(fd, LOCK_EX) != 0 || fstat(fd, &st) != 0 || st.st_nlink == 0) {
      ::close(fd);
      fd = -1;
    }
  }
  if (fd < 0) return false;
  const char* p = static_cast<const char*>(data);
  size_t left = size;
  bool ok = true;
  while (left > 0) {
    ssize_t w = write(fd, p, left);
    if (w < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    p += w;
    left -= static_cast<size_t>(w);
  }
  // Keep the permissions of the file being replaced, else the usual ones.
  struct stat st;
  mode_t mode = stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  ok = ok && fchmod(fd, mode) == 0;
  ok = ok && fsync(fd) == 0;
  if (ok && rename(tmp.c_str(), path.c_str()) == 0) {
    ::close(fd);
    // The rename itself must reach the disk too.
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      fsync(dirFd);
      ::close(dirFd);
    }
    return true;
  }
  unlink(tmp.c_str());
  ::close(fd);
  return false;
}

}  // namespace platform
