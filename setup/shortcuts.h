#pragma once
// Shortcuts and the default screen saver, the Linux way.  A Windows shell
// link becomes a freedesktop .desktop entry; "make it the default screen
// saver" sets the registry's screen-saver value and, when the user has
// xscreensaver settings, selects the saver there.
#include <string>
#include <string_view>

#include "setup/installparams.h"

// The text of the .desktop entry for a shortcut: it starts <install
// dir>/<target> with the arguments, in the install directory.
std::string desktopEntryText(const Shortcut& shortcut, std::string_view installDir);

// A link name is used as a file name: one name, nothing that leads
// elsewhere.
bool usableLinkName(std::string_view name);

// The registry's screen-saver value: HKEY_CURRENT_USER "Control
// Panel\Desktop", "SCRNSAVE.EXE".
inline constexpr const char* kDesktopKey = "Control Panel\\Desktop";
inline constexpr const char* kScreenSaverValue = "SCRNSAVE.EXE";

// xscreensaver's settings with the saver `command` (named `name`) first in
// its list, selected, and the mode "one".  An entry that already runs
// `scrPath` is replaced.
std::string lockerConfigWithSaver(std::string_view config, std::string_view name, std::string_view scrPath);
// The settings without any entry that runs `scrPath`; the selection follows
// the entries it pointed at, and when it was one of those the mode goes back
// to "random".
std::string lockerConfigWithoutSaver(std::string_view config, std::string_view scrPath);

// Makes `scrPath` the default screen saver: the registry value and, when
// `lockerConfig` exists, xscreensaver's settings.  False when neither could
// be written.
bool makeDefaultScreensaver(std::string_view name, const std::string& scrPath, const std::string& lockerConfig);
// Takes back what makeDefaultScreensaver did for `scrPath`, where it still
// names it.
void forgetDefaultScreensaver(const std::string& scrPath, const std::string& lockerConfig);
