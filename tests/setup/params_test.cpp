// The parameter file, the shortcut lines and the command-line keywords.
#include <gtest/gtest.h>

#include "setup/installparams.h"
#include "setup/setupflow.h"

namespace {

TEST(InstallParamsTest, NumericVersionReadsTheDigitsInOrder) {
  const struct {
    const char* text;
    uint32_t value;
  } cases[] = {{"1.0", 10}, {"2.10b", 210}, {"", 0}, {"beta", 0}, {"v0.1", 1}, {"1.2.3", 123}};
  for (const auto& c : cases) EXPECT_EQ(numericVersion(c.text), c.value) << c.text;
}

TEST(InstallParamsTest, ValuesAreUntrimmedFirstOccurrencesToTheLineEnd) {
  const std::string text =
      "Title:Lumenmere\r\nversion:2.10b\r\nstartcommand: /s\r\nTitle:Other\r\nscreensaver:1\r\n"
      "setscreensaver:0\r\nInitcommand:/c  \r\n";
  EXPECT_EQ(findParameter(text, "Title:"), "Lumenmere");
  EXPECT_EQ(findParameter(text, "startcommand:"), " /s");
  EXPECT_EQ(findParameter(text, "Initcommand:"), "/c  ");
  EXPECT_EQ(findParameter(text, "requirements:"), std::nullopt);
  // Keys are case-sensitive.
  EXPECT_EQ(findParameter(text, "title:"), std::nullopt);

  InstallParams p;
  p.parse(text);
  EXPECT_EQ(p.title, "Lumenmere");
  EXPECT_EQ(p.version, "2.10b");
  EXPECT_EQ(p.version_number, 210u);
  EXPECT_EQ(p.startCommand, " /s");
  EXPECT_TRUE(p.screensaver);
  EXPECT_FALSE(p.makeDefault);
  EXPECT_EQ(p.caption(), "Lumenmere 2.10b");
  EXPECT_EQ(p.screensaverFileName(), "Lumenmere.scr");
  EXPECT_EQ(p.programFileName(), "Lumenmere.exe");
}

TEST(InstallParamsTest, ValueRunsToTheEndOfTheTextAndBareLineFeedsEndLines) {
  EXPECT_EQ(findParameter("version:1.0", "version:"), "1.0");
  EXPECT_EQ(findParameter("Title:Lumenmere\nversion:1.0\n", "Title:"), "Lumenmere");
  // The value starts after the first ':' at or after the key.
  EXPECT_EQ(findParameter("Title:a:b\r\n", "Title:"), "a:b");
}

TEST(InstallParamsTest, TitlesThatCannotNameADirectoryAreRefused) {
  for (const char* bad : {"", ".", "..", "a/b", "a\\b", "tab\there"}) {
    InstallParams p;
    p.parse(std::string("Title:") + bad + "\r\nversion:1\r\n");
    EXPECT_FALSE(p.title.has_value()) << bad;
  }
  InstallParams none;
  none.parse("version:1\r\n");
  EXPECT_FALSE(none.title.has_value());
}

TEST(InstallParamsTest, ShortcutFieldVariables) {
  const struct {
    const char* field;
    const char* expanded;
  } cases[] = {
      {"%appexe%", "Lumenmere.exe"},
      {"%APPEXE%", "Lumenmere.exe"},
      {"%app%", "Lumenmere"},
      {"%Title%", "Lumenmere"},
      {"%TITLE% settings", "Lumenmere settings"},
      {"Start %Title%", "Start Lumenmere"},
      {"%foo%", ""},
      {"a%foo%b", "ab"},
      {"%%", ""},
      // A '%' without a partner is copied as it stands.
      {"Read me%", "Read me%"},
      {"100% %app%", "100app%"},  // pairs are taken in order
  };
  for (const auto& c : cases) EXPECT_EQ(expandShortcutField(c.field, "Lumenmere"), c.expanded) << c.field;
  EXPECT_EQ(expandShortcutField(std::string(400, 'x'), "T").size(), kMaxShortcutField);
}

TEST(InstallParamsTest, ShortcutLines) {
  const std::string text =
      "Title:Lumenmere\r\n"
      "desktopicon:$%appexe%$%app%$Start %Title%$ /s$\r\n"
      "workshortcut:$readme.txt$Read me%$%foo%$$\r\n"
      "startmenu:$a$b$c\r\n"  // three '$': no shortcut, and nothing borrowed from the next line
      "startmenu:$x$y$z$ four only\r\n"
      "desktopicon:$bin\\tool.exe$Tool$$-v$\r\n";
  const auto desk = shortcutsFor(text, "desktopicon:", "Lumenmere");
  ASSERT_EQ(desk.size(), 2u);
  EXPECT_EQ(desk[0].target, "Lumenmere.exe");
  EXPECT_EQ(desk[0].linkName, "Lumenmere");
  EXPECT_EQ(desk[0].description, "Start Lumenmere");
  EXPECT_EQ(desk[0].arguments, " /s");
  EXPECT_EQ(desk[1].target, "bin\\tool.exe");
  EXPECT_EQ(desk[1].arguments, "-v");

  const auto work = shortcutsFor(text, "workshortcut:", "Lumenmere");
  ASSERT_EQ(work.size(), 1u);
  EXPECT_EQ(work[0].linkName, "Read me%");
  EXPECT_EQ(work[0].description, "");
  EXPECT_EQ(work[0].arguments, "");

  // Four '$' make a shortcut whose arguments run to the end of the line.
  const auto menu = shortcutsFor(text, "startmenu:", "Lumenmere");
  ASSERT_EQ(menu.size(), 1u);
  EXPECT_EQ(menu[0].target, "x");
  EXPECT_EQ(menu[0].arguments, " four only");

  EXPECT_TRUE(shortcutsFor("startmenu:$a$b$c$", "startmenu:", "T").size() == 1);
  EXPECT_TRUE(shortcutsFor("startmenu:$a$b$c", "startmenu:", "T").empty());
  EXPECT_TRUE(shortcutsFor("startmenu:", "startmenu:", "T").empty());
}

// Shortcut arguments and the init command are split as a Windows program
// splits its command line: blanks separate, double quotes group.
TEST(InstallParamsTest, ArgumentTextsSplitAtBlanksOutsideQuotes) {
  struct Case {
    const char* text;
    std::vector<std::string> args;
  } cases[] = {
      {"", {}},
      {"  \t ", {}},
      {"/s", {"/s"}},
      {" /c   -x\tone ", {"/c", "-x", "one"}},
      {"\"a b\" c", {"a b", "c"}},
      {"pre\"fix mid\"dle", {"prefix middle"}},
      {"\"\" x", {"", "x"}},
      {"\"open", {"open"}},
  };
  for (const Case& c : cases) EXPECT_EQ(splitArguments(c.text), c.args) << c.text;
}

TEST(InstallParamsTest, CommandLineKeywords) {
  const struct {
    const char* line;
    SetupMode mode;
  } cases[] = {
      {"", SetupMode::install},
      {"/install", SetupMode::install},
      {"/pack", SetupMode::pack},
      {"/PACK", SetupMode::install},  // the keyword's first letter is looked for in lower case
      {"/pAcK", SetupMode::pack},
      {"/packdat", SetupMode::packData},
      {"/uninstall", SetupMode::uninstallFirst},
      {"/uninstallsecond", SetupMode::uninstallSecond},
      {"/UninstallSecond", SetupMode::install},
      {"/uNINSTALLSECOND", SetupMode::uninstallSecond},
      {"x y /uninstall", SetupMode::uninstallFirst},
      {"/uninstall now", SetupMode::install},  // the keyword must come last
      {"uninstall", SetupMode::install},       // no '/'
      {"/xpack", SetupMode::pack},
      {"/ pack", SetupMode::pack},
  };
  for (const auto& c : cases) EXPECT_EQ(parseSetupCommandLine(c.line), c.mode) << c.line;
}

TEST(InstallParamsTest, SwitchesAreTakenOutBeforeTheKeywords) {
  auto parse = [](std::vector<const char*> args) {
    args.insert(args.begin(), "/path/to/setup");
    return parseSetupOptions(static_cast<int>(args.size()), args.data());
  };
  SetupOptions o = parse({"--unattended", "--target", "/tmp/games", "--no-default"});
  EXPECT_TRUE(o.unattended);
  EXPECT_EQ(o.target, "/tmp/games");
  EXPECT_TRUE(o.noDefault);
  EXPECT_EQ(o.commandLine, "");
  EXPECT_EQ(parseSetupCommandLine(o.commandLine), SetupMode::install);

  o = parse({"--unattended", "/uninstall"});
  EXPECT_EQ(parseSetupCommandLine(o.commandLine), SetupMode::uninstallFirst);
  o = parse({"--target=/x", "/pack"});
  EXPECT_EQ(o.target, "/x");
  EXPECT_EQ(parseSetupCommandLine(o.commandLine), SetupMode::pack);

  EXPECT_FALSE(parse({"--bogus"}).error.empty());
  EXPECT_FALSE(parse({"--target"}).error.empty());
  EXPECT_FALSE(parse({"--target="}).error.empty());
}

}  // namespace
