#include "player/playlistmanager.h"

#include <algorithm>
#include <ctime>

#include "platform/crtrand.h"
#include "player/playercontext.h"
#include "player/preferences.h"

PlaylistManager::PlaylistManager(PlayerContext* context) : context_(context) {
  if (context_ && context_->prefs) {
    bool shuffle = false;
    if (context_->prefs->getPlaylistShuffle(&shuffle) == kError_NoErr) shuffle_ = shuffle;
    int32_t repeat = kRepeatAll;
    if (context_->prefs->getPlaylistRepeat(&repeat) == kError_NoErr) repeat_ = repeat;
  }
  repeat_ = kRepeatAll;
  // Playlist-format, metadata and portable-player plug-ins are not part of
  // this system, so there is no library scan: every song added is one item.
}

PlaylistManager::~PlaylistManager() {
  if (context_ && context_->prefs) {
    context_->prefs->setPlaylistShuffle(shuffle_);
    context_->prefs->setPlaylistRepeat(repeat_);
  }
}

void PlaylistManager::post(std::unique_ptr<Event> event) {
  if (context_ && context_->target) context_->target->acceptEvent(std::move(event));
}

PlaylistItem* PlaylistManager::atPosition(int32_t position) const {
  if (position < 0 || position >= static_cast<int32_t>(items_.size())) return nullptr;
  return shuffle_ ? shuffled_[static_cast<size_t>(position)] : items_[static_cast<size_t>(position)].get();
}

int32_t PlaylistManager::indexOf(const PlaylistItem* item) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].get() == item) return static_cast<int32_t>(i);
  return -1;
}

int32_t PlaylistManager::positionOf(const PlaylistItem* item) const {
  if (!shuffle_) return indexOf(item);
  for (size_t i = 0; i < shuffled_.size(); ++i)
    if (shuffled_[i] == item) return static_cast<int32_t>(i);
  return -1;
}

const PlaylistItem* PlaylistManager::currentItem() const {
  platform::CheckedLock lock(m_);
  return atPosition(current_);
}

int32_t PlaylistManager::currentIndex() const {
  platform::CheckedLock lock(m_);
  const PlaylistItem* item = atPosition(current_);
  return item ? indexOf(item) : -1;
}

int32_t PlaylistManager::count() const {
  platform::CheckedLock lock(m_);
  return static_cast<int32_t>(items_.size());
}

const PlaylistItem* PlaylistManager::itemAt(int32_t index) const {
  platform::CheckedLock lock(m_);
  if (index < 0 || index >= static_cast<int32_t>(items_.size())) return nullptr;
  return items_[static_cast<size_t>(index)].get();
}

void PlaylistManager::setPosition(int32_t position) {
  current_ = position;
  post(std::make_unique<PlaylistItemEvent>(INFO_PlaylistCurrentItemInfo, atPosition(position), this));
}

ErrorCode PlaylistManager::setCurrentIndex(int32_t index) {
  platform::CheckedLock lock(m_);
  if (index < 0 || index >= static_cast<int32_t>(items_.size())) return kError_InvalidParam;
  setPosition(positionOf(items_[static_cast<size_t>(index)].get()));
  return kError_NoErr;
}

ErrorCode PlaylistManager::next(bool userAction) { return step(true, userAction); }

ErrorCode PlaylistManager::previous(bool userAction) { return step(false, userAction); }

// next and previous: the same rules in either direction.
ErrorCode PlaylistManager::step(bool forward, bool userAction) {
  platform::CheckedLock lock(m_);
  int32_t n = static_cast<int32_t>(items_.size());
  if (n == 0) {
    current_ = -1;
    return kError_NoErr;
  }
  int32_t position = current_;
  if (repeat_ == kRepeatOne && !userAction) {
    // The same song again.
  } else if (forward ? current_ + 1 < n : current_ > 0) {
    position = forward ? current_ + 1 : current_ - 1;
  } else if (repeat_ == kRepeatAll || userAction) {
    if (shuffle_) reshuffle();
    position = forward ? 0 : n - 1;
  }
  setPosition(std::clamp(position, 0, n - 1));
  return kError_NoErr;
}

bool PlaylistManager::hasAnotherSong() const {
  platform::CheckedLock lock(m_);
  if (repeat_ == kRepeatOne || repeat_ == kRepeatAll) return true;
  return current_ < static_cast<int32_t>(items_.size()) - 1;
}

void PlaylistManager::reshuffle() {
  // Each draw seeds the process-wide generator with the time in seconds.
  for (size_t i = 1; i < shuffled_.size(); ++i) {
    platform::srand(static_cast<uint32_t>(std::time(nullptr)));
    size_t r = static_cast<size_t>(platform::rand()) % i;
    std::swap(shuffled_[i], shuffled_[r]);
  }
}

ErrorCode PlaylistManager::setShuffle(bool shuffle) {
  platform::CheckedLock lock(m_);
  PlaylistItem* current = atPosition(current_);
  shuffle_ = shuffle;
  if (shuffle_) reshuffle();
  if (current) current_ = positionOf(current);
  post(std::make_unique<PlaylistShuffleEvent>(shuffle_, this));
  return kError_NoErr;
}

bool PlaylistManager::isShuffled() const {
  platform::CheckedLock lock(m_);
  return shuffle_;
}

ErrorCode PlaylistManager::setRepeatMode(int32_t mode) {
  if (mode < kRepeatNone || mode > kRepeatAll) return kError_InvalidParam;
  platform::CheckedLock lock(m_);
  repeat_ = mode;
  return kError_NoErr;
}

int32_t PlaylistManager::repeatMode() const {
  platform::CheckedLock lock(m_);
  return repeat_;
}

ErrorCode PlaylistManager::addItem(const char* url) { return insert(url, -1); }

ErrorCode PlaylistManager::addItem(const char* url, int32_t index) { return insert(url, std::max(index, 0)); }

ErrorCode PlaylistManager::insert(const char* url, int32_t index) {
  if (!url) return kError_InvalidParam;
  platform::CheckedLock lock(m_);
  PlaylistItem* current = atPosition(current_);
  int32_t n = static_cast<int32_t>(items_.size());
  int32_t at = index < 0 || index > n ? n : index;
  auto owned = std::make_unique<PlaylistItem>(url);
  PlaylistItem* item = owned.get();
  items_.insert(items_.begin() + at, std::move(owned));
  shuffled_.push_back(item);
  post(std::make_unique<PlaylistItemEvent>(INFO_PlaylistItemAdded, item, this));
  if (!current) {
    setPosition(0);
  } else {
    // The same song stays current wherever the new one went in.
    current_ = positionOf(current);
  }
  return kError_NoErr;
}

ErrorCode PlaylistManager::clear() {
  platform::CheckedLock lock(m_);
  shuffled_.clear();
  items_.clear();
  post(std::make_unique<Event>(INFO_PlaylistCleared));
  current_ = -1;
  return kError_NoErr;
}
