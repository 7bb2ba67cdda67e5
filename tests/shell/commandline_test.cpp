#include "shell/commandline.h"

#include <gtest/gtest.h>

#include <cstring>

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
