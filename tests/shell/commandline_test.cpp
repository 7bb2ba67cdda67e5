#include "shell/commandline.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "shell/strings.h"

TEST(CommandLine, SwitchesAndHandles) {
  struct Case {
    const char* line;
    const char* module;
    RunMode mode;
    HWND parent;
  } cases[] = {
      {"aquaveil /s", "/bin/aquaveil", RunMode::full, 0},
      {"aquaveil -S", "/bin/aquaveil", RunMode::full, 0},
      {"aquaveil /x", "/bin/aquaveil", RunMode::full, 0},
      {"aquaveil /", "/bin/aquaveil", RunMode::full, 0},
      {"aquaveil /p 1234", "/bin/aquaveil", RunMode::preview, 1234},
      {"aquaveil /p:1234", "/bin/aquaveil", RunMode::preview, 1234},
      {"aquaveil /P", "/bin/aquaveil", RunMode::preview, 0},
      {"aquaveil /c:5678", "/bin/aquaveil", RunMode::configure, 5678},
      {"aquaveil /c", "/bin/aquaveil", RunMode::configure, 0},
      {"aquaveil /a 99", "/bin/aquaveil", RunMode::passwordChange, 99},
      {"aquaveil /t", "/bin/aquaveil", RunMode::test, 0},
      {"aquaveil /t 55", "/bin/aquaveil", RunMode::test, 0},
      // Text before the switch is ignored.
      {"aquaveil foo /p 12", "/bin/aquaveil", RunMode::preview, 12},
      // A quoted program path is skipped whole, '/' and '-' inside it included.
      {"\"/opt/my-saver/a b/aquaveil\" /p 7", "/opt/my-saver/a b/aquaveil", RunMode::preview, 7},
      {"\"/opt/my-saver/a b/aquaveil.scr\"", "/opt/my-saver/a b/aquaveil.scr", RunMode::configure, 0},
      // No switch: the program's extension decides.
      {"Lumenmere.scr", "C:\\x\\Lumenmere.scr", RunMode::configure, 0},
      {"Lumenmere.SCR", "Lumenmere.SCR", RunMode::configure, 0},
      {"Lumenmere.exe", "Lumenmere.exe", RunMode::test, 0},
      {"aquaveil", "/usr/bin/aquaveil", RunMode::test, 0},
      // A '.' in a directory name is no extension.
      {"aquaveil", "/home/u/my.saver/aquaveil", RunMode::test, 0},
      {"", "", RunMode::test, 0},
      // A number far too long for a handle gives none.
      {"aquaveil /p 99999999999999999999", "/bin/aquaveil", RunMode::preview, 0},
  };
  for (const Case& c : cases) {
    HWND parent = 12345;
    EXPECT_EQ(parseCommandLine(c.line, c.module, parent), c.mode) << c.line;
    EXPECT_EQ(parent, c.parent) << c.line;
  }
}

TEST(CommandLine, JoinsArgumentsAsTheSystemWould) {
  const char* plain[] = {"/usr/bin/aquaveil", "/p", "42"};
  EXPECT_EQ(joinCommandLine(3, plain), "/usr/bin/aquaveil /p 42");
  const char* spaced[] = {"/opt/a b/aquaveil", "-s"};
  std::string line = joinCommandLine(2, spaced);
  EXPECT_EQ(line, "\"/opt/a b/aquaveil\" -s");
  HWND parent = 0;
  EXPECT_EQ(parseCommandLine(line.c_str(), spaced[0], parent), RunMode::full);
}

TEST(Strings, ErrorTexts) {
  char buf[512];
  struct Case {
    HRESULT code;
    bool own;
    const char* start;
  } cases[] = {
      {errNoDirect3D, true, "Direct3D 8.0 could not be initialized."},
      {errNoCompatibleDevices, true, "Could not find any compatible Direct3D devices."},
      {E_OUTOFMEMORY, true, "Not enough memory."},
      {errOutOfVideoMemory, true, "Not enough video memory."},
      {errNoPreview, true, "No preview available"},
      {errDeviceObjectsFailed, false, "There was an unspecified problem with this screen saver."},
      {E_FAIL, false, "There was an unspecified problem with this screen saver."},
      {static_cast<HRESULT>(0x80001234u), false, "There was an unspecified problem"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(getTextForError(c.code, buf, sizeof buf), c.own) << std::hex << c.code;
    EXPECT_EQ(std::strncmp(buf, c.start, std::strlen(c.start)), 0) << buf;
  }
  // A small buffer is cut and terminated.
  char small[8];
  getTextForError(errNoPreview, small, sizeof small);
  EXPECT_STREQ(small, "No prev");
  EXPECT_STREQ(loadString(2212), "The screen saver cannot be displayed on this monitor.");
  for (int id = 2100; id <= 2112; ++id) EXPECT_STRNE(loadString(id), "") << id;
  for (int id = 2200; id <= 2212; ++id) EXPECT_STRNE(loadString(id), "") << id;
}

TEST(CommandLine, HexadecimalIdsHelpAndInvalidIds) {
  struct Case {
    const char* line;
    RunMode mode;
    HWND parent;
    const char* text;
    bool invalid;
    bool help;
    bool root = false;
  } cases[] = {
      {"aquaveil /p 0x50d", RunMode::preview, 0x50d, "0x50d", false, false},
      {"aquaveil /p:0X50D", RunMode::preview, 0x50d, "0X50D", false, false},
      {"aquaveil -p 1293", RunMode::preview, 1293, "1293", false, false},
      {"aquaveil /c 0x10", RunMode::configure, 0x10, "0x10", false, false},
      {"aquaveil /p 0x", RunMode::preview, 0, "0x", false, false},  // a plain 0 before the x
      {"aquaveil /p abc", RunMode::preview, 0, "abc", true, false},
      {"aquaveil /p 0x1ffffffff", RunMode::preview, 0, "0x1ffffffff", true, false},
      {"aquaveil /p", RunMode::preview, 0, "", false, false},
      {"aquaveil --help", RunMode::configure, 0, "", false, true},
      {"aquaveil -h", RunMode::configure, 0, "", false, true},
      {"aquaveil /?", RunMode::configure, 0, "", false, true},
      {"aquaveil /h", RunMode::full, 0, "", false, false},  // only the usual help words
      // The words of X screen-saver hacks, with one dash or two.
      {"aquaveil -root", RunMode::full, 0, "", false, false, true},
      {"aquaveil --root", RunMode::full, 0, "", false, false, true},
      {"aquaveil -r", RunMode::full, 0, "", false, false, false},
      {"aquaveil --rooted", RunMode::full, 0, "", false, false, false},
      {"aquaveil -window-id 0x2a00007", RunMode::preview, 0x2a00007, "0x2a00007", false, false},
      {"aquaveil --window-id 44040199", RunMode::preview, 44040199, "44040199", false, false},
      {"aquaveil --window-id=0x51", RunMode::preview, 0x51, "0x51", false, false},
      {"aquaveil -window-id", RunMode::preview, 0, "", false, false},
      {"aquaveil --window-id=desk", RunMode::preview, 0, "desk", true, false},
      {"aquaveil -window", RunMode::test, 0, "", false, false},
      {"aquaveil --window 12", RunMode::test, 0, "", false, false},
      {"aquaveil -windowed", RunMode::full, 0, "", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const CommandLine line = readCommandLine(c.line, "/bin/aquaveil");
    EXPECT_EQ(line.mode, c.mode);
    EXPECT_EQ(line.parentWindow, c.parent);
    EXPECT_EQ(line.windowText, c.text);
    EXPECT_EQ(line.windowInvalid, c.invalid);
    EXPECT_EQ(line.help, c.help);
    EXPECT_EQ(line.root, c.root);
  }
  EXPECT_NE(std::string(usageText()).find("/p ID"), std::string::npos);
}

// A locker's options stand anywhere on the line and leave the switch as it
// would be read without them.
TEST(CommandLine, LockerOptionsAnywhereOnTheLine) {
  struct Case {
    const char* line;
    RunMode mode;
    HWND parent;
    bool root;
    std::optional<bool> boat, drops, music;
  } cases[] = {
      {"aquaveil --root", RunMode::full, 0, true, {}, {}, {}},
      {"aquaveil --no-boat --root --no-music", RunMode::full, 0, true, false, {}, false},
      {"aquaveil -drops -window-id 0x40 -boat", RunMode::preview, 0x40, false, true, true, {}},
      {"aquaveil /p --no-drops 77", RunMode::preview, 77, false, {}, false, {}},
      {"aquaveil --music", RunMode::test, 0, false, {}, {}, true},
      {"aquaveil --boat --no-boat /s", RunMode::full, 0, false, false, {}, {}},
      {"aquaveil --boats", RunMode::full, 0, false, {}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const CommandLine line = readCommandLine(c.line, "/bin/aquaveil");
    EXPECT_EQ(line.mode, c.mode);
    EXPECT_EQ(line.parentWindow, c.parent);
    EXPECT_EQ(line.root, c.root);
    EXPECT_EQ(line.options.boat, c.boat);
    EXPECT_EQ(line.options.drops, c.drops);
    EXPECT_EQ(line.options.music, c.music);
  }
}

TEST(Strings, EveryTextOfTheTable) {
  const std::pair<int, const char*> texts[] = {
      {2100, "There was an unspecified problem with this screen saver."},
      {2101, "Direct3D 8.0 could not be initialized.  Please install the latest version of DirectX."},
      {2102, "Could not initialize the screen saver."},
      {2103, "Could not create the Direct3D device."},
      {2104,
       "Could not find any compatible Direct3D devices. If your display card is a Direct3D hardware accelerated card, "
       "please install the latest display driver for your display card."},
      {2105,
       "No hardware-accelerated Direct3D devices were found. If your display card is a Direct3D hardware accelerated "
       "card, please install the latest display driver for your display card."},
      {2106, "This screen saver requires functionality that is not available on your Direct3D hardware accelerator."},
      {2107,
       "This screen saver requires functionality that is not available on your Direct3D hardware accelerator with the "
       "current desktop display settings."},
      {2108, "Could not load required media."},
      {2109, "Could not reset the Direct3D device."},
      {2110, "Not enough memory."},
      {2111, "Not enough video memory."},
      {2112, "No preview available"},
      {2200, "This video adapter supports hardware 3D rendering.  This screen saver can be displayed on this monitor."},
      {2201,
       "This video adapter supports hardware 3D rendering, but this screensaver requires functionality not available "
       "in hardware.  A software renderer will be used instead.  This screen saver can be displayed on this monitor."},
      {2202,
       "This video adapter supports hardware 3D rendering, but this screensaver requires functionality not available "
       "in hardware or software.  This screen saver cannot be displayed on this monitor."},
      {2203,
       "This video adapter supports hardware 3D rendering, but this screensaver requires functionality not available "
       "in hardware.  No software renderer is available.  This screen saver cannot be displayed on this monitor."},
      {2204,
       "This video adapter does not support hardware 3D rendering.  A software renderer will be used instead.  This "
       "screen saver can be displayed on this monitor."},
      {2205,
       "This video adapter does not support hardware 3D rendering.  This screensaver requires functionality not "
       "available in the software renderer.  This screen saver cannot be displayed on this monitor."},
      {2206,
       "This video adapter does not support hardware 3D rendering.  No software renderer is available.  This screen "
       "saver cannot be displayed on this monitor."},
      {2207,
       "The video adapter supports hardware 3D rendering, but it has been disabled.  A software renderer will be used "
       "instead.  This screen saver can be displayed on this monitor."},
      {2208,
       "This video adapter supports hardware 3D rendering, but it has been disabled.  This screensaver requires "
       "functionality not available in the software renderer.  This screen saver cannot be displayed on this monitor."},
      {2209,
       "This video adapter supports hardware 3D rendering, but it has been disabled.  No software renderer is "
       "available.  This screen saver cannot be displayed on this monitor."},
      {2210, "The screen saver can use hardware 3D rendering on this monitor."},
      {2211, "The screen saver can use software 3D rendering on this monitor."},
      {2212, "The screen saver cannot be displayed on this monitor."},
  };
  for (const auto& [id, text] : texts) EXPECT_STREQ(loadString(id), text) << id;
  EXPECT_STREQ(loadString(2113), "");
  EXPECT_STREQ(loadString(2199), "");
}
