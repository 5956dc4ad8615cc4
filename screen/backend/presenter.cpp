// presenter.cpp - the part of a Presenter that every back-end shares.
#include "backend/presenter.h"

#include <algorithm>

namespace scr {

bool PresenterThread::Start(std::function<bool()> start, std::function<void()> pass,
                            std::function<void()> finish) {
  Stop();
  start_ = std::move(start);
  pass_ = std::move(pass);
  finish_ = std::move(finish);
  stop_ = false;
  ready_ = 0;
  try {
    thread_ = std::thread(&PresenterThread::Main, this);
  } catch (...) {
    return false;
  }
  std::unique_lock<std::mutex> wait(mutex_);
  wake_.wait(wait, [this] { return ready_ != 0; });
  if (ready_ > 0) return true;
  wait.unlock();
  thread_.join();
  return false;
}

void PresenterThread::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stop_ = true;
    wake_.notify_all();
  }
  thread_.join();
}

void PresenterThread::Main() {
  const bool started = start_();
  {
    std::lock_guard<std::mutex> guard(mutex_);
    ready_ = started ? 1 : -1;
    wake_.notify_all();
  }
  if (!started) return;
  constexpr auto kPassPeriod = std::chrono::milliseconds(10);
  auto next = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    lock.unlock();
    pass_();
    // Passes start every 10 ms; a late pass starts the next period from now.
    next = std::max(next + kPassPeriod, std::chrono::steady_clock::now());
    lock.lock();
    wake_.wait_until(lock, next, [this] { return stop_; });
  }
  lock.unlock();
  finish_();
}

}  // namespace scr
