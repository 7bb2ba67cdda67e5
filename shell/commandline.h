#pragma once
// The run modes of the screen saver and the grammar of its command line.
#include <optional>
#include <string>

#include "platform/wintypes.h"

enum class RunMode : int32_t {
  configure = 0,       // show the settings dialogs
  preview = 1,         // draw into a child of a window given by handle
  full = 2,            // the screen saver proper
  test = 3,            // a full-screen run that only Escape ends
  passwordChange = 4,  // the system password-change dialog
};

// The options a screen locker's settings page may add to the line (one dash
// or two, anywhere after the program name): each overrides the settings file
// for this run only; an option not given leaves the settings as they are.
struct HackOptions {
  std::optional<bool> boat;   // --boat / --no-boat
  std::optional<bool> drops;  // --drops / --no-drops: the random drops
  std::optional<bool> music;  // --music / --no-music: the MP3 play list
};

// What a command line says.
struct CommandLine {
  RunMode mode = RunMode::configure;
  HWND parentWindow = 0;       // 0 when none (or when the id is invalid)
  std::string windowText;      // the window id as written; "" when none
  bool windowInvalid = false;  // text stood where the id belongs, but no usable number
  bool help = false;           // --help, -h or /?: print the usage text
  bool root = false;           // -root: with no locker window, the full mode draws on the root window
  HackOptions options;
};

// Reads `commandLine` (program name first).  The window handle follows the
// switch: decimal, or hexadecimal after "0x" (the form X tools print).
// Beside the one-letter switches, the words X screen-saver hacks take:
// -root (the full mode), -window-id ID (the preview into window ID) and
// -window (the test mode), each also with two dashes.
// `moduleFileName` is the program's own file, whose extension decides the
// mode when the line carries no switch (".scr" configures, anything else
// is the test mode).
CommandLine readCommandLine(const char* commandLine, const std::string& moduleFileName);

// The run mode alone; sets `parentWindow` to the window handle that follows
// the switch, 0 when none.
RunMode parseCommandLine(const char* commandLine, const std::string& moduleFileName, HWND& parentWindow);

// The usage text that --help prints.
const char* usageText();

// The command line of this process as the system would hand it over: the
// arguments joined by spaces, the program path quoted when it holds a space.
std::string joinCommandLine(int argc, const char* const* argv);
