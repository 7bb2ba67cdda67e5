// The "Water Surface Settings" dialog through the scripted dialog host.
#include <gtest/gtest.h>

#include "platform/testing/scripteddialogs.h"
#include "source/config.h"
#include "source/settingsdialogs.h"
#include "tests/common/testenv.h"

using namespace platform;

namespace {

class WaterDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registerSettingsDialogs();
    Config::publish(&config);
  }
  void TearDown() override {
    Config::publish(nullptr);
    EXPECT_TRUE(host.problems.empty()) << host.problems.front();
  }
  INT_PTR open() { return DialogBoxParamA(0, kWaterDialog, 0, waterDialogEntry, 0); }

  Config config;
  ConfigWater& water = config.water;
  ScriptedDialogHost host;
  ScopedDialogHost guard{host};
};

TEST_F(WaterDialogTest, OpensOnTheDefaults) {
  host.onDialog(kWaterDialog, [](ScriptedDialog& d) {
    EXPECT_EQ(d.caption(), "Water Surface Settings");
    EXPECT_TRUE(d.checked(1032));
    for (int id : {1038, 1034, 1033, 1024, 1027}) EXPECT_FALSE(d.checked(id)) << id;
    struct Bar {
      int id, minimum, maximum, position;
    };
    for (const Bar& b : {Bar{1031, 1, 100, 35}, Bar{1015, 1, 100, 26}, Bar{1016, 60, 160, 120}}) {
      const ScriptedControl& c = d.control(b.id);
      EXPECT_EQ(c.minimum, b.minimum) << b.id;
      EXPECT_EQ(c.maximum, b.maximum) << b.id;
      EXPECT_EQ(c.position, b.position) << b.id;
      EXPECT_EQ(c.pageSize, 10);
      EXPECT_EQ(c.lineSize, 1);
      EXPECT_EQ(c.tickFrequency, 10);
    }
    // The colour buttons show the colours (the defaults' top byte is no colour).
    EXPECT_EQ(d.filledColour(1028), 0x80FFFFu);
    EXPECT_EQ(d.filledColour(1029), 0xFFFFFFu);
    d.pressEscape();
  });
  EXPECT_EQ(open(), 0);
}

TEST_F(WaterDialogTest, WaterDropAndLittleBoatAreNeverBothOff) {
  host.onDialog(kWaterDialog, [](ScriptedDialog& d) {
    // Water Drop on, then off: Little Boat (clear) comes on.
    d.click(1038);
    EXPECT_TRUE(d.checked(1038));
    d.click(1038);
    EXPECT_FALSE(d.checked(1038));
    EXPECT_TRUE(d.checked(1034));
    // Little Boat off while Water Drop is clear: Water Drop comes on.
    d.click(1034);
    EXPECT_FALSE(d.checked(1034));
    EXPECT_TRUE(d.checked(1038));
    d.click(IDOK);
  });
  EXPECT_EQ(open(), 1);
  EXPECT_EQ(water.waterFlags & (ConfigWater::waterDrop | ConfigWater::boat), ConfigWater::waterDrop);
}

TEST_F(WaterDialogTest, OkStoresTheBoxesAndTrackbarsAndKeepsTheOtherBits) {
  water.waterFlags = ConfigWater::ripple | 64 | 0x1200;  // bits no box shows
  host.onDialog(kWaterDialog, [](ScriptedDialog& d) {
    d.click(1032);  // ripple off
    d.click(1024);  // specular on
    d.click(1027);  // specular random colour on
    d.setTrackbar(1031, 80);
    d.setTrackbar(1015, 3);
    d.setTrackbar(1016, 500);  // the thumb stops at the end
    d.pressEnter();
  });
  EXPECT_EQ(open(), 1);
  EXPECT_EQ(water.waterFlags, 64u | 0x1200u | ConfigWater::specular | ConfigWater::specularRandomColor);
  EXPECT_EQ(water.specularPower, 80);
  EXPECT_EQ(water.animationSpeed, 3);
  EXPECT_EQ(water.surfaceSize, 160);
}

TEST_F(WaterDialogTest, CancelChangesNoFieldButKeepsAChosenColour) {
  const ConfigWater before = water;
  host.colorAnswers.push_back({RGB(10, 20, 30), std::nullopt});
  host.onDialog(kWaterDialog, [](ScriptedDialog& d) {
    for (int id : {1032, 1038, 1033, 1024, 1027}) d.click(id);
    d.setTrackbar(1031, 99);
    d.setTrackbar(1015, 99);
    d.setTrackbar(1016, 61);
    d.click(1029);  // a colour is taken at once
    EXPECT_EQ(d.filledColour(1029), RGB(10, 20, 30));
    d.click(IDCANCEL);
  });
  EXPECT_EQ(open(), 0);
  EXPECT_EQ(water.waterFlags, before.waterFlags);
  EXPECT_EQ(water.specularPower, before.specularPower);
  EXPECT_EQ(water.animationSpeed, before.animationSpeed);
  EXPECT_EQ(water.surfaceSize, before.surfaceSize);
  EXPECT_EQ(water.specularColor, before.specularColor);
  EXPECT_EQ(water.waterColor, RGB(10, 20, 30));  // chosen before Cancel: kept, with 0 in its top byte
}

TEST_F(WaterDialogTest, ACancelledColourChooserLeavesTheColour) {
  water.specularColor = RGB(1, 2, 3);
  host.colorAnswers.push_back({std::nullopt, std::nullopt});
  host.colorAnswers.push_back({RGB(7, 7, 7), std::vector<COLORREF>(16, RGB(9, 9, 9))});
  host.onDialog(kWaterDialog, [](ScriptedDialog& d) {
    d.click(1028);
    EXPECT_EQ(d.filledColour(1028), RGB(1, 2, 3));
    d.click(1029);  // the other button shares the custom colours the first one left
    d.click(IDOK);
  });
  EXPECT_EQ(open(), 1);
  EXPECT_EQ(water.specularColor, RGB(1, 2, 3));
  ASSERT_EQ(host.colorRequests.size(), 2u);
  const auto& first = host.colorRequests[0];
  EXPECT_EQ(first.initial, RGB(1, 2, 3));
  EXPECT_EQ(first.flags, CC_RGBINIT | CC_FULLOPEN);
  EXPECT_NE(first.owner, 0u);
  EXPECT_TRUE(first.hadCustomColors);
  EXPECT_EQ(host.colorRequests[1].initial, 0xFFFFFFu);  // the default water colour, less its top byte
  EXPECT_EQ(customColours()[5], RGB(9, 9, 9));          // kept for the process
  EXPECT_EQ(water.waterColor, RGB(7, 7, 7));
}

TEST_F(WaterDialogTest, TrackbarsNeverShowAPositionOutsideTheirRange) {
  water.surfaceSize = 60;
  water.specularPower = 0;      // below 1..100
  water.animationSpeed = 1000;  // above
  host.onDialog(kWaterDialog, [](ScriptedDialog& d) {
    EXPECT_EQ(d.control(1016).position, 60);  // the left end
    EXPECT_EQ(d.control(1031).position, 1);
    EXPECT_EQ(d.control(1015).position, 100);
    d.click(IDOK);
  });
  EXPECT_EQ(open(), 1);
  EXPECT_EQ(water.specularPower, 1);
  EXPECT_EQ(water.animationSpeed, 100);
}

}  // namespace
