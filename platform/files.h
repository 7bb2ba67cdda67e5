#pragma once
// Files and paths as the system sees them: the program's own file, wildcard
// directory listings matched without regard to case, and the path rules of
// names stored on either system ('/' and '\' both separate).
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Full path of the running program (/proc/self/exe).
std::string programPath();
// Directory of the running program, without a trailing separator.
std::string programDirectory();

std::string currentDirectory();
bool setCurrentDirectory(const std::string& dir);

// The part of a path after its last '/' or '\'.
std::string_view fileNamePart(std::string_view path);
// The part of a path before its last '/': "." when it has none, "/" for a
// name in the root.
std::string directoryPart(const std::string& path);
// Joins a directory and a name with '/'.
std::string joinPath(std::string_view dir, std::string_view name);

// Windows-style wildcard match ('*' any run, '?' one character) without
// regard to ASCII case.
bool matchWildcard(std::string_view pattern, std::string_view name);

struct DirEntry {
  std::string name;
  bool isDirectory = false;
  // A regular file (or a link to one); FIFOs, devices and sockets are
  // neither this nor a directory.
  bool isRegular = false;
};
// Entries of `dir` whose names match `pattern`, in the order the file system
// reports them ("." and ".." excluded).  Returns false when the directory
// can't be read.
bool listDirectory(const std::string& dir, std::string_view pattern, std::vector<DirEntry>& out);

// Opens a regular file (or a link to one) for reading without ever
// blocking: a FIFO or device of that name gives -1 (errno EINVAL) instead of
// hanging in open().  The descriptor is close-on-exec and blocking again.
int openRegularFile(const std::string& path);
// The whole of a regular file; nothing when it can't be opened as one or
// can't be read whole.
std::optional<std::string> readRegularFile(const std::string& path);

// The user's configuration directory ($XDG_CONFIG_HOME, else ~/.config).
std::string userConfigDirectory();
// The user's data directory ($XDG_DATA_HOME, else ~/.local/share).
std::string userDataDirectory();

// Creates a directory and its parents; true when it exists afterwards.
bool makeDirectories(const std::string& dir);

// Writes `size` bytes to `path` through a temporary file in the same
// directory that is renamed over the target, so that a reader sees either
// the old or the new file whole; the directory is synced after the rename.
// A `path` that is a symbolic link is written through to the file it names.
// Temporary files that an earlier writer left when it died are removed
// first.  False (and nothing changed) on failure.
bool writeFileAtomically(const std::string& path, const void* data, size_t size);

}  // namespace platform
