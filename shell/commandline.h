#pragma once
// The run modes of the screen saver and the grammar of its command line.
#include <string>

#include "platform/wintypes.h"

enum class RunMode : int32_t {
  configure = 0,       // show the settings dialogs
  preview = 1,         // draw into a child of a window given by handle
  full = 2,            // the screen saver proper
  test = 3,            // a full-screen run that only Escape ends
  passwordChange = 4,  // the system password-change dialog
};

// Reads the run mode from `commandLine` (program name first).  Sets
// `parentWindow` to the window handle that follows the switch, 0 when none.
// `moduleFileName` is the program's own file, whose extension decides the
// mode when the line carries no switch (".scr" configures, anything else
// is the test mode).
RunMode parseCommandLine(const char* commandLine, const std::string& moduleFileName, HWND& parentWindow);

// The command line of this process as the system would hand it over: the
// arguments joined by spaces, the program path quoted when it holds a space.
std::string joinCommandLine(int argc, const char* const* argv);
