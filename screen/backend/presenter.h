// presenter.h - what every Presenter does the same way, whatever it shows on.
//
// A Presenter is a thread that, about every 10 ms, takes the changes of the
// visible page under the platform lock (TakeChanges) and then, outside the
// lock, converts and shows them. Nothing slow ever runs while the program's
// thread may be waiting for the lock to draw a pixel.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "backend/backend.h"

namespace scr {

// The thread and its pace, shared by the window and terminal back-ends.
class PresenterThread {
 public:
  // Starts the thread: `start` runs on it first (false: the start failed and
  // the thread ends), then `pass` every 10 ms until Stop, then `finish`.
  // Returns once `start` has answered, with its answer.
  bool Start(std::function<bool()> start, std::function<void()> pass, std::function<void()> finish);
  // Ends the loop after the current pass and waits for the thread.
  void Stop();
  bool Running() const { return thread_.joinable(); }

 private:
  void Main();
  std::function<bool()> start_;
  std::function<void()> pass_, finish_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  int ready_ = 0;  // 0 starting, 1 running, -1 failed (under mutex_)
};

}  // namespace scr
