#pragma once
// What the installer knows about the product it carries: the parameter file
// "installparam.txt" of its own container (or, in an uninstaller, the log
// "install.log"), the mode its command line asks for, and the places it
// installs to.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class Pack;

// The modes of the one `setup` program.
enum class SetupMode : int {
  pack = 1,             // pack the program directory's one sub-directory into "test.exe"
  install = 2,          // the pages, then the install worker
  uninstallFirst = 3,   // confirm, copy to the temporary directory, start the copy
  uninstallSecond = 4,  // the copy: confirm, then the uninstall worker
  packData = 17,        // pack "pack" of the current directory into "pack.dat"
};

// The keyword grammar: from the first '/' on, at every following position
// holding 'i', 'p' or 'u', the whole rest of the line is compared without
// regard to case with "install", "pack", "packdat", "uninstall" and
// "uninstallsecond"; the first equal one decides.  No '/' or no match means
// install, so the keyword must come last.
SetupMode parseSetupCommandLine(std::string_view commandLine);

// The value of `key` in the parameter text: the first occurrence of the key
// (case-sensitive), from after the first ':' at or after it to the end of
// the line.  Nothing is trimmed.  None when the key is absent.
std::optional<std::string> findParameter(std::string_view text, std::string_view key);

// The decimal digits of a version text read in order as one number ("1.0"
// gives 10, "2.10b" 210); other characters are skipped.
uint32_t numericVersion(std::string_view version);

// A shortcut as the parameter file describes it, with its variables
// expanded.  `target` is relative to the install directory.
struct Shortcut {
  std::string target;
  std::string linkName;
  std::string description;
  std::string arguments;
};

// Each field holds at most this many characters.
inline constexpr size_t kMaxShortcutField = 260;

// Expands the %variables% of one shortcut field: "appexe" (any case) becomes
// <title>.exe, "app" and "title" (any case) the title, any other name
// nothing.  A '%' without a partner is copied as it stands.
std::string expandShortcutField(std::string_view field, std::string_view title);

// The shortcut whose key ends at `afterKey`: four fields, each introduced by
// a '$' on the key's line, the last one running to the next '$' or the end of
// the line.  None when the line holds fewer than four '$'.
std::optional<Shortcut> parseShortcut(std::string_view text, size_t afterKey, std::string_view title);

// Splits a Windows-style argument text (a shortcut's arguments, the init
// command) at blanks; double quotes group and are dropped, so "" is an
// empty argument.
std::vector<std::string> splitArguments(std::string_view text);

// Every occurrence of `key` ("workshortcut:", "startmenu:", "desktopicon:")
// in order, each one that makes a shortcut.
std::vector<Shortcut> shortcutsFor(std::string_view text, std::string_view key, std::string_view title);

// A product title is used as a directory name, a file name and a registry
// key name: it must be one usable name.
bool usableTitle(std::string_view title);

struct InstallParams {
  // From the parameter text.  No title: no parameter text was found, or its
  // title can't name a directory.
  std::optional<std::string> title;
  std::string version;
  uint32_t version_number = 0;
  std::optional<std::string> initCommand;
  std::string startCommand;  // kept, never used
  std::optional<std::string> requirements;
  bool screensaver = false;
  bool makeDefault = false;     // "setscreensaver:", overridden by the install page
  bool noDefaultAsked = false;  // --no-default: the page's box starts unticked
  bool desktopIcon = true;      // the install page's check boxes; stored only
  bool startMenu = true;
  std::string parameterText;
  // The own container carries "install.log": this program is an uninstaller.
  bool uninstaller = false;
  SetupMode mode = SetupMode::install;

  // The target directory as chosen (before the title rule).
  std::string installDir;

  // "%s %s": title and version.
  std::string caption() const;
  // <title>.scr and <title>.exe.
  std::string screensaverFileName() const;
  std::string programFileName() const;

  // Parses a parameter text (or a log's "Title:" and "version:" lines).
  void parse(std::string text);
  // Reads "installparam.txt", else "install.log", from `pack`; sets the
  // uninstaller flag when the log is there.  False when neither is found.
  bool load(const Pack& pack);
};

// The one process-wide InstallParams, created on first use.
InstallParams& installParams();
