#pragma once
// Where the installer puts things on Linux.  Each Windows place is mapped
// once, here (the README lists them):
//
//   Windows                          not root (per user)                  root (system-wide)
//   C:\Program Files\Tessolar\<t>    $XDG_DATA_HOME/Tessolar/<t>          /opt/Tessolar/<t>
//   Windows directory (<t>.scr)      ~/.local/lib/screensavers            /usr/local/lib/screensavers
//   start-menu programs (CSIDL)      $XDG_DATA_HOME/applications          /usr/local/share/applications
//   desktop (CSIDL)                  the XDG desktop directory            the XDG desktop directory
//   <Windows>\temp (second stage)    a fresh directory in $TMPDIR (or /tmp), made private
//   screen locker's configuration    ~/.xscreensaver, when it exists
//
// $XDG_DATA_HOME defaults to ~/.local/share; the desktop directory is
// XDG_DESKTOP_DIR of $XDG_CONFIG_HOME/user-dirs.dirs, else ~/Desktop.
//
// LUMENMERE_INSTALL_SCOPE=user or system overrides the choice by user id;
// LUMENMERE_SYSTEM_ROOT=DIR puts the system-wide places under DIR (tests,
// packagers).
#include <string>

struct Places {
  bool systemWide = false;
  std::string installBase;           // the default install directory is <installBase>/<title>
  std::string screensaverDirectory;  // receives <title>.scr
  std::string startMenuPrograms;     // the start-menu group <title> is made in here
  std::string desktopDirectory;
  std::string temporaryBase;        // the second stage's private directory is made in here
  std::string lockerConfiguration;  // xscreensaver's settings file
};

// The places for the running user (root: the system-wide ones), from the
// environment.
Places currentPlaces();

// The user's desktop directory as xdg-user-dirs records it.
std::string desktopDirectory();
