#pragma once
// The settings program: the main settings menu (dialog 147), the water
// surface settings (146), the image list (185) and MP3 list (202) dialogs,
// the greeting of a standalone copy (149) and the standalone builder (148,
// source/standalonedialog.h), as dialog templates and procedures on the
// platform's dialog layer (platform/dialog.h).
#include <cstdint>
#include <string>

#include "platform/dialog.h"

// Template (resource) ids.
inline constexpr int kWaterDialog = 146;
inline constexpr int kSettingsMenu = 147;
inline constexpr int kStandaloneDialog = 148;
inline constexpr int kGreetingDialog = 149;
inline constexpr int kImageListDialog = 185;
inline constexpr int kMp3ListDialog = 202;
// The big icon of the settings dialogs.
inline constexpr int kSettingsIcon = 3011;

// Registers the templates of this module and its icon (once is enough;
// again does no harm).
void registerSettingsDialogs();

// The configuration entry point: makes sure the process-wide settings exist
// and are loaded; in a standalone copy shows the greeting, otherwise the
// settings menu, and saves the settings when the menu ends with OK.
// Returns the dialog's result (1 OK, 0 Cancel, -1 when no dialog could be
// shown).
INT_PTR showSettings(HWND parent, HINSTANCE instance);

// The dialog entry procedures: each makes sure the process-wide settings
// exist and forwards to the dialogProc of the section it edits.
INT_PTR waterDialogEntry(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR imageListDialogEntry(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR mp3ListDialogEntry(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR settingsMenuEntry(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR greetingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// How the menu reaches the display settings of the screen-saver shell
// (which lies above the settings in the program): the shell sets it before
// the menu opens.  Empty: the button does nothing.
inline INT_PTR (*showDisplaySettingsHook)(HWND parent) = nullptr;

// The process-wide table of 16 custom colours of the colour chooser, shared
// by both colour buttons and kept for the life of the process.
COLORREF* customColours();

// The folder the folder chooser of the list dialogs opens at: the one
// chosen last in this process ("" at first).
std::string& lastChosenFolder();

// The greeting line of a standalone copy for the name of its builder.
std::string greetingLine(const std::string& builderName);

// Paths the lists keep: at most this many characters.
inline constexpr size_t kMaxListPath = 259;
