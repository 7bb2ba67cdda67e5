// Player: the dispatch table, playing through the chain, song end and
// errors, repeat-all, the quit protocol, random command sequences, the
// command line and the path and URL forms.
#include "player/player.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <random>
#include <thread>

#include "platform/files.h"
#include "platform/sound.h"
#include "player/logfile.h"
#include "player/playerevents.h"
#include "player/playlistmanager.h"
#include "player/preferences.h"
#include "tests/common/testenv.h"
#include "tests/player/soundtesthelpers.h"

using namespace soundtest;

namespace {

// A user interface that keeps what it was told.
class TestUI : public UserInterface {
 public:
  struct Seen {
    int32_t type;
    int32_t index = 0;  // media information: playlist position
    std::string text;   // messages and media information: text / URL
  };

  explicit TestUI(Player* player, bool ackQuit = true) : player_(player), ackQuit_(ackQuit) {}

  ErrorCode acceptEvent(const Event& e) override {
    Seen s{e.type(), 0, {}};
    if (auto* m = dynamic_cast<const MediaInfoEvent*>(&e)) {
      s.index = m->playlistIndex;
      s.text = m->url;
    } else if (auto* t = dynamic_cast<const MessageEvent*>(&e)) {
      s.text = t->text();
    } else if (auto* v = dynamic_cast<const VolumeEvent*>(&e)) {
      s.index = v->volume;
    }
    {
      std::lock_guard<std::mutex> lock(m_);
      seen_.push_back(s);
    }
    cv_.notify_all();
    if (e.type() == INFO_QuitRequest && ackQuit_) player_->acceptEvent(std::make_unique<Event>(CMD_QuitAcknowledged));
    return kError_NoErr;
  }

  int count(int32_t type) {
    std::lock_guard<std::mutex> lock(m_);
    int n = 0;
    for (auto& s : seen_) n += s.type == type;
    return n;
  }
  bool waitCount(int32_t type, int n, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_for(lock, limit, [&] {
      int c = 0;
      for (auto& s : seen_) c += s.type == type;
      return c >= n;
    });
  }
  std::vector<Seen> seen() {
    std::lock_guard<std::mutex> lock(m_);
    return seen_;
  }
  std::vector<int32_t> types() {
    std::vector<int32_t> t;
    for (auto& s : seen()) t.push_back(s.type);
    return t;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(m_);
    seen_.clear();
  }

 private:
  Player* player_;
  bool ackQuit_;
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<Seen> seen_;
};

// An event that notes its own end.
class TrackedEvent : public Event {
 public:
  TrackedEvent(int32_t type, std::atomic<bool>* freed) : Event(type), freed_(freed) {}
  ~TrackedEvent() override { *freed_ = true; }

 private:
  std::atomic<bool>* freed_;
};

std::string songList(const std::vector<std::string>& paths) {
  std::string list;
  for (auto& p : paths) list.append(p).push_back('\0');
  list.push_back('\0');
  return list;
}

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    prefs_ = std::make_unique<Preferences>();
    ctx_.prefs = prefs_.get();
    player_ = Player::create(&ctx_);
    player_->setTerminationSemaphore(&termination_);
    useCapture(4);
  }
  void TearDown() override {
    player_.reset();
    EXPECT_EQ(Player::current(), nullptr);
    platform::soundUseSdl();
  }

  // Quits through the protocol and waits (bounded) for the event thread.
  bool quit() {
    player_->acceptEvent(std::make_unique<Event>(CMD_QuitPlayer));
    return waitUntil([&] { return !player_->eventThreadRunning(); });
  }

  std::unique_ptr<Preferences> prefs_;
  PlayerContext ctx_;
  Semaphore termination_{0};
  std::unique_ptr<Player> player_;
};

}  // namespace

TEST_F(PlayerTest, SongsPlayInOrderAndRepeatAllWrapsToTheFirst) {
  TestUI ui(player_.get());
  std::string list = songList({songPath(), songPath()});
  ASSERT_EQ(player_->run(list.c_str(), &ui), kError_NoErr);
  player_->acceptEvent(std::make_unique<Event>(CMD_Play));
  ASSERT_TRUE(ui.waitCount(INFO_MediaInfo, 3)) << "did not wrap";
  std::vector<int> order;
  for (auto& s : ui.seen())
    if (s.type == INFO_MediaInfo) order.push_back(s.index);
  ASSERT_GE(order.size(), 3u);
  EXPECT_EQ(order[0], 1);
  EXPECT_EQ(order[1], 2);
  EXPECT_EQ(order[2], 1);
  EXPECT_GE(ui.count(INFO_SongFinished), 2);
  EXPECT_EQ(ui.count(INFO_PlaylistDonePlay), 0);
  // Each song end stops, then the next song plays.
  auto t = ui.types();
  auto firstEnd = std::find(t.begin(), t.end(), INFO_SongFinished);
  ASSERT_NE(firstEnd, t.end());
  EXPECT_EQ(*(firstEnd - 1), INFO_Stopped);
  EXPECT_NE(std::find(firstEnd, t.end(), INFO_Playing), t.end());
  EXPECT_TRUE(quit());
}

TEST_F(PlayerTest, ASongThatFailsToOpenMakesThePlayerMoveOn) {
  TestUI ui(player_.get());
  std::string missing = testenv::freshDir("missing") + "/none.mp3";
  std::string list = songList({missing, songPath()});
  ASSERT_EQ(player_->run(list.c_str(), &ui), kError_NoErr);
  player_->acceptEvent(std::make_unique<Event>(CMD_Play));
  ASSERT_TRUE(ui.waitCount(INFO_MediaInfo, 1));
  auto seen = ui.seen();
  bool error = false;
  for (auto& s : seen) {
    if (s.type == INFO_ErrorMessage) {
      EXPECT_EQ(s.text, "Cannot open file " + missing + ".");
      error = true;
    }
    if (s.type == INFO_MediaInfo) {
      EXPECT_EQ(s.index, 2);
    }
  }
  EXPECT_TRUE(error);
  EXPECT_TRUE(quit());
}

TEST_F(PlayerTest, AOneSongListWhoseSongFailsEndsWithPlaylistFinished) {
  TestUI ui(player_.get());
  std::string bad = testenv::freshDir("bad") + "/noise.mp3";
  testenv::writeFile(bad, std::string(20000, '\x55'));  // no MPEG frames at all
  std::string list = songList({bad});
  ASSERT_EQ(player_->run(list.c_str(), &ui), kError_NoErr);
  player_->acceptEvent(std::make_unique<Event>(CMD_Play));
  ASSERT_TRUE(ui.waitCount(INFO_PlaylistDonePlay, 1));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(ui.count(INFO_ErrorMessage), 1) << "the failing song was tried again";
  EXPECT_EQ(ui.count(INFO_PlaylistDonePlay), 1);
  EXPECT_EQ(player_->state(), Player::kStopped);
  EXPECT_EQ(player_->playlist()->currentIndex(), 0);
  EXPECT_TRUE(quit());
}

// Songs that can't be opened or decoded, and nothing else: one round of
// the list, then the Player stops instead of retrying for ever.
TEST_F(PlayerTest, AListOfOnlyUnplayableSongsIsTriedOnceRoundThenStops) {
  std::string dir = testenv::freshDir("unplayable");
  LogFile log(dir + "/tessmp3.log");
  ASSERT_TRUE(log.open());
  ctx_.log = &log;
  TestUI ui(player_.get());
  std::string noise = dir + "/noise.mp3";
  testenv::writeFile(noise, std::string(20000, '\x55'));  // no MPEG frames at all
  std::string list = songList({dir + "/gone1.mp3", noise, dir + "/gone2.mp3"});
  ASSERT_EQ(player_->run(list.c_str(), &ui), kError_NoErr);
  player_->acceptEvent(std::make_unique<Event>(CMD_Play));
  ASSERT_TRUE(ui.waitCount(INFO_PlaylistDonePlay, 1, std::chrono::seconds(5))) << "the Player never gave up";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(ui.count(INFO_ErrorMessage), 3) << "not one attempt per song";
  EXPECT_EQ(ui.count(INFO_PlaylistDonePlay), 1);
  EXPECT_EQ(player_->state(), Player::kStopped);
  EXPECT_TRUE(quit());
  ctx_.log = nullptr;
  const std::string text = testenv::readFile(dir + "/tessmp3.log");
  const std::string line = "No song of the playlist can be played.";
  const size_t at = text.find(line);
  EXPECT_NE(at, std::string::npos) << text;
  EXPECT_EQ(text.find(line, at + 1), std::string::npos) << "logged more than once";
}

TEST_F(PlayerTest, CommandsChangeTheStateAndTellTheInterfaces) {
  TestUI ui(player_.get());
  std::string dir = testenv::freshDir("cmd");
  std::string song = longSong(dir, 20);  // long enough to outlast the test
  std::string list = songList({song, song});
  ASSERT_EQ(player_->run(list.c_str(), &ui), kError_NoErr);

  auto send = [&](int32_t type) { player_->acceptEvent(std::make_unique<Event>(type)); };
  // The queue is served in order: once a later event has been passed on,
  // everything the command sent has arrived.
  auto roundTrip = [&] {
    int before = ui.count(36);
    send(36);
    return ui.waitCount(36, before + 1);
  };

  // Next while stopped moves the song without playing it.
  send(CMD_NextMediaItem);
  ASSERT_TRUE(roundTrip());
  EXPECT_EQ(player_->state(), Player::kStopped);
  EXPECT_EQ(player_->playlist()->currentIndex(), 1);

  send(CMD_Play);
  ASSERT_TRUE(ui.waitCount(INFO_MediaTimeInfo, 1));
  EXPECT_EQ(player_->state(), Player::kPlaying);
  send(CMD_Pause);
  ASSERT_TRUE(roundTrip());
  EXPECT_EQ(player_->state(), Player::kPaused);
  send(CMD_TogglePause);
  ASSERT_TRUE(roundTrip());
  EXPECT_EQ(player_->state(), Player::kPlaying);

  // Play while playing starts the song again: stopped, then playing.
  ui.clear();
  send(CMD_Play);
  ASSERT_TRUE(roundTrip());
  auto t = ui.types();
  auto stopped = std::find(t.begin(), t.end(), INFO_Stopped);
  ASSERT_NE(stopped, t.end());
  EXPECT_NE(std::find(stopped, t.end(), INFO_Playing), t.end());

  // Volume: no mixer here, so it reads 0.
  send(CMD_GetVolume);
  ASSERT_TRUE(ui.waitCount(INFO_VolumeInfo, 1));
  for (auto& s : ui.seen())
    if (s.type == INFO_VolumeInfo) {
      EXPECT_EQ(s.index, 0);
    }

  send(CMD_Stop);
  ASSERT_TRUE(roundTrip());
  EXPECT_EQ(player_->state(), Player::kStopped);
  EXPECT_TRUE(quit());
}

TEST_F(PlayerTest, UnknownTypesAreDroppedAndOthersPassedOn) {
  TestUI ui(player_.get());
  ASSERT_EQ(player_->run(nullptr, &ui), kError_NoErr);
  struct Case {
    int32_t type;
    bool passedOn;
  } cases[] = {{9, false}, {13, false}, {47, false}, {79, false}, {0, false}, {82, false}, {500, false},
               {33, true}, {36, true},  {44, true},  {46, true},  {81, true}, {55, false}, {39, false}};
  for (auto& c : cases) player_->acceptEvent(std::make_unique<Event>(c.type));
  player_->acceptEvent(std::make_unique<Event>(CMD_QueryPlayerState));
  ASSERT_TRUE(ui.waitCount(INFO_Stopped, 1));
  for (auto& c : cases) EXPECT_EQ(ui.count(c.type), c.passedOn ? 1 : 0) << "type " << c.type;
  EXPECT_EQ(player_->serviceEvent(nullptr), 255);
  EXPECT_TRUE(quit());
}

TEST_F(PlayerTest, QuitWithoutInterfacesEndsTheThreadAtOnce) {
  ASSERT_EQ(player_->run(nullptr, nullptr), kError_NoErr);
  player_->acceptEvent(std::make_unique<Event>(CMD_QuitPlayer));
  ASSERT_TRUE(waitUntil([&] { return !player_->eventThreadRunning(); }));
  termination_.wait();  // released by the quit itself
}

TEST_F(PlayerTest, QuitWaitsForTheInterfaceAndLaterEventsAreFreedUnhandled) {
  TestUI ui(player_.get(), /*ackQuit=*/false);
  std::string list = songList({songPath()});
  ASSERT_EQ(player_->run(list.c_str(), &ui), kError_NoErr);
  player_->acceptEvent(std::make_unique<Event>(CMD_QuitPlayer));
  ASSERT_TRUE(ui.waitCount(INFO_QuitRequest, 1));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(player_->eventThreadRunning()) << "ended before the interface answered";

  player_->acceptEvent(std::make_unique<Event>(CMD_QuitAcknowledged));
  ASSERT_TRUE(waitUntil([&] { return !player_->eventThreadRunning(); }));
  termination_.wait();

  std::atomic<bool> freed{false};
  player_->acceptEvent(std::make_unique<TrackedEvent>(CMD_Play, &freed));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(freed);
  EXPECT_EQ(player_->state(), Player::kStopped) << "an event after the quit was handled";
  EXPECT_TRUE(platform::soundCaptureTake().empty());
  player_.reset();
  EXPECT_TRUE(freed) << "the event was not freed with the queue";
}

TEST_F(PlayerTest, RandomCommandSequencesNeitherRaceNorHang) {
  std::string dir = testenv::freshDir("random");
  std::string song = longSong(dir, 3);
  std::string list = songList({song, songPath(), song});
  std::mt19937 rng(20261210);
  const int32_t commands[] = {CMD_Play,          CMD_Pause,         CMD_UnPause,   CMD_TogglePause,
                              CMD_NextMediaItem, CMD_PrevMediaItem, CMD_Stop,      CMD_ChangePosition,
                              CMD_SetVolume,     CMD_GetVolume,     CMD_PlayPaused};
  const int kPlayers = 5, kSequences = 40, kLength = 6;  // 200 sequences
  for (int p = 0; p < kPlayers; ++p) {
    if (p > 0) {
      player_ = Player::create(&ctx_);
      player_->setTerminationSemaphore(&termination_);
    }
    TestUI ui(player_.get());
    ASSERT_EQ(player_->run(list.c_str(), &ui), kError_NoErr);
    for (int s = 0; s < kSequences; ++s) {
      for (int i = 0; i < kLength; ++i) {
        int32_t type = commands[rng() % std::size(commands)];
        if (type == CMD_ChangePosition)
          player_->acceptEvent(std::make_unique<ChangePositionEvent>(static_cast<int32_t>(rng() % 80)));
        else if (type == CMD_SetVolume)
          player_->acceptEvent(std::make_unique<VolumeEvent>(CMD_SetVolume, static_cast<int32_t>(rng() % 101)));
        else
          player_->acceptEvent(std::make_unique<Event>(type));
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
      }
    }
    ASSERT_TRUE(quit()) << "player " << p << " did not quit: a deadlock?";
    termination_.wait();
    EXPECT_EQ(player_->state(), Player::kStopped);
    player_.reset();
  }
  player_ = Player::create(&ctx_);  // for TearDown
}

TEST_F(PlayerTest, CommandLineOptions) {
  std::string dir = testenv::freshDir("args");
  testenv::writeFile(dir + "/a.mp3", "x");
  platform::setCurrentDirectory(dir);
  std::vector<std::string> args = {"aqplay",         "-save", "/SHUFFLE", "-import", "a.mp3",
                                   "http://radio/x", "*.mp3", "--once",   "-ui",     "3d.ui"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  EXPECT_TRUE(player_->setArgs(static_cast<int32_t>(argv.size()), argv.data()));
  EXPECT_EQ(ctx_.flags & 1, 1);
  EXPECT_EQ(ctx_.argc, static_cast<int32_t>(argv.size()));
  PlaylistManager* plm = player_->playlist();
  EXPECT_TRUE(plm->isShuffled());
  // The imported file and the stream; plain file arguments are not added.
  ASSERT_EQ(plm->count(), 2);
  EXPECT_EQ(plm->itemAt(0)->url(), "file://" + dir + "/a.mp3");
  EXPECT_EQ(plm->itemAt(1)->url(), "http://radio/x");

  // "-ui" without its name: the usage, a quit, and false.
  char prog[] = "aqplay", ui[] = "-UI";
  char* bad[] = {prog, ui};
  testing::internal::CaptureStdout();
  EXPECT_FALSE(player_->setArgs(2, bad));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("Tessolar version 2.0.8 -- Usage:\n\n", 0), 0u);
  // The queue now holds Play (first call) and Quit: the thread ends by itself.
  ASSERT_EQ(player_->run(nullptr, nullptr), kError_NoErr);
  EXPECT_TRUE(waitUntil([&] { return !player_->eventThreadRunning(); }));
  platform::setCurrentDirectory(testenv::root());
}

TEST(PlayerText, UsageText) {
  EXPECT_EQ(Player::usageText("/usr/bin/aqplay"),
            "Tessolar version 2.0.8 -- Usage:\n\n"
            "/usr/bin/aqplay [-save] [-ui <UI plugin name>] <MP3 file/stream> [MP3 file/stream] ...\n\n"
            "Example command line:\n\n"
            "   /usr/bin/aqplay -ui 3d.ui mysong1.mp3 mysong2.mp3\n\n");
}

TEST(PlayerPaths, UrlForms) {
  struct Case {
    const char* path;
    const char* url;
    const char* back;
  } cases[] = {
      {"/home/ann/Music/a song.mp3", "file:///home/ann/Music/a song.mp3", "/home/ann/Music/a song.mp3"},
      {"C:\\Music\\b.mp3", "file://C|/Music/b.mp3", "C:/Music/b.mp3"},
      {"rel\\c.mp3", "file://rel/c.mp3", "rel/c.mp3"},
  };
  for (auto& c : cases) {
    char buf[300];
    uint32_t len = sizeof buf;
    ASSERT_EQ(filePathToURL(c.path, buf, &len), kError_NoErr);
    EXPECT_STREQ(buf, c.url);
    EXPECT_EQ(len, std::strlen(c.url) + 1);
    len = sizeof buf;
    ASSERT_EQ(urlToFilePath(c.url, buf, &len), kError_NoErr);
    EXPECT_STREQ(buf, c.back);
  }
  char small[8];
  uint32_t len = sizeof small;
  EXPECT_EQ(filePathToURL("/a/b/c.mp3", small, &len), kError_BufferTooSmall);
  EXPECT_EQ(len, std::strlen("file:///a/b/c.mp3") + 1);
  len = sizeof small;
  EXPECT_EQ(urlToFilePath("file:///long/path.mp3", small, &len), kError_BufferTooSmall);
  EXPECT_EQ(len, std::strlen("/long/path.mp3") + 1);
  char buf[64];
  len = sizeof buf;
  EXPECT_EQ(urlToFilePath("http://host/x.mp3", buf, &len), kError_InvalidParam);
  len = sizeof buf;
  ASSERT_EQ(urlToFilePath("FILE:///x.mp3", buf, &len), kError_NoErr);
  EXPECT_STREQ(buf, "/x.mp3");
}

TEST(PlayerPaths, AbsolutePaths) {
  const std::string cwd = platform::currentDirectory();
  struct Case {
    std::string in, out;
  } cases[] = {
      {"a/./b/../c.mp3", cwd + "/a/c.mp3"}, {"/x/y/", "/x/y"}, {"/x/../..", "/"}, {"/", "/"},
      {"C:\\a\\..\\b\\", "C:/b"},           {"C:\\", "C:/"},
  };
  for (auto& c : cases) EXPECT_EQ(makeAbsolutePath(c.in), c.out) << c.in;
}

TEST_F(PlayerTest, AShuffledListKeepsEverySongAndStartsAtTheFirstOfItsOrder) {
  char prog[] = "aqplay", opt[] = "-shuffle";
  char* argv[] = {prog, opt};
  ASSERT_TRUE(player_->setArgs(2, argv));
  std::vector<std::string> paths = {"/m/a.mp3", "/m/b.mp3", "/m/c.mp3", "/m/d.mp3", "/m/e.mp3"};
  std::string list = songList(paths);
  ASSERT_EQ(player_->run(list.c_str(), nullptr), kError_NoErr);
  EXPECT_TRUE(quit());
  PlaylistManager* plm = player_->playlist();
  ASSERT_EQ(plm->count(), 5);
  std::vector<std::string> got;
  for (int i = 0; i < 5; ++i) got.push_back(plm->itemAt(i)->url());
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, paths);
  EXPECT_TRUE(plm->isShuffled());
}
