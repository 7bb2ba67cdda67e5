#include "shell/commandline.h"

#include <cctype>
#include <cstdint>

#include "platform/files.h"

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t'; }

// The switch word starting at `p` (up to the next space).
std::string_view word(const char* p) {
  const char* end = p;
  while (*end && !isSpace(*end)) ++end;
  return std::string_view(p, static_cast<size_t>(end - p));
}

// The X screen-saver hacks' words, with one dash or two: "-root",
// "--window-id".  `w` starts at the first dash.
bool isHackWord(std::string_view w, std::string_view name) {
  if (w.starts_with("--"))
    w.remove_prefix(2);
  else if (w.starts_with("-"))
    w.remove_prefix(1);
  else
    return false;
  return w == name;
}

// The words of `line` that are hack options go into `options`; the other
// words are returned as they stood, one space apart.
std::string takeHackOptions(const char* line, HackOptions& options) {
  struct Option {
    const char* name;
    std::optional<bool> HackOptions::*field;
    bool value;
  };
  static constexpr Option kOptions[] = {
      {"boat", &HackOptions::boat, true},   {"no-boat", &HackOptions::boat, false},
      {"drops", &HackOptions::drops, true}, {"no-drops", &HackOptions::drops, false},
      {"music", &HackOptions::music, true}, {"no-music", &HackOptions::music, false},
  };
  std::string rest;
  for (const char* p = line; *p;) {
    if (isSpace(*p)) {
      ++p;
      continue;
    }
    const std::string_view w = word(p);
    p += w.size();
    bool taken = false;
    for (const Option& option : kOptions) {
      if (!isHackWord(w, option.name)) continue;
      options.*option.field = option.value;
      taken = true;
    }
    if (taken) continue;
    if (!rest.empty()) rest += ' ';
    rest += w;
  }
  return rest;
}

bool isHelpSwitch(std::string_view w) { return w == "--help" || w == "-h" || w == "-H" || w == "/?" || w == "-?"; }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The window handle after the switch letter: everything up to the first
// decimal digit is skipped; "0x" then reads hexadecimal.
void readWindowHandle(const char* p, CommandLine& out) {
  const char* q = p;
  while (*q && !std::isdigit(static_cast<unsigned char>(*q))) ++q;
  if (!*q) {
    // No number at all: text where the id belongs is an invalid id.
    while (*p == ':' || *p == '=' || isSpace(*p)) ++p;
    out.windowText = std::string(word(p));
    out.windowInvalid = !out.windowText.empty();
    return;
  }
  out.windowText = std::string(word(q));
  uint64_t handle = 0;
  bool tooLong = false;
  if (q[0] == '0' && (q[1] == 'x' || q[1] == 'X') && hexValue(q[2]) >= 0) {
    for (q += 2; hexValue(*q) >= 0 && !tooLong; ++q) {
      handle = handle * 16 + static_cast<uint64_t>(hexValue(*q));
      tooLong = handle > UINT32_MAX;
    }
  } else {
    for (; std::isdigit(static_cast<unsigned char>(*q)) && !tooLong; ++q) {
      handle = handle * 10 + static_cast<uint64_t>(*q - '0');
      tooLong = handle > UINT32_MAX;
    }
  }
  // A number too long for a handle is no handle at all.
  if (tooLong) {
    out.windowInvalid = true;
    handle = 0;
  }
  out.parentWindow = static_cast<HWND>(handle);
}

}  // namespace

CommandLine readCommandLine(const char* commandLine, const std::string& moduleFileName) {
  CommandLine out;
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

  // The locker's options come out of the line wherever they stand; the
  // rest is read as the line with only its switch.
  const std::string rest = takeHackOptions(p, out.options);
  p = rest.c_str();

  while (*p && *p != '/' && *p != '-') ++p;
  if (!*p) {
    // No switch: a ".scr" file was opened to be configured; anything else
    // is being tried out.  Only the file name's own extension counts, so a
    // '.' in a directory name decides nothing.
    std::string_view name = platform::fileNamePart(moduleFileName);
    size_t dot = name.rfind('.');
    const bool scr =
        dot != std::string_view::npos && dot + 1 < name.size() && (name[dot + 1] == 's' || name[dot + 1] == 'S');
    out.mode = scr ? RunMode::configure : RunMode::test;
    return out;
  }
  if (isHelpSwitch(word(p))) {
    out.help = true;
    out.mode = RunMode::configure;
    return out;
  }

  // The switch word, up to a space or to the '=' of "--window-id=ID".
  std::string_view hackWord = word(p);
  hackWord = hackWord.substr(0, hackWord.find('='));
  if (isHackWord(hackWord, "root")) {
    out.mode = RunMode::full;
    out.root = true;
    return out;
  }
  if (isHackWord(hackWord, "window-id")) {
    out.mode = RunMode::preview;
    readWindowHandle(p + hackWord.size(), out);
    return out;
  }
  if (isHackWord(hackWord, "window")) {
    out.mode = RunMode::test;
    return out;
  }

  ++p;  // past the '/' or '-'
  const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  bool takesHandle = true;
  switch (letter) {
    case 'a': out.mode = RunMode::passwordChange; break;
    case 'c': out.mode = RunMode::configure; break;
    case 'p': out.mode = RunMode::preview; break;
    case 't':
      out.mode = RunMode::test;
      takesHandle = false;
      break;
    default:
      out.mode = RunMode::full;
      takesHandle = false;
      break;
  }
  if (takesHandle && *p) readWindowHandle(p + 1, out);
  return out;
}

RunMode parseCommandLine(const char* commandLine, const std::string& moduleFileName, HWND& parentWindow) {
  const CommandLine line = readCommandLine(commandLine, moduleFileName);
  parentWindow = line.parentWindow;
  return line.mode;
}

const char* usageText() {
  return "usage: aquaveil [SWITCH] [OPTION...]\n"
         "  /s          the screen saver on every monitor (in $XSCREENSAVER_WINDOW when set)\n"
         "  /t          a test run in a window; only Escape ends it\n"
         "  /p ID       a preview drawn inside window ID (decimal, or hexadecimal as 0x...)\n"
         "  /c          the settings\n"
         "  /a          change the screen-saver password\n"
         "  /?, -h, --help\n"
         "              this text\n"
         "As an X screen-saver hack (one dash or two):\n"
         "  --root      the screen saver in $XSCREENSAVER_WINDOW, else on the root window\n"
         "  --window-id ID\n"
         "              as /p ID\n"
         "  --window    as /t\n"
         "Options, anywhere on the line, for this run whatever the settings say:\n"
         "  --boat, --no-boat        the boat on or off\n"
         "  --drops, --no-drops      the random drops on or off\n"
         "  --music, --no-music      the music on or off\n"
         "Switches may start with '/' or '-'.  Without one the program runs the test\n"
         "mode (the settings when its file name ends in .scr).  SIGTERM or Ctrl-C ends\n"
         "a run cleanly.\n";
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
