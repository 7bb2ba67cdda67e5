#include "shell/commandline.h"

#include <cctype>
#include <cstdint>

#include "platform/files.h"

RunMode parseCommandLine(const char* commandLine, const std::string& moduleFileName, HWND& parentWindow) {
  parentWindow = 0;
  const char* p = commandLine ? commandLine : "";

  // Skip the program name: a quoted one whole, else up to the first space.
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p && *p != ' ') ++p;
    if (*p == ' ') ++p;
  }

  while (*p && *p != '/' && *p != '-') ++p;
  if (!*p) {
    // No switch: a ".scr" file was opened to be configured; anything else
    // is being tried out.  Only the file name's own extension counts, so a
    // '.' in a directory name decides nothing.
    std::string_view name = platform::fileNamePart(moduleFileName);
    size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && dot + 1 < name.size() && (name[dot + 1] == 's' || name[dot + 1] == 'S'))
      return RunMode::configure;
    return RunMode::test;
  }

  ++p;  // past the '/' or '-'
  char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  RunMode mode;
  bool takesHandle = true;
  switch (letter) {
    case 'a': mode = RunMode::passwordChange; break;
    case 'c': mode = RunMode::configure; break;
    case 'p': mode = RunMode::preview; break;
    case 't':
      mode = RunMode::test;
      takesHandle = false;
      break;
    default:
      mode = RunMode::full;
      takesHandle = false;
      break;
  }
  if (!takesHandle) return mode;

  ++p;  // past the letter
  while (*p && !std::isdigit(static_cast<unsigned char>(*p))) ++p;
  uint64_t handle = 0;
  // A number too long for a handle is no handle at all.
  for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
    handle = handle * 10 + static_cast<uint64_t>(*p - '0');
    if (handle > UINT32_MAX) {
      handle = 0;
      break;
    }
  }
  parentWindow = static_cast<HWND>(handle);
  return mode;
}

std::string joinCommandLine(int argc, const char* const* argv) {
  std::string line;
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i] ? argv[i] : "";
    if (i > 0) line += ' ';
    if (i == 0 && arg.find(' ') != std::string::npos)
      line += '"' + arg + '"';
    else
      line += arg;
  }
  return line;
}
