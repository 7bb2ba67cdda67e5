// The pages' procedures run on the scripted dialog host, clicked as a user
// would.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "platform/testing/scripteddialogs.h"
#include "setup/pages.h"

namespace {

using platform::ScriptedDialog;

// The worker reports from its own thread, without posting to the page.
bool eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 5000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return done();
}

struct PagesTest : ::testing::Test {
  void SetUp() override {
    params.parse("Title:Lumenmere\r\nversion:1.0\r\nscreensaver:1\r\nsetscreensaver:1\r\n");
    ui = makeDialogUi(nullptr, std::chrono::milliseconds(0));
  }
  void TearDown() override { EXPECT_TRUE(host.problems.empty()) << host.problems.front(); }

  platform::ScriptedDialogHost host;
  platform::ScopedDialogHost guard{host};
  InstallParams params;
  std::unique_ptr<SetupUi> ui;
};

TEST_F(PagesTest, LicenceThenTargetWithBackBrowseAndInstall) {
  host.onDialog(kLicencePage, [](ScriptedDialog& d) {
    EXPECT_EQ(d.caption(), "Lumenmere 1.0");
    EXPECT_EQ(d.text(kLicenceText), "the licence");
    EXPECT_FALSE(d.enabled(kNextButton));
    d.click(kAgreeBox);
    EXPECT_TRUE(d.enabled(kNextButton));
    d.click(kAgreeBox);
    EXPECT_FALSE(d.enabled(kNextButton));
    d.click(kAgreeBox);
    d.click(kNextButton);
  });
  host.onDialog(kTargetPage, [](ScriptedDialog& d) {
    EXPECT_EQ(d.caption(), "Lumenmere 1.0");
    EXPECT_EQ(d.text(kTargetTitle), "Install Lumenmere 1.0");
    EXPECT_EQ(d.text(kTargetEdit), "/proposed/Lumenmere");
    EXPECT_TRUE(d.checked(kDesktopBox));
    EXPECT_TRUE(d.checked(kStartMenuBox));
    EXPECT_FALSE(d.visible(kStartMenuBox));
    EXPECT_EQ(d.text(kCustomBox), "Set as defaut screensaver");
    EXPECT_TRUE(d.checked(kCustomBox));
    d.click(kBackButton);
  });
  // Back leads to the licence page again.
  host.onDialog(kLicencePage, [](ScriptedDialog& d) {
    d.click(kAgreeBox);
    d.click(kNextButton);
  });
  host.folderAnswers.push_back(std::string("/chosen/games"));
  host.onDialog(kTargetPage, [](ScriptedDialog& d) {
    d.click(kBrowseButton);
    EXPECT_EQ(d.text(kTargetEdit), "/chosen/games");
    d.click(kCustomBox);
    d.click(kDesktopBox);
    d.click(kInstallButton);
  });
  ASSERT_TRUE(ui->chooseInstall(params, "the licence", "/proposed/Lumenmere"));
  EXPECT_EQ(params.installDir, "/chosen/games");
  EXPECT_FALSE(params.makeDefault);
  EXPECT_FALSE(params.desktopIcon);
  EXPECT_TRUE(params.startMenu);
  ASSERT_EQ(host.folderRequests.size(), 1u);
  EXPECT_EQ(host.folderRequests[0].title, "select directory");
  EXPECT_EQ(host.folderRequests[0].startFolder, "/proposed/Lumenmere");
  EXPECT_EQ(host.opened, (std::vector<int>{102, 103, 102, 103}));
}

TEST_F(PagesTest, CancelOnEitherPageEndsWithNothingChosen) {
  host.onDialog(kLicencePage, [](ScriptedDialog& d) { d.click(IDCANCEL); });
  EXPECT_FALSE(ui->chooseInstall(params, "", "/p"));
  host.onDialog(kLicencePage, [](ScriptedDialog& d) {
    d.click(kAgreeBox);
    d.click(kNextButton);
  });
  host.onDialog(kTargetPage, [](ScriptedDialog& d) { d.pressEscape(); });
  EXPECT_FALSE(ui->chooseInstall(params, "", "/p"));
  EXPECT_TRUE(params.installDir.empty());
}

TEST_F(PagesTest, OtherProductsHaveNoDefaultScreensaverBox) {
  params.parse("Title:Tool\r\nversion:2\r\n");
  host.onDialog(kLicencePage, [](ScriptedDialog& d) {
    d.click(kAgreeBox);
    d.click(kNextButton);
  });
  host.onDialog(kTargetPage, [](ScriptedDialog& d) {
    EXPECT_FALSE(d.visible(kCustomBox));
    d.click(kInstallButton);
  });
  ASSERT_TRUE(ui->chooseInstall(params, "", "/p/Tool"));
  EXPECT_EQ(params.installDir, "/p/Tool");
}

TEST_F(PagesTest, ProgressPageShowsTheWorkerAndFinishesAfterIt) {
  ProgressValue value;
  std::atomic<bool> goOn{false};
  std::atomic<bool> worked{false};
  host.onDialog(kProgressPage, [&](ScriptedDialog& d) {
    EXPECT_EQ(d.text(kProgressText), "Instal Progress");
    EXPECT_FALSE(d.visible(kFinishButton));
    ASSERT_TRUE(d.timerRunning(kProgressTimer));
    ASSERT_TRUE(eventually([&] { return value.read() == 41; }));
    d.fireTimer(kProgressTimer);
    EXPECT_EQ(d.text(kProgressText), "Uninstall progress 41%");
    EXPECT_EQ(d.control(kProgressBar).progressPosition, 41);
    EXPECT_FALSE(d.visible(kFinishButton));  // not before the end
    goOn = true;
    ASSERT_TRUE(eventually([&] { return worked.load(); }));
    d.fireTimer(kProgressTimer);
    EXPECT_EQ(d.text(kProgressText), "Uninstall progress 100%");
    d.fireTimer(kProgressTimer);  // after the pause
    EXPECT_TRUE(d.visible(kFinishButton));
    EXPECT_FALSE(d.timerRunning(kProgressTimer));
    d.click(kFinishButton);
  });
  ui->showProgress("Lumenmere 1.0", true, value, [&] {
    value.report(0.41);
    while (!goOn) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    value.report(1.1);
    worked = true;
  });
  EXPECT_TRUE(worked);
}

TEST_F(PagesTest, ConfirmationPage) {
  host.onDialog(kConfirmPage, [](ScriptedDialog& d) {
    EXPECT_EQ(d.text(kConfirmText), "Do you really want to uninstall Lumenmere 1.0 ?");
    EXPECT_EQ(d.caption(), "Lumenmere 1.0");
    d.click(IDOK);
  });
  EXPECT_TRUE(ui->confirm("Lumenmere 1.0", "Do you really want to uninstall Lumenmere 1.0 ?"));
  host.onDialog(kConfirmPage, [](ScriptedDialog& d) { d.click(IDCANCEL); });
  EXPECT_FALSE(ui->confirm("Lumenmere 1.0", "Uninstall Lumenmere 1.0"));
}

}  // namespace
