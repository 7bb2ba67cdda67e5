// MusicController: starting the music, what it learns as a user interface,
// a second start in the same process, commands and the quit on destruction.
#include "player/musiccontroller.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>

#include "platform/sound.h"
#include "player/playerevents.h"
#include "player/playlistmanager.h"
#include "tests/common/testenv.h"
#include "tests/player/soundtesthelpers.h"

using namespace soundtest;

namespace {

std::string songList(const std::vector<std::string>& paths) {
  std::string list;
  for (auto& p : paths) list.append(p).push_back('\0');
  list.push_back('\0');
  return list;
}

class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override { useCapture(4); }
  void TearDown() override {
    EXPECT_EQ(Player::current(), nullptr);
    platform::soundUseSdl();
  }
  std::unique_ptr<MusicController> start(const std::string& list) {
    return MusicController::startMusic(list.c_str(), 1, argv_);
  }
  char prog_[12] = "test_player";
  char* argv_[2] = {prog_, nullptr};
};

}  // namespace

TEST_F(ControllerTest, NoSongListStartsNoMusic) {
  EXPECT_EQ(MusicController::startMusic(nullptr, 1, argv_), nullptr);
  EXPECT_EQ(MusicController::startMusic(nullptr), nullptr);
  EXPECT_EQ(Player::current(), nullptr);
}

TEST_F(ControllerTest, PlaysTheListAndKeepsItsStatus) {
  // Long enough for the position to move past the buffered start.
  const std::string song = longSong(testenv::freshDir("status"), 4);
  std::unique_ptr<MusicController> c = start(songList({song}));
  ASSERT_NE(c, nullptr);
  MusicStatus s;
  ASSERT_TRUE(waitUntil([&] {
    c->copyStatus(&s);
    return s.positionSeconds > 0.1f;
  }));
  EXPECT_STREQ(s.url, song.c_str());
  EXPECT_EQ(s.playlistIndex, 1);
  EXPECT_EQ(s.playlistLength, 1);
  EXPECT_EQ(s.totalFrames, 120);
  EXPECT_NEAR(s.secondsPerFrame, 1152.0 / 44100.0, 1e-4);
  EXPECT_EQ(s.totalSeconds, 3);

  // The same song: only the play position is copied.
  s.totalFrames = -5;
  s.positionSeconds = -1;
  c->copyStatus(&s);
  EXPECT_EQ(s.totalFrames, -5);
  EXPECT_GE(s.positionSeconds, 0);
  // Another song (another place in the list, or another URL): everything.
  s.playlistIndex = 7;
  c->copyStatus(&s);
  EXPECT_EQ(s.totalFrames, 120);
  std::strcpy(s.url, "other.mp3");
  s.totalFrames = -5;
  c->copyStatus(&s);
  EXPECT_STREQ(s.url, song.c_str());
  EXPECT_EQ(s.totalFrames, 120);

  c->pause();
  ASSERT_TRUE(waitUntil([&] { return c->player()->state() == Player::kPaused; }));
  c->play();
  ASSERT_TRUE(waitUntil([&] { return c->player()->state() == Player::kPlaying; }));
  c->stop();
  ASSERT_TRUE(waitUntil([&] { return c->player()->state() == Player::kStopped; }));

  std::atomic<bool> quitSeen{false};
  c->setListener([&](const Event& e) {
    if (e.type() == INFO_QuitRequest) quitSeen = true;
  });
  c.reset();  // quits the Player through the request and its answer
  EXPECT_TRUE(quitSeen);
}

TEST_F(ControllerTest, ASecondStartReusesThePlayerAndReplacesItsList) {
  std::string dir = testenv::freshDir("second");
  std::string other = longSong(dir, 6);
  std::unique_ptr<MusicController> first = start(songList({songPath(), songPath()}));
  ASSERT_NE(first, nullptr);
  Player* player = Player::current();
  ASSERT_NE(player, nullptr);
  ASSERT_TRUE(waitUntil([&] { return player->state() == Player::kPlaying; }));

  std::unique_ptr<MusicController> second = start(songList({other}));
  ASSERT_NE(second, nullptr);

  EXPECT_EQ(Player::current(), player);
  EXPECT_EQ(second->player(), player);
  EXPECT_EQ(second->context(), first->context());
  MusicStatus s;
  ASSERT_TRUE(waitUntil([&] {
    second->copyStatus(&s);
    return std::strcmp(s.url, other.c_str()) == 0;
  })) << "the new list did not start";
  EXPECT_EQ(player->playlist()->count(), 1);

  // The first controller goes; the music plays on for the second.
  first.reset();
  EXPECT_TRUE(player->eventThreadRunning());
  EXPECT_EQ(Player::current(), player);
  s.positionSeconds = 0;
  ASSERT_TRUE(waitUntil([&] {
    second->copyStatus(&s);
    return s.positionSeconds > 0.2f;
  }));
  // Files opened through the controller replace the list and play.
  second->openFiles({songPath()});
  ASSERT_TRUE(waitUntil([&] {
    second->copyStatus(&s);
    return std::strcmp(s.url, songPath().c_str()) == 0;
  }));
  second.reset();
}
