#pragma once
// The work of the installer's modes, apart from any page: the install
// worker, the uninstaller it writes, the uninstall worker that replays the
// log backwards, and the two packing modes.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "setup/installlog.h"
#include "setup/installparams.h"
#include "setup/places.h"
#include "setup/progress.h"

class Pack;

// What a worker could not do.  The pages pass over failures and go on, as
// the installer always has; the unattended mode reports them and fails.
struct WorkReport {
  std::vector<std::string> problems;
  bool ok() const { return problems.empty(); }
};

// The install directory for a chosen one: made absolute and plain (no "."
// or ".." left, no trailing '/'), then, when its last component differs
// from the title without regard to case, the title is appended.
std::string installDirectoryFor(std::string_view chosen, std::string_view title);

// The target page's first proposal: the "installdir" value of the product's
// registry key (up to 256 bytes), else <install base>/<title>.
std::string proposedInstallDirectory(std::string_view title, const Places& places);

// Creates `dir` walking its components from the root: from the first that
// isn't an existing directory on, each is created and logged "Makedir:".
// Stops at the first creation that fails (false).
bool createDirectoryWalk(const std::string& dir, InstallLog* log);

// The uninstaller: the bytes of `ownPath` before its container (`ownPack`,
// when open), then a container with the one member "install.log" whose
// header's total length is the whole file's.  Written whole or not at all,
// executable.
bool writeUninstaller(const std::string& ownPath, const Pack& ownPack, const std::string& target,
                      std::string_view logText);

// The registry: the product's key "Software\Tessolar\<title>" (installdir,
// version) and its uninstall key.
void writeInstallRegistry(std::string_view title, std::string_view caption, uint32_t version,
                          const std::string& installDir);
void removeInstallRegistry(std::string_view title);

// The uninstall command the registry records.
std::string uninstallCommand(const std::string& installDir);

// "requirements:" asks for a 3D runtime: when the platform's 3D library
// can't be loaded, the warning to show.  `canLoad` loads a library by name.
std::optional<std::string> requirementsWarning(std::string_view requirement,
                                               const std::function<bool(const char*)>& canLoad);
bool canLoadLibrary(const char* name);

struct InstallJob {
  const InstallParams* params = nullptr;
  const Pack* pack = nullptr;  // the program's own container
  Places places;
  std::string ownPath;  // the running program's file, copied into the uninstaller
};

// The install worker, in its order: log and hooks, install directory,
// registry, the tree, the screen saver file, shortcuts, the uninstaller,
// the default screen saver, 1.1, the initial command.  `installDir`
// receives the directory installed to.
WorkReport installWorker(const InstallJob& job, ProgressValue& progress, std::string* installDir = nullptr);

// Replays a log backwards (files first, inner directories before outer
// ones); only what the log names, a directory only when empty.  A removed
// screen-saver file is also taken back as the default screen saver.
WorkReport replayLog(std::string_view logText, const Places& places, ProgressValue* progress = nullptr);

// The uninstall worker: the replay, the registry keys, then 1.1.
WorkReport uninstallWorker(const InstallParams& params, const Places& places, ProgressValue& progress);

// Pack mode: the only sub-directory of `programDir` into "test.pck", then
// "test.exe" = this program (without any container of its own) + that
// container; "test.pck" is removed.
WorkReport packProgram(const std::string& ownPath, const Pack& ownPack, const std::string& programDir);
// Pack-data mode: the directory "pack" of the current directory into
// "pack.dat".
WorkReport packData();

// Starts `program` with `arguments` (split at blanks, double quotes group)
// in `workingDir`, detached.  With `wait` the exit status is returned.
std::optional<int> startProgram(const std::string& program, const std::vector<std::string>& arguments,
                                const std::string& workingDir, bool wait);
