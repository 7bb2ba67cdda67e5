// PlaylistManager: current item, next and previous by repeat mode, shuffle,
// adding, inserting and clearing, and the events the Player receives.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "player/playercontext.h"
#include "player/playlistmanager.h"
#include "player/preferences.h"
#include "tests/player/testsink.h"

namespace {

class PlaylistTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoryPreferences::instance().clear();
    context_.target = &queue_;
  }
  void TearDown() override { MemoryPreferences::instance().clear(); }

  // A list of n songs "song0" .. with the events so far dropped.
  std::unique_ptr<PlaylistManager> list(int n, int32_t repeat = PlaylistManager::kRepeatAll) {
    auto plm = std::make_unique<PlaylistManager>(&context_);
    for (int i = 0; i < n; ++i) EXPECT_EQ(plm->addItem(("song" + std::to_string(i)).c_str()), kError_NoErr);
    EXPECT_EQ(plm->setRepeatMode(repeat), kError_NoErr);
    queue_.take();
    return plm;
  }
  std::string current(const PlaylistManager& plm) {
    const PlaylistItem* item = plm.currentItem();
    return item ? item->url() : "<none>";
  }
  // The URLs carried by the current-item events since the last call.
  std::vector<std::string> moves() {
    std::vector<std::string> out;
    for (auto& e : queue_.take())
      if (e->type() == INFO_PlaylistCurrentItemInfo) out.push_back(static_cast<PlaylistItemEvent*>(e.get())->url);
    return out;
  }

  RecordingQueue queue_;
  PlayerContext context_;
};

TEST_F(PlaylistTest, FirstSongBecomesCurrent) {
  PlaylistManager plm(&context_);
  EXPECT_EQ(plm.currentItem(), nullptr);
  EXPECT_EQ(plm.currentIndex(), -1);
  ASSERT_EQ(plm.addItem("C:\\Music\\a.mp3"), kError_NoErr);
  EXPECT_EQ(plm.count(), 1);
  EXPECT_EQ(plm.currentIndex(), 0);
  EXPECT_EQ(current(plm), "C:\\Music\\a.mp3");  // kept exactly as added
  auto events = queue_.take();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0]->type(), INFO_PlaylistItemAdded);
  EXPECT_EQ(static_cast<PlaylistItemEvent*>(events[0].get())->manager, &plm);
  EXPECT_EQ(events[1]->type(), INFO_PlaylistCurrentItemInfo);
  EXPECT_EQ(static_cast<PlaylistItemEvent*>(events[1].get())->item, plm.currentItem());

  // A second song, even one named like a playlist file, is one more item
  // and leaves the current one alone.
  ASSERT_EQ(plm.addItem("/music/list.m3u"), kError_NoErr);
  EXPECT_EQ(plm.count(), 2);
  EXPECT_EQ(plm.currentIndex(), 0);
  EXPECT_EQ(queue_.types(), std::vector<int32_t>{INFO_PlaylistItemAdded});
  EXPECT_EQ(plm.addItem(nullptr), kError_InvalidParam);
}

TEST_F(PlaylistTest, StepsByRepeatMode) {
  struct Case {
    const char* name;
    int32_t repeat;
    int start;
    bool forward;
    bool user;
    const char* expected;
  } cases[] = {
      {"all-next-wraps", 2, 2, true, false, "song0"},
      {"all-next", 2, 0, true, false, "song1"},
      {"one-auto-stays", 1, 1, true, false, "song1"},
      {"one-user-moves", 1, 1, true, true, "song2"},
      {"none-auto-stops-at-end", 0, 2, true, false, "song2"},
      {"none-user-wraps", 0, 2, true, true, "song0"},
      {"all-previous-wraps", 2, 0, false, false, "song2"},
      {"all-previous", 2, 2, false, false, "song1"},
      {"one-previous-auto-stays", 1, 0, false, false, "song0"},
      {"none-previous-auto-stays", 0, 0, false, false, "song0"},
      {"none-previous-user-wraps", 0, 0, false, true, "song2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto plm = list(3, c.repeat);
    ASSERT_EQ(plm->setCurrentIndex(c.start), kError_NoErr);
    moves();
    ASSERT_EQ(c.forward ? plm->next(c.user) : plm->previous(c.user), kError_NoErr);
    EXPECT_EQ(current(*plm), c.expected);
    // Every step is announced, also one that stays.
    EXPECT_EQ(moves(), std::vector<std::string>{c.expected});
  }
}

TEST_F(PlaylistTest, HasAnotherSong) {
  auto plm = list(3, PlaylistManager::kRepeatNone);
  EXPECT_TRUE(plm->hasAnotherSong());
  plm->setCurrentIndex(2);
  EXPECT_FALSE(plm->hasAnotherSong());
  plm->setRepeatMode(PlaylistManager::kRepeatOne);
  EXPECT_TRUE(plm->hasAnotherSong());
  plm->setRepeatMode(PlaylistManager::kRepeatAll);
  EXPECT_TRUE(plm->hasAnotherSong());
  EXPECT_EQ(plm->setRepeatMode(3), kError_InvalidParam);
}

TEST_F(PlaylistTest, SetCurrentIndexOutsideIsRefused) {
  auto plm = list(3);
  plm->setCurrentIndex(1);
  moves();
  EXPECT_EQ(plm->setCurrentIndex(3), kError_InvalidParam);
  EXPECT_EQ(plm->setCurrentIndex(-1), kError_InvalidParam);
  EXPECT_EQ(plm->currentIndex(), 1);
  EXPECT_TRUE(moves().empty());
  ASSERT_EQ(plm->setCurrentIndex(1), kError_NoErr);  // same index: still announced
  EXPECT_EQ(moves(), std::vector<std::string>{"song1"});
}

TEST_F(PlaylistTest, InsertingKeepsTheCurrentSong) {
  auto plm = list(3);
  plm->setCurrentIndex(1);
  ASSERT_EQ(plm->addItem("early", 0), kError_NoErr);
  EXPECT_EQ(plm->currentIndex(), 2);
  EXPECT_EQ(current(*plm), "song1");
  ASSERT_EQ(plm->addItem("late", 99), kError_NoErr);  // clamped to the end
  EXPECT_EQ(plm->itemAt(4)->url(), "late");
  EXPECT_EQ(plm->itemAt(0)->url(), "early");
  EXPECT_EQ(plm->itemAt(5), nullptr);
  EXPECT_EQ(current(*plm), "song1");
  plm->next(false);
  EXPECT_EQ(current(*plm), "song2");
}

TEST_F(PlaylistTest, ShuffleKeepsTheSongAndVisitsEveryOne) {
  auto plm = list(6);
  plm->setCurrentIndex(4);
  queue_.take();
  ASSERT_EQ(plm->setShuffle(true), kError_NoErr);
  EXPECT_TRUE(plm->isShuffled());
  EXPECT_EQ(current(*plm), "song4");
  EXPECT_EQ(plm->currentIndex(), 4);
  auto events = queue_.take();
  ASSERT_EQ(events.size(), 1u);
  ASSERT_EQ(events[0]->type(), INFO_PlaylistShuffle);
  EXPECT_TRUE(static_cast<PlaylistShuffleEvent*>(events[0].get())->shuffle);

  // Walking the shuffled order from the current song to either end (with
  // no repeat, so nothing reshuffles) meets every song once.
  plm->setRepeatMode(PlaylistManager::kRepeatNone);
  std::vector<std::string> order{current(*plm)};
  while (plm->hasAnotherSong()) {
    plm->next(false);
    order.push_back(current(*plm));
  }
  plm->setCurrentIndex(4);
  for (std::string before; before != current(*plm);) {
    before = current(*plm);
    plm->previous(false);
    if (before != current(*plm)) order.push_back(current(*plm));
  }
  EXPECT_EQ(order.size(), 6u);
  EXPECT_EQ(std::set<std::string>(order.begin(), order.end()).size(), 6u);
  plm->setRepeatMode(PlaylistManager::kRepeatAll);
  // Setting an index means that song, also when shuffled.
  ASSERT_EQ(plm->setCurrentIndex(3), kError_NoErr);
  EXPECT_EQ(current(*plm), "song3");
  EXPECT_EQ(plm->currentIndex(), 3);

  ASSERT_EQ(plm->setShuffle(false), kError_NoErr);
  EXPECT_EQ(current(*plm), "song3");
  plm->next(false);
  EXPECT_EQ(current(*plm), "song4");
}

TEST_F(PlaylistTest, ClearEmptiesAndAnnounces) {
  auto plm = list(3);
  ASSERT_EQ(plm->clear(), kError_NoErr);
  EXPECT_EQ(plm->count(), 0);
  EXPECT_EQ(plm->currentIndex(), -1);
  EXPECT_EQ(plm->currentItem(), nullptr);
  EXPECT_EQ(queue_.types(), std::vector<int32_t>{INFO_PlaylistCleared});
  EXPECT_EQ(plm->next(true), kError_NoErr);
  EXPECT_EQ(plm->currentIndex(), -1);
  ASSERT_EQ(plm->addItem("again"), kError_NoErr);
  EXPECT_EQ(current(*plm), "again");
}

TEST_F(PlaylistTest, RepeatAllIsForcedAndSettingsAreSaved) {
  Preferences prefs;
  context_.prefs = &prefs;
  prefs.setPlaylistRepeat(0);
  prefs.setPlaylistShuffle(true);
  {
    PlaylistManager plm(&context_);
    EXPECT_EQ(plm.repeatMode(), PlaylistManager::kRepeatAll);
    EXPECT_TRUE(plm.isShuffled());
    plm.setShuffle(false);
  }
  int32_t repeat = -1;
  bool shuffle = true;
  ASSERT_EQ(prefs.getPlaylistRepeat(&repeat), kError_NoErr);
  ASSERT_EQ(prefs.getPlaylistShuffle(&shuffle), kError_NoErr);
  EXPECT_EQ(repeat, 2);
  EXPECT_FALSE(shuffle);
  context_.prefs = nullptr;
}

}  // namespace
