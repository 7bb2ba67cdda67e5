// The Display Settings dialogs and the configuration mode, through the
// scripted dialog host.
#include <gtest/gtest.h>

#include "platform/testing/scripteddialogs.h"
#include "shell/displaysettingsdialog.h"
#include "shell/strings.h"
#include "shellrig.h"
#include "source/config.h"
#include "source/settingsdialogs.h"
#include "tests/common/testenv.h"

using namespace shelltest;
using namespace platform;

namespace {

std::string settingsOf(const AdapterInfo& a) {
  return std::to_string(a.leaveBlack) + " " + std::to_string(a.disableHardware) + " " + std::to_string(a.modeWidth) +
         "x" + std::to_string(a.modeHeight) + "/" + std::to_string(a.modeFormat);
}

class DisplayDialogTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(host.problems.empty()) << host.problems.front(); }
  Rig rig;
  ScriptedDialogHost host;
  ScopedDialogHost guard{host};
};

struct HelpCase {
  bool hal, compatibleHal, sw, compatibleSw, off;
  int message;
};

class DisplayHelp : public DisplayDialogTest, public ::testing::WithParamInterface<HelpCase> {};

TEST_P(DisplayHelp, ExplainsWhatTheAdapterCanDo) {
  const HelpCase& c = GetParam();
  rig.addAdapter(0);
  auto app = rig.makeApp("/c");
  app->create(0);
  AdapterInfo& a = *app->adapters[0];
  a.hasHal = c.hal;
  a.hasCompatibleHal = c.compatibleHal;
  a.hasSw = c.sw;
  a.hasCompatibleSw = c.compatibleSw;
  a.disableHardware = c.off;
  host.onDialog(kDisplaySettingsSingle, [](ScriptedDialog& d) {
    d.click(2004);
    d.pressEscape();
  });
  EXPECT_EQ(showDisplaySettingsDialog(0), 2);
  ASSERT_EQ(host.messageBoxes.size(), 1u);
  EXPECT_EQ(host.messageBoxes[0].text, loadString(c.message));
  EXPECT_EQ(host.messageBoxes[0].caption, app->monitors[0].adapterName);
  EXPECT_EQ(host.messageBoxes[0].type, MB_OK | MB_ICONINFORMATION);
  EXPECT_NE(host.messageBoxes[0].owner, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DisplayHelp,
    ::testing::Values(HelpCase{true, true, false, false, false, 2200}, HelpCase{true, true, true, true, true, 2207},
                      HelpCase{true, true, true, false, true, 2208}, HelpCase{true, true, false, false, true, 2209},
                      HelpCase{true, false, true, true, false, 2201}, HelpCase{true, false, true, false, false, 2202},
                      HelpCase{true, false, false, false, false, 2203}, HelpCase{false, false, true, true, false, 2204},
                      HelpCase{false, false, true, false, false, 2205},
                      HelpCase{false, false, false, false, false, 2206}));

TEST_F(DisplayDialogTest, HelpForAMonitorWithoutHandleIsTheNoAdapterText) {
  rig.addAdapter(0);
  auto app = rig.makeApp("/c");
  app->create(0);
  app->monitors[0].monitorHandle = 0;
  host.onDialog(kDisplaySettingsSingle, [](ScriptedDialog& d) {
    d.click(2004);
    d.click(IDOK);
  });
  EXPECT_EQ(showDisplaySettingsDialog(0), 1);
  ASSERT_EQ(host.messageBoxes.size(), 1u);
  EXPECT_EQ(host.messageBoxes[0].text, loadString(2206));
}

TEST_F(DisplayDialogTest, OneAdapterGetsTheSingleMonitorDialogEvenWithTwoMonitors) {
  rig.setMonitors(2);
  rig.addAdapter(0);
  auto app = rig.makeApp("/c");
  app->create(0);
  ASSERT_EQ(app->adapterCount, 1u);
  host.onDialog(kDisplaySettingsSingle, [&](ScriptedDialog& d) {
    EXPECT_EQ(d.caption(), "Display Settings");
    EXPECT_FALSE(d.has(2000));
    EXPECT_EQ(d.text(2002), app->monitors[0].adapterName);
    EXPECT_EQ(d.text(2003), loadString(2210));
    EXPECT_EQ(d.text(2005), "&Disable hardware 3D rendering");
    EXPECT_TRUE(d.enabled(2005));
    EXPECT_FALSE(d.checked(2005));
    const ScriptedControl& modes = d.control(2011);
    ASSERT_GE(modes.items.size(), 2u);
    EXPECT_EQ(modes.items[0].first, "Automatic");
    EXPECT_EQ(modes.items[0].second, -1);
    EXPECT_EQ(modes.selection, 0);  // a fresh system: Automatic
    EXPECT_TRUE(d.enabled(2011));
    // The entries are the current device kind's modes, in its order.
    const DeviceKind& kind = app->adapters[0]->deviceKinds[app->adapters[0]->currentDeviceKind];
    ASSERT_EQ(modes.items.size(), kind.modeCount + 1);
    for (uint32_t i = 0; i < kind.modeCount; ++i) {
      const int bits = kind.modes[i].format == D3DFMT_X8R8G8B8 ? 32 : 16;
      EXPECT_EQ(modes.items[i + 1].first, std::to_string(kind.modes[i].width) + " by " +
                                              std::to_string(kind.modes[i].height) + ", " + std::to_string(bits) +
                                              " bit color");
      EXPECT_EQ(modes.items[i + 1].second, static_cast<LPARAM>(i));
    }
    d.selectCombo(2011, 2);
    d.click(2005);
    EXPECT_EQ(d.text(2003), loadString(2212));  // no software renderer here
    d.click(IDOK);
  });
  EXPECT_EQ(showDisplaySettingsDialog(0), 1);
  const AdapterInfo& a = *app->adapters[0];
  const ModeInfo& chosen = a.deviceKinds[a.currentDeviceKind].modes[1];
  EXPECT_EQ(settingsOf(a), "0 1 " + std::to_string(chosen.width) + "x" + std::to_string(chosen.height) + "/" +
                               std::to_string(chosen.format));

  // Opened again, the stored mode is the one selected; Automatic sets it back.
  host.onDialog(kDisplaySettingsSingle, [](ScriptedDialog& d) {
    EXPECT_EQ(d.control(2011).selection, 2);
    EXPECT_TRUE(d.checked(2005));
    d.selectCombo(2011, 0);
    d.click(IDOK);
  });
  showDisplaySettingsDialog(0);
  EXPECT_EQ(settingsOf(a), "0 1 0x0/0");
}

TEST_F(DisplayDialogTest, CancelPutsBackEveryTabExactly) {
  rig.setMonitors(2);
  rig.addAdapter(0, 0x11);
  rig.addAdapter(1, 0x22);
  auto app = rig.makeApp("/c");
  app->create(0);
  app->adapters[1]->modeWidth = 800;
  app->adapters[1]->modeHeight = 600;
  app->adapters[1]->modeFormat = D3DFMT_X8R8G8B8;
  app->allScreensSame = 1;
  const std::string before0 = settingsOf(*app->adapters[0]);
  const std::string before1 = settingsOf(*app->adapters[1]);
  auto edit = [](ScriptedDialog& d) {
    EXPECT_EQ(d.control(2000).tabs, (std::vector<std::string>{"Monitor 1", "Monitor 2"}));
    EXPECT_EQ(d.text(2005), "&Disable hardware 3D rendering on this monitor");
    EXPECT_TRUE(d.checked(2007));
    d.selectCombo(2011, 3);
    d.click(2005);  // no software renderer: with hardware off this monitor can show nothing
    EXPECT_TRUE(d.checked(2008));
    EXPECT_FALSE(d.enabled(2007));
    d.selectTab(2000, 1);
    EXPECT_NE(d.control(2011).selection, 0);  // the second monitor's stored mode
    d.click(2008);
    EXPECT_FALSE(d.enabled(2011));  // nothing shown: no mode to choose
    EXPECT_FALSE(d.enabled(2013));
    d.selectTab(2000, 0);
    EXPECT_TRUE(d.checked(2005));
    EXPECT_EQ(d.control(2011).selection, 3);
  };
  host.onDialog(kDisplaySettingsMulti, [&](ScriptedDialog& d) {
    edit(d);
    d.click(IDCANCEL);
  });
  EXPECT_EQ(showDisplaySettingsDialog(0), 2);
  EXPECT_EQ(settingsOf(*app->adapters[0]), before0);
  EXPECT_EQ(settingsOf(*app->adapters[1]), before1);
  EXPECT_EQ(app->allScreensSame, 1u);

  host.onDialog(kDisplaySettingsMulti, [&](ScriptedDialog& d) {
    edit(d);
    d.click(IDOK);
  });
  EXPECT_EQ(showDisplaySettingsDialog(0), 1);
  EXPECT_NE(settingsOf(*app->adapters[0]), before0);
  EXPECT_EQ(app->adapters[1]->leaveBlack, 1u);
}

TEST_F(DisplayDialogTest, NothingWithoutAnApplication) { EXPECT_EQ(showDisplaySettingsDialog(0), 0); }

// The configuration mode: the settings menu, OK saves the settings file and
// the display settings; Cancel writes nothing.
TEST_F(DisplayDialogTest, ConfigureModeOpensTheMenuAndOkSavesEverything) {
  rig.addAdapter(0);
  const std::string dir = testenv::freshDir("config");
  Config::resetDirectories();
  Config::setProgramDirectory(dir);
  Config config;
  Config::publish(&config);
  Config::saveDisplaySettingsHook = saveDisplaySettingsOfCurrentApp;
  auto app = rig.makeApp("/c");
  app->create(0);
  ASSERT_EQ(app->mode, RunMode::configure);

  host.onDialog(kSettingsMenu, [](ScriptedDialog& d) {
    d.click(1028);
    d.pressEscape();
  });
  host.onDialog(kDisplaySettingsSingle, [](ScriptedDialog& d) {
    d.click(2005);
    d.click(IDOK);
  });
  app->doConfig();
  EXPECT_TRUE(testenv::readFile(dir + "/Lumenmere.ini").empty());
  auto storedDisableHardware = []() -> std::optional<DWORD> {
    HKEY key = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tessolar\\Lumenmere\\Screen 1", 0, KEY_READ, &key) != ERROR_SUCCESS)
      return std::nullopt;
    DWORD value = 0, size = sizeof value, type = 0;
    const LONG r = RegQueryValueExA(key, "Disable Hardware", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS ? std::optional<DWORD>(value) : std::nullopt;
  };
  EXPECT_EQ(storedDisableHardware(), std::nullopt);

  host.onDialog(kSettingsMenu, [](ScriptedDialog& d) { d.click(IDOK); });
  app->doConfig();
  EXPECT_FALSE(testenv::readFile(dir + "/Lumenmere.ini").empty());
  EXPECT_EQ(storedDisableHardware(), std::optional<DWORD>(1));  // edited in the first run, kept, written by OK
  EXPECT_EQ(host.opened, (std::vector<int>{kSettingsMenu, kDisplaySettingsSingle, kSettingsMenu}));

  Config::saveDisplaySettingsHook = nullptr;
  Config::publish(nullptr);
  Config::resetDirectories();
}

}  // namespace
