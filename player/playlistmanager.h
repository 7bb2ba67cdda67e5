#pragma once
// The engine's playlist: the songs in play order, the current position, the
// repeat mode and an optional shuffled order.  It tells the Player which
// song is current and whether another one follows, and posts a
// notification to the Player for every change.
//
// Indices given to and returned by the public operations are item indices
// (the order songs were added in); with shuffle on, play moves through the
// shuffled order and the current item's index is mapped through it.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/threadannotations.h"
#include "player/errorcode.h"
#include "player/event.h"

struct PlayerContext;
class PlaylistManager;

class PlaylistItem {
 public:
  explicit PlaylistItem(std::string url) : url_(std::move(url)) {}
  // The URL or path exactly as added.
  const std::string& url() const { return url_; }

  std::string title;
  std::string artist;
  std::string album;
  int32_t reference = 0;

 private:
  std::string url_;
};

// 58 (item added) and 60 (current item changed).  The item stays owned by
// the playlist, so the event also carries a copy of its URL for receivers
// that look at it after the playlist changed.
class PlaylistItemEvent : public Event {
 public:
  PlaylistItemEvent(int32_t type, const PlaylistItem* which, const PlaylistManager* owner)
      : Event(type), item(which), manager(owner), url(which ? which->url() : std::string()) {}
  const PlaylistItem* item;
  const PlaylistManager* manager;
  std::string url;
};

// 34: shuffle switched.
class PlaylistShuffleEvent : public Event {
 public:
  PlaylistShuffleEvent(bool shuffled, const PlaylistManager* owner)
      : Event(INFO_PlaylistShuffle), shuffle(shuffled), manager(owner) {}
  bool shuffle;
  const PlaylistManager* manager;
};

class PlaylistManager {
 public:
  enum RepeatMode : int32_t { kRepeatNone = 0, kRepeatOne = 1, kRepeatAll = 2 };

  // Reads "PlaylistShuffle" and "PlaylistRepeat", then repeats all
  // whatever was stored: the screen saver's music loops for ever.
  explicit PlaylistManager(PlayerContext* context);
  // Writes the shuffle flag and the repeat mode back to the preferences.
  ~PlaylistManager();
  PlaylistManager(const PlaylistManager&) = delete;
  PlaylistManager& operator=(const PlaylistManager&) = delete;

  // The current item (null when the list is empty).
  const PlaylistItem* currentItem() const;
  // The current item's index, -1 when there is none.
  int32_t currentIndex() const;
  int32_t count() const;
  const PlaylistItem* itemAt(int32_t index) const;

  // Makes the item current and posts 60; 2 for an index out of the list.
  ErrorCode setCurrentIndex(int32_t index);
  // One step in play order; `userAction` moves on even where an automatic
  // step would repeat the song or stop at the end.  Posts 60.
  ErrorCode next(bool userAction);
  ErrorCode previous(bool userAction);
  bool hasAnotherSong() const;

  ErrorCode setShuffle(bool shuffle);
  bool isShuffled() const;
  ErrorCode setRepeatMode(int32_t mode);
  int32_t repeatMode() const;

  // Adds one song (posts 58, and 60 when it became current); 2 for null.
  ErrorCode addItem(const char* url);
  // Inserts at the index (clamped to the count).
  ErrorCode addItem(const char* url, int32_t index);
  // Deletes every item and posts 59.
  ErrorCode clear();

 private:
  void post(std::unique_ptr<Event> event);
  // Under m_: the item at a play-order position, and back.
  PlaylistItem* atPosition(int32_t position) const LM_REQUIRES(m_);
  int32_t positionOf(const PlaylistItem* item) const LM_REQUIRES(m_);
  int32_t indexOf(const PlaylistItem* item) const LM_REQUIRES(m_);
  void setPosition(int32_t position) LM_REQUIRES(m_);
  void reshuffle() LM_REQUIRES(m_);
  ErrorCode step(bool forward, bool userAction);
  ErrorCode insert(const char* url, int32_t index);

  PlayerContext* context_;
  mutable platform::CheckedMutex m_;
  std::vector<std::unique_ptr<PlaylistItem>> items_ LM_GUARDED_BY(m_);
  std::vector<PlaylistItem*> shuffled_ LM_GUARDED_BY(m_);
  int32_t current_ LM_GUARDED_BY(m_) = -1;  // position in play order
  bool shuffle_ LM_GUARDED_BY(m_) = false;
  int32_t repeat_ LM_GUARDED_BY(m_) = kRepeatAll;
};
