#include "player/player.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>

#include "platform/crtrand.h"
#include "platform/files.h"
#include "player/localfileinput.h"
#include "player/logfile.h"
#include "player/mpegdecoder.h"
#include "player/playlistmanager.h"
#include "player/soundcardoutput.h"

namespace {

platform::CheckedMutex g_playerMutex;
Player* g_player LM_GUARDED_BY(g_playerMutex) = nullptr;  // published, not owned
// The usage text is printed once per process.
std::atomic<bool> g_usagePrinted{false};

bool startsWithNoCase(const char* text, const char* prefix) {
  return strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

// Types without a handler that are logged as unknown rather than passed on:
// the notifications the Player makes itself (never taken from others) and
// the numbers nothing in this system uses.
constexpr EventType kUnknownTypes[] = {
    INFO_QuitRequest, INFO_PlaylistDonePlay, INFO_Stopped, INFO_Paused, INFO_Playing, INFO_MPEGInfo, INFO_VolumeInfo,
    RESERVED_9,       RESERVED_13,           RESERVED_14,  RESERVED_15, RESERVED_16,  RESERVED_17,   RESERVED_23,
    RESERVED_25,      RESERVED_30,           RESERVED_31,  RESERVED_32, RESERVED_42,  RESERVED_43,   RESERVED_45,
    RESERVED_74,      RESERVED_75,           RESERVED_79,
};

bool isUnknownType(int32_t type) {
  if (type < kFirstEventType || type > kLastEventType) return true;
  return std::find(std::begin(kUnknownTypes), std::end(kUnknownTypes), type) != std::end(kUnknownTypes);
}

}  // namespace

// ---- Creation ----------------------------------------------------------

std::unique_ptr<Player> Player::create(PlayerContext* context) {
  platform::CheckedLock lock(g_playerMutex);
  if (g_player) return nullptr;
  std::unique_ptr<Player> player(new Player(context));
  g_player = player.get();
  return player;
}

Player* Player::current() {
  platform::CheckedLock lock(g_playerMutex);
  return g_player;
}

Player::Player(PlayerContext* context) : context_(context) {
  if (context_) {
    context_->player = this;
    context_->target = this;
    context_->props = this;
  }
  playlist_ = std::make_unique<PlaylistManager>(context_);
  if (context_) context_->plm = playlist_.get();
  registerWatcher("pcm_volume", this);
}

Player::~Player() {
  // A Player deleted without the quit protocol still ends its thread.
  if (thread_.isCreated()) {
    terminate_ = true;
    queueSem_.signal();
    thread_.join();
  }
  if (chain_) {
    chain_->pause();
    deleteChain();
  }
  playlist_.reset();
  {
    platform::CheckedLock lock(queueMutex_);
    queue_.clear();  // events posted after the quit are freed, never handled
  }
  if (context_) {
    if (context_->player == this) context_->player = nullptr;
    if (context_->target == this) context_->target = nullptr;
    if (context_->props == this) context_->props = nullptr;
    context_->plm = nullptr;
  }
  platform::CheckedLock lock(g_playerMutex);
  if (g_player == this) g_player = nullptr;
}

void Player::setTerminationSemaphore(Semaphore* semaphore) { termination_ = semaphore; }

void Player::logMain(const char* format, ...) {
  if (!context_ || !context_->log) return;
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  context_->log->logCategory(LogMain, "%s", text);
}

// ---- Command line ------------------------------------------------------

std::string Player::usageText(const char* program) {
  char line[1024];
  std::string out = "Tessolar version 2.0.8 -- Usage:\n\n";
  std::snprintf(line, sizeof line, "%s [-save] [-ui <UI plugin name>] <MP3 file/stream> [MP3 file/stream] ...\n\n",
                program);
  out += line;
  out += "Example command line:\n\n";
  std::snprintf(line, sizeof line, "   %s -ui 3d.ui mysong1.mp3 mysong2.mp3\n\n", program);
  out += line;
  return out;
}

void Player::printUsage() {
  if (g_usagePrinted.exchange(true)) return;
  std::fputs(usageText(platform::programPath().c_str()).c_str(), stdout);
  std::fflush(stdout);
}

bool Player::setArgs(int32_t argc, char** argv) {
  if (context_) {
    context_->argc = argc;
    context_->argv = argv;
  }
  static const char* const kSlashOptions[] = {"help", "import", "save", "shuffle", "ui", "play"};
  for (int32_t i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!arg) continue;
    bool option = arg[0] == '-';
    if (arg[0] == '/') {
      // Paths start with '/' here: only the engine's own option words are
      // options in that spelling.
      for (const char* o : kSlashOptions)
        if (strcasecmp(arg + 1, o) == 0) option = true;
    }
    if (option) {
      const char* o = arg + 1;
      if (strcasecmp(o, "help") == 0 || strcasecmp(o, "-help") == 0) {
        printUsage();
        post(CMD_QuitPlayer);
      } else if (strcasecmp(o, "import") == 0) {
        if (i + 1 < argc && argv[i + 1]) {
          ++i;
          playlist_->addItem(filePathToURL(makeAbsolutePath(argv[i])).c_str());
        }
      } else if (strcasecmp(o, "save") == 0) {
        if (context_) context_->flags |= kContextFlagSave;
      } else if (strcasecmp(o, "shuffle") == 0) {
        playlist_->setShuffle(true);
      } else if ((o[0] == 'u' || o[0] == 'U') && (o[1] == 'i' || o[1] == 'I')) {
        if (i + 1 >= argc || !argv[i + 1]) {
          printUsage();
          post(CMD_QuitPlayer);
          return false;
        }
        uiNames_.push_back(argv[++i]);
      }
      // "play" and every other option: nothing to do.
      continue;
    }
    if (startsWithNoCase(arg, "http://") || startsWithNoCase(arg, "rtp://")) {
      playlist_->addItem(arg);
      continue;
    }
    // A file pattern: its matches are made absolute file URLs, which the
    // engine keeps to itself (the host hands over the songs to play).
    std::string absolute = makeAbsolutePath(arg);
    std::string dir(absolute, 0, absolute.size() - platform::fileNamePart(absolute).size());
    std::vector<platform::DirEntry> entries;
    if (platform::listDirectory(dir.empty() ? "." : dir, platform::fileNamePart(absolute), entries)) {
      for (const auto& e : entries) (void)filePathToURL(makeAbsolutePath(dir + e.name));
    }
  }
  if (autoplay_) post(CMD_Play);
  return true;
}

// ---- Queue and thread --------------------------------------------------

ErrorCode Player::registerUI(UserInterface* ui) {
  if (!ui) return kError_NullObject;
  platform::CheckedLock lock(uiMutex_);
  uis_.push_back(ui);
  return kError_NoErr;
}

ErrorCode Player::removeUI(UserInterface* ui) {
  platform::CheckedLock lock(uiMutex_);
  for (auto it = uis_.begin(); it != uis_.end(); ++it) {
    if (*it == ui) {
      uis_.erase(it);
      return kError_NoErr;
    }
  }
  return kError_NotFound;
}

ErrorCode Player::run(const char* songList, UserInterface* ui) {
  if (ui) registerUI(ui);
  std::vector<std::string> paths;
  if (songList)
    for (const char* p = songList; *p; p += std::strlen(p) + 1) paths.emplace_back(p);
  platform::CheckedLock lock(runMutex_);
  if (threadStarted_) {
    // One thread serves the queue.  It may be using the playlist right
    // now, so the new list goes in on that thread, before what follows.
    if (songList) setPlaylist(paths);
    return kError_NoErr;
  }
  if (songList) replacePlaylist(paths);
  if (!thread_.create(&Player::eventThread, this)) return kError_CreateThreadFailed;
  threadStarted_ = true;
  return kError_NoErr;
}

void Player::setPlaylist(const std::vector<std::string>& paths) {
  if (!threadStarted_) {
    replacePlaylist(paths);
    return;
  }
  auto e = std::make_unique<ReplacePlaylistEvent>();
  e->paths = paths;
  acceptEvent(std::move(e));
}

void Player::replacePlaylist(const std::vector<std::string>& paths) {
  failedInARow_ = 0;
  playlist_->clear();
  std::vector<std::string> order = paths;
  if (playlist_->isShuffled()) {
    // Shuffle asked for on the command line shuffles the list just given.
    // Items added while shuffle is on keep the order they come in, and the
    // first is current: so the whole list plays, in a random order.
    // The generator's first draws after seeding with neighbouring seconds
    // are nearly alike: spread the seed over all its bits.
    platform::srand(static_cast<uint32_t>(std::time(nullptr)) * 2654435761u ^ static_cast<uint32_t>(getpid()));
    for (size_t i = order.size(); i > 1; --i)
      std::swap(order[i - 1], order[platform::randomIndex(static_cast<int>(i))]);
  }
  for (const auto& p : order) playlist_->addItem(p.c_str());
}

ErrorCode Player::acceptEvent(std::unique_ptr<Event> event) {
  if (!event) return kError_InvalidParam;
  {
    platform::CheckedLock lock(queueMutex_);
    queue_.push_back(std::move(event));
  }
  queueSem_.signal();
  return kError_NoErr;
}

void Player::post(EventType type) { acceptEvent(std::make_unique<Event>(type)); }

std::unique_ptr<Event> Player::takeEvent() {
  platform::CheckedLock lock(queueMutex_);
  if (queue_.empty()) return nullptr;
  std::unique_ptr<Event> e = std::move(queue_.front());
  queue_.pop_front();
  return e;
}

void Player::eventThread(void* self) { static_cast<Player*>(self)->eventLoop(); }

void Player::eventLoop() {
  for (;;) {
    queueSem_.wait();
    if (terminate_) break;
    std::unique_ptr<Event> e = takeEvent();
    if (!e) continue;
    if (serviceEvent(std::move(e)) != kServiceContinue) break;
  }
  threadEnded_ = true;
}

void Player::sendToUI(const Event& event) {
  platform::CheckedLock lock(uiMutex_);
  if (uiClosed_) return;
  // The interfaces copy what they need; the Player keeps the event.
  for (UserInterface* ui : uis_) ui->acceptEvent(event);
}

bool Player::setState(int32_t s) { return state_.exchange(s) != s; }

void Player::notify(EventType type) { sendToUI(Event(type)); }

// ---- Properties --------------------------------------------------------

int32_t Player::getProperty(const char* name, std::string& value) {
  if (!name) return kPropertyNone;
  platform::CheckedLock lock(propsMutex_);
  auto it = props_.find(name);
  if (it == props_.end() || !it->second.present) return kPropertyNone;
  value = it->second.value;
  return kPropertyOk;
}

int32_t Player::setProperty(const char* name, const char* value) {
  if (!name) return kPropertyNone;
  std::vector<PropertyWatcher*> watchers;
  std::string v = value ? value : "";
  {
    platform::CheckedLock lock(propsMutex_);
    Property& p = props_[name];
    p.value = v;
    p.present = true;
    watchers = p.watchers;
  }
  for (PropertyWatcher* w : watchers) w->propertyChanged(name, v.c_str());
  return kPropertyOk;
}

int32_t Player::registerWatcher(const char* name, PropertyWatcher* watcher) {
  if (!name || !watcher) return kPropertyNone;
  platform::CheckedLock lock(propsMutex_);
  props_[name].watchers.push_back(watcher);
  return kPropertyOk;
}

int32_t Player::removeWatcher(const char* name, PropertyWatcher* watcher) {
  if (!name) return kPropertyNone;
  platform::CheckedLock lock(propsMutex_);
  auto it = props_.find(name);
  if (it == props_.end()) return kPropertyNone;
  auto& w = it->second.watchers;
  for (auto i = w.begin(); i != w.end(); ++i) {
    if (*i == watcher) {
      w.erase(i);
      return kPropertyOk;
    }
  }
  return kPropertyNone;
}

void Player::propertyChanged(const char* name, const char* value) {
  if (name && strcasecmp(name, "pcm_volume") == 0 && value)
    acceptEvent(std::make_unique<VolumeEvent>(CMD_SetVolume, std::atoi(value)));
}

// ---- Chain -------------------------------------------------------------

void Player::deleteChain() {
  lastDecoder_ = nullptr;
  chain_.reset();
}

void Player::buildChain(const char* url) {
  deleteChain();
  auto input = std::make_unique<LocalFileInput>(context_);
  auto output = std::make_unique<SoundCardOutput>(context_);
  auto decoder = std::make_unique<MpegDecoder>(context_);
  input->setPropertyManager(this);
  output->setPropertyManager(this);
  decoder->setPropertyManager(this);
  decoder->setInput(input.get());
  decoder->setOutput(output.get());
  MpegDecoder* wiredDecoder = decoder.get();
  output->setInput(std::move(input));
  output->setDecoder(std::move(decoder));
  ErrorCode rc = output->setTo(url);
  if (rc != kError_NoErr) {
    // The output stage takes the rest of the chain with it.
    logMain("Cannot setup the audio decode process: %d\n", rc);
    return;
  }
  lastDecoder_ = wiredDecoder;
  chain_ = std::move(output);
}

// ---- Dispatch ----------------------------------------------------------

const Player::Handler* Player::findHandler(int32_t type) {
  // Commands that would start or move playback are refused once the
  // Player is on its way out (a Play posted by an earlier Next or song end
  // may still wait in the queue).
  static constexpr Handler kHandlers[] = {
      {CMD_Stop, &Player::onStop, false},
      {CMD_Play, &Player::onPlay, true},
      {CMD_PlayPaused, &Player::onPlayPaused, true},
      {CMD_NextMediaItem, &Player::onNext, true},
      {CMD_PrevMediaItem, &Player::onPrevious, true},
      {CMD_Pause, &Player::onPause, false},
      {CMD_UnPause, &Player::onUnpause, true},
      {CMD_TogglePause, &Player::onTogglePause, true},
      {CMD_QuitPlayer, &Player::onQuit, false},
      {CMD_QuitAcknowledged, &Player::onQuitAcknowledged, false},
      {INFO_SongFinished, &Player::onSongFinished, false},
      {INFO_DoneOutputtingDueToError, &Player::onErrorStop, false},
      {INFO_MediaInfo, &Player::onMediaInfo, false},
      {INFO_MediaTimeInfo, &Player::onPosition, false},
      {INFO_MediaPosition, &Player::onPosition, false},
      {CMD_ChangePosition, &Player::onSeek, true},
      {CMD_SetEQData, &Player::onEqualizer, false},
      {CMD_GetVolume, &Player::onVolumeQuery, false},
      {CMD_SetVolume, &Player::onSetVolume, false},
      {CMD_QueryPlayerState, &Player::onStateQuery, false},
      // Their handler objects don't exist in this system.
      {CMD_HandlerA, &Player::onIgnored, false},
      {CMD_HandlerB, &Player::onIgnored, false},
      {CMD_HandlerC, &Player::onIgnored, false},
      {CMD_ReplacePlaylist, &Player::onReplacePlaylist, false},
  };
  for (const Handler& h : kHandlers)
    if (h.type == type) return &h;
  return nullptr;
}

Player::ServiceResult Player::serviceEvent(std::unique_ptr<Event> event) {
  if (!event) return kServiceNullEvent;
  const int32_t type = event->type();
  if (const Handler* h = findHandler(type)) {
    if (quitting_ && h->refusedWhileQuitting) return kServiceContinue;
    return (this->*(h->handle))(*event);
  }
  if (isUnknownType(type)) {
    logMain("serviceEvent: Unknown event: %d\n", type);
    return kServiceContinue;
  }
  sendToUI(*event);
  return kServiceContinue;
}

Player::ServiceResult Player::onStop(Event&) {
  handleStop();
  return kServiceContinue;
}

Player::ServiceResult Player::onPlay(Event&) {
  handlePlay(false);
  return kServiceContinue;
}

Player::ServiceResult Player::onPlayPaused(Event&) {
  handlePlay(true);
  return kServiceContinue;
}

Player::ServiceResult Player::onNext(Event&) {
  handleNextPrevious(true);
  return kServiceContinue;
}

Player::ServiceResult Player::onPrevious(Event&) {
  handleNextPrevious(false);
  return kServiceContinue;
}

Player::ServiceResult Player::onPause(Event&) {
  handlePause();
  return kServiceContinue;
}

Player::ServiceResult Player::onUnpause(Event&) {
  handleUnpause();
  return kServiceContinue;
}

Player::ServiceResult Player::onTogglePause(Event&) {
  if (chain_) {
    if (state_ == kPlaying)
      handlePause();
    else if (state_ == kPaused)
      handleUnpause();
  }
  return kServiceContinue;
}

Player::ServiceResult Player::onQuit(Event&) { return handleQuit() ? kServiceEnd : kServiceContinue; }

Player::ServiceResult Player::onQuitAcknowledged(Event&) {
  return handleQuitAcknowledged() ? kServiceEnd : kServiceContinue;
}

Player::ServiceResult Player::onSongFinished(Event&) {
  handleSongEnd(false);
  return kServiceContinue;
}

Player::ServiceResult Player::onErrorStop(Event&) {
  handleSongEnd(true);
  return kServiceContinue;
}

Player::ServiceResult Player::onMediaInfo(Event& event) {
  handleMediaInfo(static_cast<MediaInfoEvent&>(event));
  return kServiceContinue;
}

Player::ServiceResult Player::onPosition(Event& event) {
  failedInARow_ = 0;  // the song plays
  if (state_ == kPlaying) sendToUI(event);
  return kServiceContinue;
}

Player::ServiceResult Player::onSeek(Event& event) {
  if (chain_) chain_->changePosition(static_cast<ChangePositionEvent&>(event).frame);
  return kServiceContinue;
}

Player::ServiceResult Player::onEqualizer(Event& event) {
  if (chain_ && lastDecoder_) {
    const auto& eq = static_cast<const SetEqualizerEvent&>(event);
    if (eq.isTable)
      lastDecoder_->setEqualizerTable(eq.table);
    else
      lastDecoder_->setEqualizerEnabled(eq.enable);
  }
  return kServiceContinue;
}

Player::ServiceResult Player::onVolumeQuery(Event&) {
  if (chain_) sendToUI(VolumeEvent(INFO_VolumeInfo, chain_->getVolume()));
  return kServiceContinue;
}

Player::ServiceResult Player::onSetVolume(Event& event) {
  if (chain_) chain_->setVolume(static_cast<const VolumeEvent&>(event).volume);
  return kServiceContinue;
}

Player::ServiceResult Player::onStateQuery(Event&) {
  notify(state_ == kPlaying ? INFO_Playing : state_ == kStopped ? INFO_Stopped : INFO_Paused);
  return kServiceContinue;
}

Player::ServiceResult Player::onIgnored(Event&) { return kServiceContinue; }

Player::ServiceResult Player::onReplacePlaylist(Event& event) {
  replacePlaylist(static_cast<const ReplacePlaylistEvent&>(event).paths);
  return kServiceContinue;
}

void Player::handleStop() {
  if (chain_) {
    chain_->pause();
    deleteChain();
  }
  if (setState(kStopped)) notify(INFO_Stopped);
}

void Player::handlePlay(bool paused) {
  if (state_ == kPlaying) {
    // Play while playing starts the song again.
    deleteChain();
    if (setState(kStopped)) notify(INFO_Stopped);
  }
  if (!chain_) {
    const PlaylistItem* item = playlist_->currentItem();
    if (item) buildChain(item->url().c_str());
  }
  if (!chain_) return;
  if (paused) {
    if (setState(kPaused)) {
      notify(INFO_Playing);
      notify(INFO_Paused);
    }
    return;
  }
  chain_->resume();
  if (setState(kPlaying)) notify(INFO_Playing);
}

void Player::handleNextPrevious(bool next) {
  const int32_t before = state_;
  if (before != kStopped) post(CMD_Stop);
  if (next)
    playlist_->next(true);
  else
    playlist_->previous(true);
  if (before == kPaused) post(CMD_PlayPaused);
  if (before == kPlaying) post(CMD_Play);
}

void Player::handlePause() {
  if (!chain_) return;
  chain_->pause();
  if (setState(kPaused)) notify(INFO_Paused);
}

void Player::handleUnpause() {
  if (!chain_) return;
  chain_->resume();
  if (setState(kPlaying)) notify(INFO_Playing);
}

void Player::handleSongEnd(bool error) {
  deleteChain();
  if (setState(kStopped)) notify(INFO_Stopped);
  notify(INFO_SongFinished);
  if (error) {
    const int32_t repeat = playlist_->repeatMode();
    if (repeat == PlaylistManager::kRepeatOne || (repeat == PlaylistManager::kRepeatAll && playlist_->count() == 1)) {
      // One song that fails is not tried again and again.
      playlist_->setCurrentIndex(0);
      notify(INFO_PlaylistDonePlay);
      return;
    }
    // Nor is a list of which no song plays: after one round of failures
    // the Player stops (a new Play starts a new round).
    if (++failedInARow_ >= playlist_->count()) {
      failedInARow_ = 0;
      if (context_ && context_->log) context_->log->logError("No song of the playlist can be played.\n");
      playlist_->setCurrentIndex(0);
      notify(INFO_PlaylistDonePlay);
      return;
    }
  } else {
    failedInARow_ = 0;
  }
  if (playlist_->hasAnotherSong()) {
    playlist_->next(false);
    post(CMD_Play);
  } else {
    playlist_->setCurrentIndex(0);
    notify(INFO_PlaylistDonePlay);
  }
}

bool Player::handleQuit() {
  handleStop();
  quitting_ = true;
  platform::CheckedLock lock(uiMutex_);
  const int32_t count = uiClosed_ ? 0 : static_cast<int32_t>(uis_.size());
  if (!uiClosed_) {
    const Event quit(INFO_QuitRequest);
    for (UserInterface* ui : uis_) ui->acceptEvent(quit);
  }
  if (count != 0) {
    awaitedAcks_ = count;
    return false;
  }
  uiClosed_ = true;
  lock.unlock();
  if (termination_) termination_->signal();
  return true;
}

bool Player::handleQuitAcknowledged() {
  if (!quitting_) return false;
  if (--awaitedAcks_ > 0) return false;
  {
    platform::CheckedLock lock(uiMutex_);
    uiClosed_ = true;
  }
  if (termination_) termination_->signal();
  return true;
}

void Player::handleMediaInfo(MediaInfoEvent& info) {
  info.playlistIndex = playlist_->currentIndex() + 1;
  info.playlistLength = playlist_->count();
  platform::CheckedLock lock(uiMutex_);
  if (uiClosed_) return;
  for (UserInterface* ui : uis_) {
    ui->acceptEvent(info);
    for (auto& a : info.attached)
      if (a) ui->acceptEvent(*a);
  }
}

// ---- Paths and URLs ----------------------------------------------------

ErrorCode filePathToURL(const char* path, char* url, uint32_t* length) {
  if (!path || !length) return kError_InvalidParam;
  std::string out = filePathToURL(std::string(path));
  const uint32_t needed = static_cast<uint32_t>(out.size() + 1);
  if (!url || *length < needed) {
    *length = needed;
    return kError_BufferTooSmall;
  }
  std::memcpy(url, out.c_str(), needed);
  *length = needed;
  return kError_NoErr;
}

std::string filePathToURL(const std::string& path) {
  std::string p = path;
  for (char& c : p)
    if (c == '\\') c = '/';
  if (p.size() >= 2 && p[1] == ':' && std::isalpha(static_cast<unsigned char>(p[0]))) p[1] = '|';
  return "file://" + p;
}

ErrorCode urlToFilePath(const char* url, char* path, uint32_t* length) {
  if (!url || !length) return kError_InvalidParam;
  if (strncasecmp(url, "file://", 7) != 0) return kError_InvalidParam;
  std::string p = url + 7;
  // Paths are native here: '/' stays; only a drive's '|' goes back to ':'.
  if (p.size() >= 2 && p[1] == '|' && std::isalpha(static_cast<unsigned char>(p[0]))) p[1] = ':';
  const uint32_t needed = static_cast<uint32_t>(p.size() + 1);
  if (!path || *length < needed) {
    *length = needed;
    return kError_BufferTooSmall;
  }
  std::memcpy(path, p.c_str(), needed);
  *length = needed;
  return kError_NoErr;
}

std::string makeAbsolutePath(const std::string& path) {
  std::string p = path;
  for (char& c : p)
    if (c == '\\') c = '/';
  const bool drive = p.size() >= 2 && p[1] == ':';
  if (!drive && (p.empty() || p[0] != '/')) p = platform::currentDirectory() + "/" + p;
  std::string prefix;
  if (drive) {
    prefix = p.substr(0, 2);
    p = p.substr(2);
  }
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= p.size()) {
    size_t j = p.find('/', i);
    if (j == std::string::npos) j = p.size();
    std::string part = p.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  std::string out = prefix;
  for (const auto& part : parts) out += "/" + part;
  if (out.empty() || out == prefix) out += "/";
  return out;
}
