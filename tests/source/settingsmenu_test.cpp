// The configuration entry point, the settings menu, the greeting of a
// standalone copy and the standalone builder's dialog, through the scripted
// dialog host.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "pack/pack.h"
#include "pack/packwriter.h"
#include "platform/files.h"
#include "platform/testing/scripteddialogs.h"
#include "source/config.h"
#include "source/settingsdialogs.h"
#include "source/standalonedialog.h"
#include "tests/common/testenv.h"

using namespace platform;

namespace {

int displayHookCalls = 0;
INT_PTR fakeDisplaySettings(HWND) {
  ++displayHookCalls;
  return 1;
}
int savedDisplaySettings = 0;
void fakeSaveDisplaySettings(const char*) { ++savedDisplaySettings; }

class SettingsProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testenv::freshDir("settings");
    Config::resetDirectories();
    Config::setProgramDirectory(dir);
    Config::publish(&config);
    Config::saveDisplaySettingsHook = fakeSaveDisplaySettings;
    showDisplaySettingsHook = fakeDisplaySettings;
    displayHookCalls = 0;
    savedDisplaySettings = 0;
    defaultBuilder = standaloneBuilder();
    publishProcessPack(&pack);
  }
  void TearDown() override {
    standaloneBuilder() = defaultBuilder;
    publishProcessPack(nullptr);
    showDisplaySettingsHook = nullptr;
    Config::saveDisplaySettingsHook = nullptr;
    Config::publish(nullptr);
    Config::resetDirectories();
    EXPECT_TRUE(host.problems.empty()) << host.problems.front();
  }
  std::string settingsFile() const { return dir + "/Lumenmere.ini"; }
  bool settingsWritten() const { return !testenv::readFile(settingsFile()).empty(); }

  std::string dir;
  Config config;
  Pack pack;
  StandaloneBuilder defaultBuilder;
  ScriptedDialogHost host;
  ScopedDialogHost guard{host};
};

TEST_F(SettingsProgramTest, OkOfTheMenuSavesTheSettingsAndTheDisplaySettings) {
  host.onDialog(kSettingsMenu, [](ScriptedDialog& d) {
    EXPECT_EQ(d.caption(), "Lumenmere Settings");
    EXPECT_NE(d.icon(), 0u);
    EXPECT_TRUE(d.centred());
    EXPECT_TRUE(d.topmost());
    d.click(1023);
    d.click(1028);
    d.click(IDOK);
  });
  host.onDialog(kWaterDialog, [](ScriptedDialog& d) {
    d.setTrackbar(1016, 77);
    d.click(IDOK);
  });
  EXPECT_EQ(showSettings(0, 0), 1);
  EXPECT_EQ(displayHookCalls, 1);
  EXPECT_EQ(savedDisplaySettings, 1);
  ASSERT_TRUE(settingsWritten());
  Config saved;
  const std::string bytes = testenv::readFile(settingsFile());
  ASSERT_EQ(saved.loadData(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 4);
  EXPECT_EQ(saved.water.surfaceSize, 77);
}

TEST_F(SettingsProgramTest, CancelOfTheMenuWritesNothing) {
  host.onDialog(kSettingsMenu, [](ScriptedDialog& d) {
    d.click(1031);
    d.click(1022);
    d.pressEscape();
  });
  host.onDialog(kImageListDialog, [](ScriptedDialog& d) {
    d.type(1046, "5");
    d.click(1034);
  });
  host.onDialog(kMp3ListDialog, [](ScriptedDialog& d) { d.click(1034); });
  EXPECT_EQ(showSettings(0, 0), 0);
  EXPECT_EQ(host.opened, (std::vector<int>{kSettingsMenu, kImageListDialog, kMp3ListDialog}));
  EXPECT_FALSE(settingsWritten());
  EXPECT_EQ(savedDisplaySettings, 0);
  EXPECT_EQ(config.images.maxFiles, 5);  // kept in memory for this run only
}

TEST_F(SettingsProgramTest, OkThatCannotSaveSaysSo) {
  Config::setSettingsDirectory(dir + "/missing/and/a-file-in-the-way");
  testenv::writeFile(dir + "/missing", "a file where a directory would have to be");
  host.onDialog(kSettingsMenu, [](ScriptedDialog& d) { d.click(IDOK); });
  EXPECT_EQ(showSettings(0, 0), 1);
  ASSERT_EQ(host.messageBoxes.size(), 1u);
  EXPECT_NE(host.messageBoxes[0].text.find("could not be saved"), std::string::npos);
}

TEST_F(SettingsProgramTest, AStandaloneCopyGreetsInsteadOfShowingTheMenu) {
  // The copy's container names the one who built it.
  const std::string copy = dir + "/copy.pck";
  {
    PackWriter writer;
    ASSERT_TRUE(writer.begin(copy, dir));
    ASSERT_TRUE(writer.add("greeting.txt", "Ada Lovelace", 12));
    ASSERT_TRUE(writer.finish());
  }
  ASSERT_GT(pack.open(copy), 0);
  config.standaloneMarker = Config::kStandaloneMarker;
  host.onDialog(kGreetingDialog, [](ScriptedDialog& d) {
    EXPECT_EQ(d.caption(), "Lumenmere");
    EXPECT_EQ(d.text(1036), "Greetings from Ada Lovelace");
    EXPECT_TRUE(d.centred());
    EXPECT_TRUE(d.topmost());
    EXPECT_NE(d.icon(), 0u);
    d.pressEnter();
  });
  EXPECT_EQ(showSettings(0, 0), 1);
  host.onDialog(kGreetingDialog, [](ScriptedDialog& d) { d.pressEscape(); });
  EXPECT_EQ(showSettings(0, 0), 0);
  EXPECT_EQ(host.opened, (std::vector<int>{kGreetingDialog, kGreetingDialog}));
  EXPECT_FALSE(settingsWritten());
  EXPECT_EQ(greetingLine(""), "Greetings from a friend");
}

// ---- the standalone builder's dialog ----------------------------------------------

class BuilderDialogTest : public SettingsProgramTest {
 protected:
  void lists(int images, int songs) {
    config.images.playMode = ConfigFileList::kFileList;
    config.images.randomizeOrder = 0;
    config.mp3.playMode = ConfigFileList::kFileList;
    config.mp3.randomizeOrder = 0;
    for (int i = 0; i < images; ++i) config.images.fileList.append(dir + "/p" + std::to_string(i) + ".jpg");
    for (int i = 0; i < songs; ++i) config.mp3.fileList.append(dir + "/s" + std::to_string(i) + ".mp3");
  }
  // Opens the builder from the menu, which saves the settings first.
  INT_PTR fromMenu(std::function<void(ScriptedDialog&)> script) {
    host.onDialog(kSettingsMenu, [](ScriptedDialog& d) {
      d.click(1032);
      d.pressEscape();
    });
    host.onDialog(kStandaloneDialog, std::move(script));
    return showSettings(0, 0);
  }
  int builds = 0;
};

StandaloneResult succeeded(uint64_t bytes) {
  StandaloneResult r;
  r.bytes = bytes;
  return r;
}

TEST_F(BuilderDialogTest, ShowsTheCountsAndTheOutputPath) {
  lists(3, 2);
  standaloneBuilder() = [&](const std::string&, const StandaloneSettings&, const StandaloneProgress&) {
    ++builds;
    return succeeded(1);
  };
  fromMenu([&](ScriptedDialog& d) {
    EXPECT_EQ(d.caption(), "Create standalone executable or screensaver");
    EXPECT_EQ(d.text(1033), "3 image file(s)");
    EXPECT_EQ(d.text(1034), "2 Mp3 file(s)");
    EXPECT_EQ(d.text(1035), dir + "/aquaveil.exe");
    EXPECT_NE(d.icon(), 0u);
    d.pressEscape();
  });
  EXPECT_TRUE(settingsWritten());  // the menu saved before the builder opened
  EXPECT_EQ(builds, 0);
}

struct Limits {
  int images, songs;
  bool asks;
};

class BuilderLimits : public BuilderDialogTest, public ::testing::WithParamInterface<Limits> {};

TEST_P(BuilderLimits, AsksBeforeABigCopy) {
  lists(GetParam().images, GetParam().songs);
  standaloneBuilder() = [&](const std::string&, const StandaloneSettings&, const StandaloneProgress&) {
    ++builds;
    return succeeded(1);
  };
  host.messageBoxAnswers.push_back(IDCANCEL);  // to the question, if it comes
  fromMenu([&](ScriptedDialog& d) {
    d.click(IDOK);
    if (GetParam().asks) {
      EXPECT_FALSE(d.ended());
      d.click(IDOK);  // and now yes (the default answer)
    }
    EXPECT_TRUE(d.waitUntil([&] { return d.ended(); }));
  });
  EXPECT_EQ(builds, 1);
  const auto& boxes = host.messageBoxes;
  ASSERT_EQ(boxes.size(), GetParam().asks ? 3u : 1u);
  if (GetParam().asks) {
    for (int i : {0, 1}) {
      EXPECT_EQ(boxes[i].text, "Too many files added, you will create a big file, create it any way ?");
      EXPECT_EQ(boxes[i].caption, "Lumenmere");
      EXPECT_EQ(boxes[i].type & 0xF, MB_OKCANCEL);
    }
  }
  EXPECT_EQ(boxes.back().text, "Created successfully");
  EXPECT_EQ(boxes.back().caption, "Lumenmere");
  EXPECT_EQ(boxes.back().type, MB_OK);
}

INSTANTIATE_TEST_SUITE_P(FiftyAndFive, BuilderLimits,
                         ::testing::Values(Limits{50, 5, false}, Limits{51, 0, true}, Limits{0, 6, true},
                                           Limits{0, 0, false}));

TEST_F(BuilderDialogTest, ProgressArrivesFromTheWorkerWhileTheDialogRuns) {
  lists(1, 1);
  std::vector<int> seen;
  standaloneBuilder() = [&](const std::string& output, const StandaloneSettings& prepared,
                            const StandaloneProgress& progress) {
    EXPECT_EQ(output, dir + "/copy.scr");
    EXPECT_EQ(prepared.images.count(), 1u);
    for (double f : {0.1, 0.25, 0.5, 1.0}) {
      progress(f);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return succeeded(42);
  };
  EXPECT_EQ(fromMenu([&](ScriptedDialog& d) {
              d.type(1035, dir + "/copy.scr");
              d.click(IDOK);
              EXPECT_FALSE(d.enabled(IDOK));  // no second build while one runs
              EXPECT_FALSE(d.enabled(1035));
              EXPECT_TRUE(d.waitUntil([&] {
                seen.push_back(d.control(1050).progressPosition);
                return d.ended();
              }));
              EXPECT_EQ(d.control(1050).progressPosition, 1000);
              EXPECT_EQ(d.result(), 1);
            }),
            0);
  EXPECT_TRUE(std::find(seen.begin(), seen.end(), 500) != seen.end() ||
              std::find(seen.begin(), seen.end(), 250) != seen.end());
}

TEST_F(BuilderDialogTest, AFailedBuildSaysWhatFailedAndStaysOpen) {
  lists(1, 0);
  standaloneBuilder() = [&](const std::string& output, const StandaloneSettings&, const StandaloneProgress&) {
    ++builds;
    StandaloneResult r;
    r.failure = builds == 1 ? StandaloneFailure::diskFull : StandaloneFailure::outputNotCreated;
    r.error = builds == 1 ? ENOSPC : EACCES;
    r.path = output;
    return r;
  };
  fromMenu([&](ScriptedDialog& d) {
    d.type(1035, "/media/full/copy.exe");
    d.click(IDOK);
    EXPECT_TRUE(d.waitUntil([&] { return host.messageBoxes.size() == 1; }));
    EXPECT_FALSE(d.ended());
    EXPECT_TRUE(d.enabled(IDOK));  // another try can be made
    d.click(IDOK);
    EXPECT_TRUE(d.waitUntil([&] { return host.messageBoxes.size() == 2; }));
    d.pressEscape();
  });
  ASSERT_EQ(host.messageBoxes.size(), 2u);
  EXPECT_EQ(host.messageBoxes[0].text,
            "The disk is full: /media/full/copy.exe could not be written whole (No space left on device).\n"
            "Nothing was written.");
  EXPECT_EQ(host.messageBoxes[1].text,
            "The file could not be created: /media/full/copy.exe (Permission denied).\nNothing was written.");
  EXPECT_EQ(host.messageBoxes[0].type & 0xF0, MB_ICONERROR);
}

TEST_F(BuilderDialogTest, CancelStopsABuildInProgress) {
  lists(1, 0);
  standaloneBuilder() = [&](const std::string&, const StandaloneSettings&, const StandaloneProgress& progress) {
    for (int i = 0; i < 2000; ++i) {
      if (!progress(i / 2000.0)) {
        StandaloneResult r;
        r.failure = StandaloneFailure::stopped;
        return r;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return succeeded(1);
  };
  fromMenu([&](ScriptedDialog& d) {
    d.click(IDOK);
    EXPECT_TRUE(d.waitUntil([&] { return d.control(1050).progressPosition > 0; }));
    d.pressEscape();
    EXPECT_TRUE(d.waitUntil([&] { return d.ended(); }));
    EXPECT_EQ(d.result(), 0);
  });
  EXPECT_TRUE(host.messageBoxes.empty());
}

TEST_F(BuilderDialogTest, BuildsARealCopyAndRefusesAPlaceThatCantBeWritten) {
  testenv::writeFile(dir + "/p0.jpg", "a picture");
  lists(1, 0);
  const std::string program = dir + "/aquaveil";
  testenv::writeFile(program, std::string(3000, 'P'));
  standaloneBuilder() = [&](const std::string& output, const StandaloneSettings& prepared,
                            const StandaloneProgress& progress) {
    StandaloneContents contents;
    contents.settings.assign(prepared.settings.begin(), prepared.settings.end());
    contents.images = prepared.images.paths();
    contents.programFile = program;
    return buildStandaloneReporting(output, contents, progress);
  };
  fromMenu([&](ScriptedDialog& d) {
    d.type(1035, dir + "/no-such-folder/copy.exe");
    d.click(IDOK);
    EXPECT_TRUE(d.waitUntil([&] { return host.messageBoxes.size() == 1; }));
    d.type(1035, dir + "/copy.exe");
    d.click(IDOK);
    EXPECT_TRUE(d.waitUntil([&] { return d.ended(); }));
  });
  ASSERT_EQ(host.messageBoxes.size(), 2u);
  EXPECT_EQ(host.messageBoxes[0].text,
            "The file could not be created: " + dir +
                "/no-such-folder/copy.exe (No such file or directory).\nNothing was written.");
  EXPECT_EQ(host.messageBoxes[1].text, "Created successfully");
  Pack copy;
  ASSERT_GT(copy.open(dir + "/copy.exe"), 0);
  EXPECT_EQ(copy.signatureOffset(), 3000u);
  EXPECT_GE(copy.findMember("p0.jpg"), 0);
  // Nothing of the work is left about.
  std::vector<DirEntry> left;
  ASSERT_TRUE(listDirectory(dir, "*", left));
  for (const DirEntry& e : left)
    EXPECT_TRUE(e.name == "copy.exe" || e.name == "aquaveil" || e.name == "p0.jpg" || e.name == "Lumenmere.ini")
        << e.name;
}

}  // namespace
