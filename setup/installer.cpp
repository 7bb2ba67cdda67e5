#include "setup/installer.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "pack/pack.h"
#include "pack/packwriter.h"
#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/product.h"
#include "platform/registry.h"
#include "setup/shortcuts.h"

extern char** environ;

namespace {

constexpr const char* kUninstallBase = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr size_t kMaxInstallDir = 256;

bool equalsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string productKey(std::string_view title) { return std::string(product::kMakerKey) + "\\" + std::string(title); }

bool isDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool writeAll(int fd, const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Appends `count` bytes of `fd` from its current position (all of it when
// count is -1) to `out`, in blocks of 256 KiB.
bool copyBytes(int from, int out, int64_t count) {
  std::unique_ptr<char[]> block(new char[packformat::kCopyBlock]);
  while (count != 0) {
    const size_t want =
        count < 0 ? packformat::kCopyBlock : static_cast<size_t>(std::min<int64_t>(count, packformat::kCopyBlock));
    const ssize_t n = ::read(from, block.get(), want);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return count < 0;
    if (!writeAll(out, block.get(), static_cast<size_t>(n))) return false;
    if (count > 0) count -= n;
  }
  return true;
}

// A file written beside its target and renamed into place when whole.
class AtomicFile {
 public:
  explicit AtomicFile(std::string target) : target_(std::move(target)), temp_(target_ + ".XXXXXX") {
    fd_ = mkstemp(temp_.data());
  }
  ~AtomicFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) unlink(temp_.c_str());
  }
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  int fd() const { return fd_; }
  bool commit(mode_t mode) {
    if (fd_ < 0) return false;
    const mode_t mask = umask(0);
    umask(mask);
    bool ok = fchmod(fd_, mode & ~mask) == 0 && fsync(fd_) == 0;
    ok = ::close(fd_) == 0 && ok;
    fd_ = -1;
    if (!ok || rename(temp_.c_str(), target_.c_str()) != 0) return false;
    committed_ = true;
    return true;
  }

 private:
  std::string target_, temp_;
  int fd_ = -1;
  bool committed_ = false;
};

// The length of the program part of `ownPath`: everything before its own
// container, or the whole file when it has none.
bool programLength(const std::string& ownPath, const Pack& ownPack, int fd, uint64_t& length) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return false;
  length = static_cast<uint64_t>(st.st_size);
  if (ownPack.isOpen() && ownPack.path() == ownPath && ownPack.signatureOffset() < length)
    length = ownPack.signatureOffset();
  return true;
}

// Executable bits for what the system would run: the product's program and
// files that start like a program (ELF or a "#!" script).  The container
// carries no permissions.
void markExecutable(const std::string& path, bool always) {
  bool program = always;
  if (!program) {
    char head[4] = {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    const ssize_t n = ::read(fd, head, sizeof head);
    ::close(fd);
    program = (n == 4 && std::memcmp(head,
                                     "\x7f"
                                     "ELF",
                                     4) == 0) ||
              (n >= 2 && head[0] == '#' && head[1] == '!');
  }
  if (!program) return;
  const mode_t mask = umask(0);
  umask(mask);
  chmod(path.c_str(), 0755 & ~mask);
}

// Opens the directory that holds `path`, walking from the root without
// following any symbolic link, and gives the last component.  So a log can
// only ever name the places it names.
int openParentNoFollow(const std::string& path, std::string& leaf) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return -1;
  leaf = path.substr(slash + 1);
  if (leaf.empty()) return -1;
  int fd = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  size_t i = 1;
  while (fd >= 0 && i < slash) {
    size_t end = path.find('/', i);
    if (end == std::string::npos || end > slash) end = slash;
    const std::string part = path.substr(i, end - i);
    if (!part.empty()) {
      const int next = openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      ::close(fd);
      fd = next;
    }
    i = end + 1;
  }
  return fd;
}

enum class Removal { removed, absent, notEmpty, failed };

Removal removeLogged(const std::string& path, bool directory, int& error) {
  std::string leaf;
  const int dirFd = openParentNoFollow(path, leaf);
  error = errno;
  if (dirFd < 0) return error == ENOENT ? Removal::absent : Removal::failed;
  Removal result = Removal::removed;
  if (unlinkat(dirFd, leaf.c_str(), directory ? AT_REMOVEDIR : 0) != 0) {
    error = errno;
    if (errno == ENOENT)
      result = Removal::absent;
    else if (directory && (errno == ENOTEMPTY || errno == EEXIST))
      result = Removal::notEmpty;
    else
      result = Removal::failed;
  }
  ::close(dirFd);
  return result;
}

bool hasScreensaverExtension(std::string_view path) {
  return path.size() > 4 && equalsNoCase(path.substr(path.size() - 4), ".scr");
}

}  // namespace

std::string installDirectoryFor(std::string_view chosen, std::string_view title) {
  namespace fs = std::filesystem;
  fs::path p{std::string(chosen)};
  if (p.empty()) p = ".";
  if (!p.is_absolute()) p = fs::path(platform::currentDirectory()) / p;
  std::string dir = p.lexically_normal().string();
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (!equalsNoCase(platform::fileNamePart(dir), title)) dir = platform::joinPath(dir, title);
  return dir;
}

std::string proposedInstallDirectory(std::string_view title, const Places& places) {
  HKEY key = 0;
  if (platform::RegOpenKeyExA(HKEY_CURRENT_USER, productKey(title).c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
    char buffer[kMaxInstallDir + 1] = {};
    DWORD size = kMaxInstallDir;
    DWORD type = 0;
    const LONG r =
        platform::RegQueryValueExA(key, "installdir", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    platform::RegCloseKey(key);
    if (r == ERROR_SUCCESS && type == REG_SZ && buffer[0] == '/') return buffer;
  }
  return platform::joinPath(places.installBase, title);
}

bool createDirectoryWalk(const std::string& dir, InstallLog* log) {
  if (dir.empty() || dir[0] != '/') return false;
  size_t i = 1;
  bool creating = false;
  while (i <= dir.size()) {
    size_t end = dir.find('/', i);
    if (end == std::string::npos) end = dir.size();
    if (end > i) {
      const std::string sofar = dir.substr(0, end);
      if (!creating && !isDirectory(sofar)) creating = true;
      if (creating) {
        if (mkdir(sofar.c_str(), 0755) != 0 && !(errno == EEXIST && isDirectory(sofar))) return false;
        if (log) log->appendPath("Makedir:", sofar);
      }
    }
    i = end + 1;
  }
  return isDirectory(dir);
}

bool writeUninstaller(const std::string& ownPath, const Pack& ownPack, const std::string& target,
                      std::string_view logText) {
  const int in = ::open(ownPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  uint64_t program = 0;
  bool ok = programLength(ownPath, ownPack, in, program);
  AtomicFile out(target);
  ok = ok && out.fd() >= 0 && copyBytes(in, out.fd(), static_cast<int64_t>(program));
  ::close(in);
  if (!ok) return false;

  const uint64_t total = program + packformat::kHeaderSize + packformat::kEntrySize + logText.size();
  if (total > UINT32_MAX) return false;
  uint8_t head[packformat::kHeaderSize + packformat::kEntrySize] = {};
  packformat::signatureBytes(head);
  // The uninstaller's own container counts the whole file, and says 1 in
  // its last reserved word.
  platform::writeLe32(head + 28, static_cast<uint32_t>(total));
  platform::writeLe32(head + 32, 1);
  platform::writeLe32(head + 40, 1);
  PackEntry entry;
  entry.setName("install.log");
  entry.length = static_cast<uint32_t>(logText.size());
  entry.encode(head + packformat::kHeaderSize);
  ok = writeAll(out.fd(), head, sizeof head) && writeAll(out.fd(), logText.data(), logText.size());
  return ok && out.commit(0755);
}

void writeInstallRegistry(std::string_view title, std::string_view caption, uint32_t version,
                          const std::string& installDir) {
  using namespace platform;
  HKEY key = 0;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, productKey(title).c_str(), &key) == ERROR_SUCCESS) {
    RegSetValueExA(key, "installdir", 0, REG_SZ, reinterpret_cast<const BYTE*>(installDir.c_str()),
                   static_cast<DWORD>(installDir.size() + 1));
    uint8_t bytes[4];
    writeLe32(bytes, version);
    RegSetValueExA(key, "version", 0, REG_BINARY, bytes, sizeof bytes);
    RegCloseKey(key);
  }
  const std::string uninstallKey = std::string(kUninstallBase) + "\\" + std::string(title);
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, uninstallKey.c_str(), &key) == ERROR_SUCCESS) {
    const std::string name(caption);
    const std::string command = uninstallCommand(installDir);
    RegSetValueExA(key, "DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                   static_cast<DWORD>(name.size() + 1));
    RegSetValueExA(key, "UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                   static_cast<DWORD>(command.size() + 1));
    RegCloseKey(key);
  }
}

void removeInstallRegistry(std::string_view title) {
  using namespace platform;
  // An unusable title would name the maker's key itself, or another one.
  if (!usableTitle(title)) return;
  HKEY key = 0;
  const std::string product = productKey(title);
  if (RegOpenKeyExA(HKEY_CURRENT_USER, product.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    // Names first, then deletions: deleting while enumerating by index
    // would skip every second key.
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      char name[261] = {};
      DWORD size = 260;
      if (RegEnumKeyExA(key, i, name, &size) != ERROR_SUCCESS) break;
      names.emplace_back(name, size);
    }
    // Each whole: a sub-key with keys of its own would otherwise keep the
    // product's key, and everything in it, for ever.
    for (const std::string& n : names) RegDeleteTreeA(key, n.c_str());
    RegCloseKey(key);
    RegDeleteKeyA(HKEY_CURRENT_USER, product.c_str());
  }
  const std::string uninstallKey = std::string(kUninstallBase) + "\\" + std::string(title);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, uninstallKey.c_str());
}

std::string uninstallCommand(const std::string& installDir) {
  // The file is "Uninstall.exe": on a file system that tells letter case
  // apart, "uninstall.exe" would name nothing.
  return "\"" + platform::joinPath(installDir, "Uninstall.exe") + "\" /uninstall";
}

std::optional<std::string> requirementsWarning(std::string_view requirement,
                                               const std::function<bool(const char*)>& canLoad) {
  int version = 0;
  if (equalsNoCase(requirement, "dx8"))
    version = 8;
  else if (equalsNoCase(requirement, "dx9"))
    version = 9;
  else if (equalsNoCase(requirement, "dx10"))
    version = 10;
  else
    return std::nullopt;
  // The platform's 3D library: OpenGL, through whichever loader is there.
  for (const char* name : {"libGL.so.1", "libOpenGL.so.0", "libEGL.so.1"})
    if (canLoad(name)) return std::nullopt;
  char text[300];
  std::snprintf(text, sizeof text, "At least DirectX %d %s", version,
                "is required to run this program,please install the latest DirectX,you can get it free from most "
                "download sites");
  return std::string(text);
}

bool canLoadLibrary(const char* name) {
  void* handle = dlopen(name, RTLD_LAZY | RTLD_LOCAL);
  if (!handle) return false;
  dlclose(handle);
  return true;
}

WorkReport installWorker(const InstallJob& job, ProgressValue& progress, std::string* installedTo) {
  WorkReport report;
  const InstallParams& params = *job.params;
  const std::string title = params.title.value_or(std::string());

  // 1. The log and the hooks.
  InstallLog log(title, params.version);
  PackHooks& hooks = packHooks();
  size_t extractedFiles = 0;
  hooks.log = [&](std::string_view line) {
    if (line.rfind("Copyfile:", 0) == 0) ++extractedFiles;
    if (!log.append(line)) report.problems.push_back("install log full; not recorded: " + std::string(line));
  };
  hooks.progress = [&](double f) { progress.report(f); };
  auto record = [&](std::string_view prefix, const std::string& path) {
    if (!log.appendPath(prefix, path)) report.problems.push_back("install log full; not recorded: " + path);
  };

  // 2. The install directory ends in the title.
  const std::string dir = installDirectoryFor(params.installDir, title);
  if (installedTo) *installedTo = dir;

  // 3. Its components, from the first one missing.
  if (!createDirectoryWalk(dir, &log)) report.problems.push_back("could not create the directory " + dir);

  // 4. The registry.
  writeInstallRegistry(title, params.caption(), params.version_number, dir);

  // 5. The tree: its root lands as the install directory.
  const size_t logBefore = log.size();
  size_t expectedFiles = 0;
  if (job.pack && job.pack->isOpen()) {
    for (size_t i = 1; i < job.pack->entries().size(); ++i)
      if (job.pack->entries()[i].kind == packformat::kKindFile) ++expectedFiles;
    job.pack->extractTree(platform::directoryPart(dir), platform::fileNamePart(dir));
  } else {
    report.problems.push_back("this installer carries no files");
  }
  if (extractedFiles < expectedFiles)
    report.problems.push_back(std::to_string(expectedFiles - extractedFiles) + " of " + std::to_string(expectedFiles) +
                              " files could not be installed in " + dir);
  // What the extraction wrote: programs get their executable bits.
  {
    const std::string_view added = std::string_view(log.text()).substr(logBefore);
    size_t pos = 0;
    while (pos < added.size()) {
      size_t end = added.find("\r\n", pos);
      if (end == std::string_view::npos) end = added.size();
      const std::string_view line = added.substr(pos, end - pos);
      if (line.rfind("Copyfile:", 0) == 0) {
        const std::string path(line.substr(9));
        markExecutable(path, platform::fileNamePart(path) == params.programFileName());
      }
      pos = end + 2;
    }
  }

  // 6. The screen-saver file.
  std::string scrPath;
  if (params.screensaver && job.pack) {
    const std::string scrDir = job.places.screensaverDirectory;
    if (createDirectoryWalk(scrDir, &log)) {
      scrPath = platform::joinPath(scrDir, params.screensaverFileName());
      if (job.pack->extractMember(params.programFileName(), scrPath) == 0) {
        report.problems.push_back("the installer carries no " + params.programFileName());
        scrPath.clear();
      } else if (access(scrPath.c_str(), F_OK) != 0) {
        report.problems.push_back("could not write " + scrPath);
        scrPath.clear();
      } else {
        markExecutable(scrPath, true);
        record("Copyfile:", scrPath);
      }
    } else {
      report.problems.push_back("could not create the directory " + scrDir);
    }
  }

  // 7. Shortcuts.  The page's two check boxes decide whether the desktop
  // icons and the start-menu group are made at all.
  if (!params.parameterText.empty()) {
    auto makeShortcuts = [&](std::string_view key, const std::string& folder) {
      for (const Shortcut& s : shortcutsFor(params.parameterText, key, title)) {
        if (!usableLinkName(s.linkName)) {
          report.problems.push_back("unusable shortcut name: " + s.linkName);
          continue;
        }
        const std::string path = platform::joinPath(folder, s.linkName + ".desktop");
        const std::string text = desktopEntryText(s, dir);
        AtomicFile file(path);
        if (file.fd() >= 0 && writeAll(file.fd(), text.data(), text.size()) && file.commit(0755)) {
          record("Copyfile:", path);
        } else {
          report.problems.push_back("could not write the shortcut " + path);
        }
      }
    };
    std::string startMenu;
    if (params.startMenu) {
      startMenu = platform::joinPath(job.places.startMenuPrograms, title);
      if (!createDirectoryWalk(startMenu, &log)) {
        report.problems.push_back("could not create the directory " + startMenu);
        startMenu.clear();
      }
    }
    makeShortcuts("workshortcut:", dir);
    if (!startMenu.empty()) makeShortcuts("startmenu:", startMenu);
    // A home without a desktop folder has no desktop that shows icons.
    if (params.desktopIcon && isDirectory(job.places.desktopDirectory))
      makeShortcuts("desktopicon:", job.places.desktopDirectory);
  }

  // 8. The uninstaller, carrying the log that names it last.
  const std::string uninstaller = platform::joinPath(dir, "Uninstall.exe");
  record("Copyfile:", uninstaller);
  static const Pack kNoPack;
  if (!writeUninstaller(job.ownPath, job.pack ? *job.pack : kNoPack, uninstaller, log.text()))
    report.problems.push_back("could not write the uninstaller " + uninstaller);

  // 9. The default screen saver.
  if (params.makeDefault && !scrPath.empty() && !makeDefaultScreensaver(title, scrPath, job.places.lockerConfiguration))
    report.problems.push_back("could not make " + title + " the default screen saver");

  // 10. Finished.
  progress.report(1.1);
  hooks.log = nullptr;
  hooks.progress = nullptr;

  // 11. The initial command.
  if (params.initCommand) {
    const std::string program = platform::joinPath(dir, params.programFileName());
    if (!startProgram(program, splitArguments(*params.initCommand), dir, false))
      report.problems.push_back("could not start " + program);
  }
  return report;
}

WorkReport replayLog(std::string_view logText, const Places& places, ProgressValue* progress) {
  WorkReport report;
  const std::vector<LogAction> actions = replayActions(logText);
  size_t done = 0;
  for (const LogAction& a : actions) {
    const bool directory = a.kind == LogAction::removeDirectory;
    if (!directory && hasScreensaverExtension(a.path)) forgetDefaultScreensaver(a.path, places.lockerConfiguration);
    int error = 0;
    const Removal r = removeLogged(a.path, directory, error);
    // A directory that still holds something stays, as it should; a file
    // that can't go is worth saying.
    if (r == Removal::failed)
      report.problems.push_back(std::string("could not remove ") + (directory ? "the directory " : "") + a.path + ": " +
                                std::strerror(error));
    ++done;
    if (progress) progress->report(static_cast<double>(done) / static_cast<double>(actions.size()));
  }
  return report;
}

WorkReport uninstallWorker(const InstallParams& params, const Places& places, ProgressValue& progress) {
  WorkReport report = replayLog(params.parameterText, places, &progress);
  if (params.title) removeInstallRegistry(*params.title);
  progress.report(1.1);
  return report;
}

WorkReport packProgram(const std::string& ownPath, const Pack& ownPack, const std::string& programDir) {
  WorkReport report;
  std::vector<platform::DirEntry> items;
  std::string source;
  int dirs = 0;
  if (platform::listDirectory(programDir, "*", items)) {
    for (const platform::DirEntry& e : items) {
      if (e.isDirectory && !e.name.empty() && e.name[0] != '.') {
        ++dirs;
        source = platform::joinPath(programDir, e.name);
      }
    }
  }
  if (dirs != 1) {
    report.problems.push_back(programDir + " must hold exactly one sub-directory to pack (it holds " +
                              std::to_string(dirs) + ")");
    return report;
  }
  PackTreeWriter writer;
  if (!writer.build(source)) {
    report.problems.push_back("could not pack " + source + ": " + writer.error());
    return report;
  }
  const std::string pck = platform::joinPath(programDir, "test.pck");
  const std::string exe = platform::joinPath(programDir, "test.exe");
  if (!writer.write(pck)) {
    report.problems.push_back("could not write " + pck);
    return report;
  }
  const int in = ::open(ownPath.c_str(), O_RDONLY | O_CLOEXEC);
  const int data = ::open(pck.c_str(), O_RDONLY | O_CLOEXEC);
  uint64_t program = 0;
  bool ok = in >= 0 && data >= 0 && programLength(ownPath, ownPack, in, program);
  {
    AtomicFile out(exe);
    // Only this program's own bytes: a container it already carries would
    // come first in the new file and be the one found.
    ok = ok && out.fd() >= 0 && copyBytes(in, out.fd(), static_cast<int64_t>(program)) &&
         copyBytes(data, out.fd(), -1) && out.commit(0755);
  }
  if (in >= 0) ::close(in);
  if (data >= 0) ::close(data);
  unlink(pck.c_str());
  if (!ok) report.problems.push_back("could not write " + exe);
  return report;
}

WorkReport packData() {
  WorkReport report;
  PackTreeWriter writer;
  if (!isDirectory("pack")) {
    report.problems.push_back("there is no directory \"pack\" in " + platform::currentDirectory());
    return report;
  }
  if (!writer.build("pack")) {
    report.problems.push_back("could not pack \"pack\": " + writer.error());
    return report;
  }
  if (!writer.write("pack.dat")) report.problems.push_back("could not write pack.dat");
  return report;
}

std::optional<int> startProgram(const std::string& program, const std::vector<std::string>& arguments,
                                const std::string& workingDir, bool wait) {
  std::vector<std::string> args;
  args.push_back(program);
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child < 0) return std::nullopt;
  if (child == 0) {
    if (!wait) {
      // Detached: a grandchild that outlives us and is nobody's zombie.
      setsid();
      if (fork() != 0) _exit(0);
    }
    if (!workingDir.empty() && chdir(workingDir.c_str()) != 0) _exit(127);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return std::nullopt;
  }
  if (!wait) return 0;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
