#pragma once
// The installer program's flow over its modes, apart from how its pages are
// shown: the pages (GTK) and the unattended mode are two SetupUi.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "setup/installparams.h"
#include "setup/progress.h"

// The switches of this platform, taken out of the command line before the
// keyword grammar reads the rest.
struct SetupOptions {
  bool unattended = false;
  std::optional<std::string> target;  // --target DIR
  bool noDefault = false;             // --no-default
  bool help = false;
  std::string commandLine;  // the other arguments, joined by blanks
  std::string error;        // a switch that isn't one
};
SetupOptions parseSetupOptions(int argc, const char* const* argv);
extern const char* const kSetupUsage;

// The installer's user interface.
class SetupUi {
 public:
  virtual ~SetupUi() = default;
  // The full-screen background with the caption.
  virtual void showBackground(const std::string& caption) = 0;
  // Page 106: true when OK was chosen.
  virtual bool confirm(const std::string& caption, const std::string& text) = 0;
  // Pages 102 and 103, looping until Install (true, `params` holds the
  // choices) or a cancel (false).  `proposedDir` fills the target page.
  virtual bool chooseInstall(InstallParams& params, const std::string& licence, const std::string& proposedDir) = 0;
  // Page 104: runs `work` on a worker thread and shows `value` until the
  // worker reports the end.
  virtual void showProgress(const std::string& caption, bool uninstall, ProgressValue& value,
                            const std::function<void()>& work) = 0;
  // A warning (the requirements probe) or the problems a job met.
  virtual void warn(const std::string& caption, const std::string& text) = 0;
  virtual void reportProblems(const std::string& caption, const std::vector<std::string>& problems) = 0;
};

// No pages: everything on standard output and standard error.
std::unique_ptr<SetupUi> makeUnattendedUi(const SetupOptions& options);

// Runs `work` on a thread of its own while `tick` is called about every
// 20 ms with each reading of `value` that changes what is shown, until the
// worker reports the end (or returns).
void runWithProgress(ProgressValue& value, const std::function<void()>& work,
                     const std::function<void(int shown, int value)>& tick);

// The whole program: start-up, then the mode.  Returns the exit status.
int runSetup(const SetupOptions& options, SetupUi& ui);
