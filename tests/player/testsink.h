#pragma once
// A stand-in for the Player's event queue: keeps every event posted to it
// and lets a test wait for one.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "player/event.h"

class RecordingQueue : public EventQueue {
 public:
  ErrorCode acceptEvent(std::unique_ptr<Event> event) override {
    {
      std::lock_guard<std::mutex> lock(m_);
      events_.push_back(std::move(event));
    }
    cv_.notify_all();
    return kError_NoErr;
  }

  // Waits until an event of the type arrived (true) or the time is up.
  bool waitFor(int32_t type, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_for(lock, limit, [&] {
      for (auto& e : events_)
        if (e->type() == type) return true;
      return false;
    });
  }

  std::vector<int32_t> types() {
    std::lock_guard<std::mutex> lock(m_);
    std::vector<int32_t> out;
    for (auto& e : events_) out.push_back(e->type());
    return out;
  }

  // Texts of the message events (28 and 46), in order.
  std::vector<std::string> messages(int32_t type) {
    std::lock_guard<std::mutex> lock(m_);
    std::vector<std::string> out;
    for (auto& e : events_)
      if (e->type() == type) out.push_back(static_cast<MessageEvent*>(e.get())->text());
    return out;
  }

  // Takes all events out.
  std::vector<std::unique_ptr<Event>> take() {
    std::lock_guard<std::mutex> lock(m_);
    return std::move(events_);
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<std::unique_ptr<Event>> events_;
};
