// The display settings in the registry.
#include <gtest/gtest.h>

#include "platform/files.h"
#include "shellrig.h"
#include "source/config.h"
#include "tests/common/testenv.h"

using namespace shelltest;

namespace {

constexpr const char* kKey = "Software\\Tessolar\\Lumenmere";

DWORD readDword(const std::string& key, const char* name) {
  HKEY k = 0;
  if (platform::RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return 0xDEAD;
  DWORD value = 0, size = sizeof(value), type = 0;
  LONG r = platform::RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  platform::RegCloseKey(k);
  return r == ERROR_SUCCESS && type == REG_DWORD ? value : 0xDEAD;
}

void setUpTwoScreens(Rig& rig, BYTE firstGuid, BYTE secondGuid) {
  rig.setMonitors(2);
  rig.addAdapter(0, firstGuid);
  rig.addAdapter(1, secondGuid);
}

void choose(AdapterInfo& a, DWORD leaveBlack, DWORD disableHardware, DWORD w, DWORD h, DWORD f) {
  a.leaveBlack = leaveBlack;
  a.disableHardware = disableHardware;
  a.modeWidth = w;
  a.modeHeight = h;
  a.modeFormat = f;
}

std::string settingsOf(const AdapterInfo& a) {
  return std::to_string(a.leaveBlack) + " " + std::to_string(a.disableHardware) + " " + std::to_string(a.modeWidth) +
         "x" + std::to_string(a.modeHeight) + "/" + std::to_string(a.modeFormat);
}

}  // namespace

TEST(DisplaySettings, FreshRegistryMeansAutomaticEverywhere) {
  Rig rig;
  setUpTwoScreens(rig, 0x11, 0x22);
  auto app = rig.makeApp("/s");
  app->create(0);
  EXPECT_EQ(settingsOf(*app->adapters[0]), "0 0 0x0/0");
  EXPECT_EQ(settingsOf(*app->adapters[1]), "0 0 0x0/0");
  EXPECT_EQ(app->allScreensSame, 0u);
}

TEST(DisplaySettings, RoundTripThroughTheRegistryLayout) {
  Rig rig;
  setUpTwoScreens(rig, 0x11, 0x22);
  {
    auto app = rig.makeApp("/c");
    app->create(0);
    choose(*app->adapters[0], 0, 1, 800, 600, 23);
    choose(*app->adapters[1], 1, 0, 0, 0, 0);
    app->allScreensSame = 1;
    app->saveDisplaySettings(kKey);
  }
  EXPECT_EQ(readDword(kKey, "AllScreensSame"), 1u);
  const std::string screen1 = std::string(kKey) + "\\Screen 1";
  EXPECT_EQ(readDword(screen1, "Disable Hardware"), 1u);
  EXPECT_EQ(readDword(screen1, "Width"), 800u);
  EXPECT_EQ(readDword(screen1, "Height"), 600u);
  EXPECT_EQ(readDword(screen1, "Format"), 23u);
  EXPECT_EQ(readDword(screen1, "Leave Black"), 0u);
  EXPECT_EQ(readDword(std::string(kKey) + "\\Screen 2", "Leave Black"), 1u);
  HKEY k = 0;
  ASSERT_EQ(platform::RegOpenKeyExA(HKEY_CURRENT_USER, screen1.c_str(), 0, KEY_READ, &k), ERROR_SUCCESS);
  BYTE id[32] = {};
  DWORD size = sizeof(id), type = 0;
  ASSERT_EQ(platform::RegQueryValueExA(k, "Adapter ID", nullptr, &type, id, &size), ERROR_SUCCESS);
  platform::RegCloseKey(k);
  EXPECT_EQ(type, REG_BINARY);
  ASSERT_EQ(size, 16u);
  for (DWORD i = 0; i < 16; ++i) EXPECT_EQ(id[i], 0x11);

  auto again = rig.makeApp("/s");
  again->create(0);
  EXPECT_EQ(settingsOf(*again->adapters[0]), "0 1 800x600/23");
  EXPECT_EQ(settingsOf(*again->adapters[1]), "1 0 0x0/0");
  EXPECT_EQ(again->allScreensSame, 1u);
}

TEST(DisplaySettings, AnotherCardKeepsLeaveBlackOnly) {
  Rig rig;
  setUpTwoScreens(rig, 0x11, 0x22);
  {
    auto app = rig.makeApp("/c");
    app->create(0);
    choose(*app->adapters[0], 1, 1, 800, 600, 22);
    choose(*app->adapters[1], 1, 1, 640, 480, 23);
    app->saveDisplaySettings(kKey);
  }
  // The first monitor now has another graphics card.
  rig.d3d.adapters[0] = platform::ScriptedDirect3D8::standardAdapter(
      "New card", 0x33, platform::ScriptedDirect3D8::mode(1024, 768, D3DFMT_X8R8G8B8), Rig::commonModes(),
      monitorHandle(0));
  auto app = rig.makeApp("/s");
  app->create(0);
  EXPECT_EQ(settingsOf(*app->adapters[0]), "1 0 0x0/0");
  EXPECT_EQ(settingsOf(*app->adapters[1]), "1 1 640x480/23");
}

TEST(DisplaySettings, ValuesWithoutAnIdentifierApply) {
  Rig rig;
  rig.addAdapter(0);
  HKEY k = 0;
  ASSERT_EQ(platform::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Tessolar\\Lumenmere\\Screen 1", &k), ERROR_SUCCESS);
  DWORD width = 800;
  platform::RegSetValueExA(k, "Width", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&width), sizeof(width));
  platform::RegCloseKey(k);
  auto app = rig.makeApp("/s");
  app->create(0);
  EXPECT_EQ(app->adapters[0]->modeWidth, 800u);
  EXPECT_EQ(app->adapters[0]->modeHeight, 0u);
}

TEST(DisplaySettings, SavedWithTheSettingsThroughTheApplication) {
  Rig rig;
  rig.addAdapter(0);
  auto app = rig.makeApp("/c");
  app->create(0);
  choose(*app->adapters[0], 1, 0, 0, 0, 0);
  const std::string dir = testenv::freshDir("settings");
  Config::setSettingsDirectory(dir);
  Config::saveDisplaySettingsHook = saveDisplaySettingsOfCurrentApp;
  Config config;
  EXPECT_TRUE(config.save());
  Config::saveDisplaySettingsHook = nullptr;
  Config::resetDirectories();
  EXPECT_EQ(readDword(std::string(kKey) + "\\Screen 1", "Leave Black"), 1u);

  // With no application nothing is written.
  platform::RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
  app.reset();
  saveDisplaySettingsOfCurrentApp(kKey);
  EXPECT_EQ(readDword(std::string(kKey) + "\\Screen 1", "Leave Black"), 0xDEADu);
}
