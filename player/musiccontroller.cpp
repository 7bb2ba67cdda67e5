#include "player/musiccontroller.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "player/logfile.h"
#include "player/playerevents.h"
#include "player/playlistmanager.h"
#include "player/preferences.h"

// What every controller of the process shares: the context, the
// preferences, the log, the semaphore the Player's thread releases at its
// end, and the Player.  The last controller to go frees it.  Members go in
// the reverse of this order: the Player first, as it uses all the others.
struct MusicEngine {
  std::unique_ptr<PlayerContext> context;
  std::unique_ptr<Preferences> prefs;
  std::unique_ptr<LogFile> log;
  Semaphore termination{0};
  std::unique_ptr<Player> player;
  int controllers = 0;
};

namespace {
platform::CheckedMutex g_engineMutex;
std::unique_ptr<MusicEngine> g_engine LM_GUARDED_BY(g_engineMutex);
}  // namespace

void processArguments(int32_t* argc, char*** argv) {
  static std::once_flag once;
  static std::vector<std::string> args;
  static std::vector<char*> pointers;
  std::call_once(once, [] {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t i = 0;
    while (i < all.size()) {
      size_t j = all.find('\0', i);
      if (j == std::string::npos) j = all.size();
      args.push_back(all.substr(i, j - i));
      i = j + 1;
    }
    for (auto& a : args) pointers.push_back(a.data());
    pointers.push_back(nullptr);
  });
  *argc = static_cast<int32_t>(args.size());
  *argv = pointers.data();
}

std::unique_ptr<MusicController> MusicController::startMusic(const char* songList) {
  int32_t argc = 0;
  char** argv = nullptr;
  processArguments(&argc, &argv);
  return startMusic(songList, argc, argv);
}

std::unique_ptr<MusicController> MusicController::startMusic(const char* songList, int32_t argc, char** argv) {
  // No song list, no music: there is nothing sensible to play instead.
  if (!songList) return nullptr;
  std::string list;
  for (const char* p = songList; *p; p += std::strlen(p) + 1) list.append(p, std::strlen(p) + 1);
  list.push_back('\0');

  platform::CheckedLock lock(g_engineMutex);
  const bool fresh = g_engine == nullptr;
  if (fresh) {
    auto e = std::make_unique<MusicEngine>();
    e->context = std::make_unique<PlayerContext>();
    e->context->ref = 1;
    e->prefs = std::make_unique<Preferences>();
    e->context->prefs = e->prefs.get();
    e->log = LogFile::fromPreferences(*e->prefs, "");
    e->context->log = e->log.get();
    e->player = Player::create(e->context.get());
    if (!e->player) return nullptr;  // a Player made by someone else runs
    e->player->setTerminationSemaphore(&e->termination);
    g_engine = std::move(e);
  }
  MusicEngine* e = g_engine.get();
  ++e->controllers;
  std::unique_ptr<MusicController> c(new MusicController(e));
  if (fresh) {
    e->player->setArgs(argc, argv);  // posts Play
    e->player->run(list.c_str(), c.get());
  } else {
    // The running Player keeps its one event thread: the new list replaces
    // the old, then the Play posted by the command line starts it.
    e->player->run(list.c_str(), c.get());
    e->player->setArgs(argc, argv);
  }
  return c;
}

MusicController::MusicController(MusicEngine* engine) : engine_(engine) {}

MusicController::~MusicController() {
  platform::CheckedLock lock(g_engineMutex);
  MusicEngine* e = engine_;
  if (--e->controllers > 0) {
    e->player->removeUI(this);
    return;
  }
  e->player->acceptEvent(std::make_unique<Event>(CMD_QuitPlayer));
  e->termination.wait();
  g_engine.reset();
}

Player* MusicController::player() const { return engine_->player.get(); }
PlayerContext* MusicController::context() const { return engine_->context.get(); }

void MusicController::waitForPlayerEnd() {
  engine_->termination.wait();
  // The end stays signalled for whoever waits next (the destructor).
  engine_->termination.signal();
}

void MusicController::releasePlayerEnd() { engine_->termination.signal(); }

void MusicController::post(std::unique_ptr<Event> event) { engine_->player->acceptEvent(std::move(event)); }

void MusicController::stop() { post(std::make_unique<Event>(CMD_Stop)); }
void MusicController::pause() { post(std::make_unique<Event>(CMD_Pause)); }
void MusicController::next() { post(std::make_unique<Event>(CMD_NextMediaItem)); }
void MusicController::previous() { post(std::make_unique<Event>(CMD_PrevMediaItem)); }
void MusicController::play() { post(std::make_unique<Event>(CMD_Play)); }

void MusicController::openFiles(const std::vector<std::string>& paths) {
  engine_->player->setPlaylist(paths);
  play();
}

void MusicController::copyStatus(MusicStatus* out) {
  if (!out) return;
  platform::CheckedLock lock(m_);
  // The same song: the same place in the list, frame length and URL (two
  // songs at the same place of a replaced list differ only by the last).
  if (out->playlistIndex == status_.playlistIndex && out->secondsPerFrame == status_.secondsPerFrame &&
      std::strcmp(out->url, status_.url) == 0) {
    out->hours = status_.hours;
    out->minutes = status_.minutes;
    out->seconds = status_.seconds;
    out->positionSeconds = status_.positionSeconds;
    return;
  }
  *out = status_;
}

void MusicController::setListener(std::function<void(const Event&)> listener) {
  platform::CheckedLock lock(m_);
  listener_ = std::move(listener);
}

ErrorCode MusicController::acceptEvent(const Event& event) {
  std::function<void(const Event&)> listener;
  {
    platform::CheckedLock lock(m_);
    switch (event.type()) {
      case INFO_MediaInfo: {
        const auto& m = static_cast<const MediaInfoEvent&>(event);
        status_.playlistIndex = m.playlistIndex;
        status_.playlistLength = m.playlistLength;
        status_.totalSeconds = static_cast<int32_t>(m.totalSeconds);
        status_.totalHours = status_.totalSeconds / 3600;
        status_.totalMinutes = status_.totalSeconds % 3600 / 60;
        status_.totalSecondsPart = status_.totalSeconds % 60;
        std::snprintf(status_.url, sizeof status_.url, "%s", m.url.c_str());
        break;
      }
      case INFO_MediaTimeInfo: {
        const auto& t = static_cast<const MediaTimeInfoEvent&>(event);
        status_.hours = t.hours;
        status_.minutes = t.minutes;
        status_.seconds = t.seconds;
        status_.positionSeconds = t.totalSeconds;
        break;
      }
      case INFO_MPEGInfo: {
        const auto& i = static_cast<const MpegInfoEvent&>(event);
        status_.totalFrames = i.totalFrames;
        status_.secondsPerFrame = i.secondsPerFrame;
        break;
      }
      default: break;
    }
    listener = listener_;
  }
  if (listener) listener(event);
  // Answer the quit request last: the Player may end right after it.
  if (event.type() == INFO_QuitRequest) engine_->player->acceptEvent(std::make_unique<Event>(CMD_QuitAcknowledged));
  return kError_NoErr;
}
