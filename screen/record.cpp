// record.cpp - recordings (see record.h): pictures copied from the visible
// page where they are taken, handed to a writer thread through a short
// queue, and turned into GIF frames there.
#include "record.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "backend/backend.h"
#include "gif.h"
#include "lock.h"
#include "pixels.h"
#include "platform/platform.h"
#include "screenshot.h"
#include "state.h"

namespace scr {

namespace {

// One picture as taken: the page's rows side by side, its shown colours, when.
struct Picture {
  std::vector<uint8_t> pixels;
  uint32_t shown[256];
  int64_t centiseconds = 0;
};

// Behind a Presenter, pictures that find this many waiting are left for a
// later pass (the writer is behind); the program's thread waits instead.
constexpr size_t kMostWaiting = 16;
constexpr double kLeastGap = 0.02;  // seconds between a Presenter's pictures

}  // namespace

struct Recording {
  // Fixed from the start
  int32_t width = 0, height = 0, bytesPerPixel = 1, colours = 16;
  bool windowless = false;
  int64_t fixedDelay = 25;  // centiseconds a picture, windowless
  std::chrono::steady_clock::time_point start;
  // The takers' side (under the platform lock, or on the program's thread)
  int64_t taken = 0;          // pictures taken
  std::vector<uint8_t> last;  // windowless: the last picture's pixels and colours
  uint32_t lastShown[256] = {};
  double lastTaken = -1;      // seconds on the clock
  bool changeWaiting = true;   // a change not taken yet (the whole page at first)
  // Shared with the writer
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Picture> waiting;
  bool stopping = false;
  int32_t error = 0;
  std::thread writer;
  GifWriter gif;
  std::vector<uint8_t> indices;  // the writer's
};

namespace {

double Elapsed(const Recording& r) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - r.start).count();
}

// The picture's colour indices: one-byte pages as they are (within the
// table), deeper ones through the colour cube.
void ToIndices(const Recording& r, const Picture& p, std::vector<uint8_t>& out) {
  const size_t n = size_t(r.width) * size_t(r.height);
  out.resize(n);
  if (r.bytesPerPixel == 1) {
    const uint8_t mask = uint8_t(r.colours - 1);
    for (size_t i = 0; i < n; ++i) out[i] = p.pixels[i] & mask;
    return;
  }
  for (int32_t y = 0; y < r.height; ++y) {
    const uint8_t* row = p.pixels.data() + size_t(y) * size_t(r.width) * size_t(r.bytesPerPixel);
    for (int32_t x = 0; x < r.width; ++x)
      out[size_t(y) * size_t(r.width) + size_t(x)] = DeepColourIndex(ShownRgb(r.bytesPerPixel, p.shown, row, x));
  }
}

void WritePicture(Recording& r, const Picture& p) {
  uint32_t table[256];
  const uint32_t* palette = DeepPalette();
  if (r.bytesPerPixel == 1) {
    for (int32_t i = 0; i < r.colours; ++i) {
      const uint8_t value = uint8_t(i);
      table[i] = ShownRgb(1, p.shown, &value, 0);
    }
    palette = table;
  }
  ToIndices(r, p, r.indices);
  if (r.gif.Add(r.indices.data(), palette, p.centiseconds) != 0 && r.error == 0) r.error = 3;
}

void WriterMain(Recording* r) {
  std::unique_lock<std::mutex> lock(r->mutex);
  for (;;) {
    r->wake.wait(lock, [r] { return r->stopping || !r->waiting.empty(); });
    if (r->waiting.empty()) break;
    Picture p = std::move(r->waiting.front());
    r->waiting.pop_front();
    r->wake.notify_all();  // room for a waiting taker
    lock.unlock();
    WritePicture(*r, p);
    lock.lock();
  }
}

// Copies the visible page into a picture for the writer (or writes it at
// once where there is no writer thread). `wait`: the taker waits for room.
void Take(Recording& r, const Screen& s, int64_t centiseconds, bool wait) {
  Picture p;
  const size_t rowBytes = size_t(s.width) * size_t(s.bytesPerPixel);
  p.pixels.resize(rowBytes * size_t(s.height));
  for (int32_t y = 0; y < s.height; ++y)
    std::memcpy(p.pixels.data() + size_t(y) * rowBytes, s.visible + size_t(y) * size_t(s.pitch), rowBytes);
  std::memcpy(p.shown, s.shownColours, sizeof p.shown);
  p.centiseconds = centiseconds;
  ++r.taken;
  if (r.windowless) {
    r.last = p.pixels;
    std::memcpy(r.lastShown, p.shown, sizeof p.shown);
  }
  if (!r.writer.joinable()) return WritePicture(r, p);
  std::unique_lock<std::mutex> lock(r.mutex);
  if (wait) r.wake.wait(lock, [&r] { return r.waiting.size() < kMostWaiting; });
  r.waiting.push_back(std::move(p));
  r.wake.notify_all();
}

// The environment's delay for windowless pictures, in centiseconds.
int64_t FixedDelay() {
  const char* text = std::getenv("SCRRECDELAY");
  const double seconds = text && *text ? platform::StrToDoubleC(text) : 0.25;
  return seconds >= 0.01 && seconds <= 600 ? int64_t(seconds * 100 + 0.5) : 25;
}

// Finishes `r`: the last picture from `s`, the writer drained, the file closed.
int32_t Finish(Recording& r, const Screen& s) {
  const int64_t now = r.windowless ? r.taken * r.fixedDelay : int64_t(Elapsed(r) * 100 + 0.5);
  Take(r, s, now, true);
  const int64_t end = r.windowless ? r.taken * r.fixedDelay : now + 2;
  if (r.writer.joinable()) {
    {
      std::lock_guard<std::mutex> lock(r.mutex);
      r.stopping = true;
      r.wake.notify_all();
    }
    r.writer.join();
  }
  if (r.gif.Close(end) != 0 && r.error == 0) r.error = 3;
  return r.error;
}

// A signal is ending the program: 1 while the program's thread is asked to
// stop at its next keyboard read, 2 once it has.
std::atomic<int> gEnding{0};

// What SCRSHOT and a recording would have got at the program's end, taken
// once the program's thread has stopped at a keyboard read, where its
// picture is whole (or after a second, for a program that reads no keys).
void SaveBeforeSignalEnd() {
  gEnding.store(1);
  for (int i = 0; i < 100 && gEnding.load() != 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const Screen* s = gLayer.screen;
  if (!s) return;
  // Taken away from a Presenter under its platform lock, as it may be taking a picture.
  const Recording* running = gLayer.recording.running.load();
  const bool presenter = running && !running->windowless;
  if (presenter) s->backend->lock();
  Recording* r = gLayer.recording.running.exchange(nullptr);
  if (presenter) s->backend->unlock();
  if (r) Finish(*r, *s);
  WriteScreenshotIfAsked(*s);
}

int32_t Begin(Screen& s, const char* path, const char* call) {
  auto* r = new Recording;
  r->width = s.width;
  r->height = s.height;
  r->bytesPerPixel = s.bytesPerPixel;
  r->colours = s.bytesPerPixel > 1 ? 256 : s.depth <= 1 ? 2 : s.depth <= 2 ? 4 : s.depth <= 4 ? 16 : 256;
  r->windowless = s.backend->pollKeys != nullptr;
  r->fixedDelay = FixedDelay();
  r->start = std::chrono::steady_clock::now();
  if (r->gif.Open(path, s.width, s.height, r->colours) != 0) {
    delete r;
    return Fail(2, {call, ": \"", path, "\" cannot be created"});
  }
  if (platform::ThreadsAvailable()) {
    try {
      r->writer = std::thread(WriterMain, r);
    } catch (...) {  // written on the taker's thread instead
    }
  }
  platform::CallBeforeEndingSignals(SaveBeforeSignalEnd);
  LockScreen();  // the Presenter reads it under the platform lock
  gLayer.recording.running.store(r);
  UnlockScreen(1, 0);
  return SetError(0);
}

}  // namespace

void StartRecordingIfAsked(Screen& s) {
  const char* shot = std::getenv("SCRSHOT");
  if (shot && *shot) platform::CallBeforeEndingSignals(SaveBeforeSignalEnd);
  const char* path = std::getenv("SCRREC");
  if (path && *path) Begin(s, path, "SCRREC");
}

void StopHereIfEnding() {
  if (gEnding.load(std::memory_order_relaxed) == 0) return;
  gEnding.store(2);
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));  // until the signal ends the process
}

void RecordShownPicture(const Screen& s, bool changed) {
  Recording* r = gLayer.recording.running.load(std::memory_order_relaxed);
  if (!r || r->windowless) return;
  r->changeWaiting |= changed;
  const double now = Elapsed(*r);
  if (!r->changeWaiting || now - r->lastTaken < kLeastGap) return;
  {
    std::lock_guard<std::mutex> lock(r->mutex);
    if (r->waiting.size() >= kMostWaiting || r->stopping) return;  // taken at a later pass
  }
  r->changeWaiting = false;
  r->lastTaken = now;
  Take(*r, s, int64_t(now * 100 + 0.5), false);
}

void RecordOnKeyboardRead(Screen& s, bool key) {
  Recording* r = gLayer.recording.running.load(std::memory_order_relaxed);
  if (!r || !r->windowless) return;
  const double now = Elapsed(*r);
  if (!key && r->taken > 0 && now - r->lastTaken < double(r->fixedDelay) / 100) return;
  bool flagged = s.coloursChanged || r->taken == 0;
  for (size_t y = 0; !flagged && y < s.dirtyRows.size(); ++y) flagged = s.dirtyRows[y] != 0;
  if (!flagged) return;
  s.coloursChanged = false;
  std::fill(s.dirtyRows.begin(), s.dirtyRows.end(), 0);
  // Rows drawn again as they were are no new picture (nor a longer one).
  const size_t rowBytes = size_t(s.width) * size_t(s.bytesPerPixel);
  bool same = r->taken > 0 && std::memcmp(r->lastShown, s.shownColours, sizeof r->lastShown) == 0;
  for (int32_t y = 0; same && y < s.height; ++y)
    same = std::memcmp(r->last.data() + size_t(y) * rowBytes, s.visible + size_t(y) * size_t(s.pitch), rowBytes) == 0;
  if (same) return;
  r->lastTaken = now;
  Take(*r, s, r->taken * r->fixedDelay, true);
}

int32_t FinishRecording(const Screen& s) {
  Recording* r = gLayer.recording.running.exchange(nullptr);  // the Presenter has stopped
  if (!r) return 0;
  const int32_t error = Finish(*r, s);
  delete r;
  return error;
}

int32_t RecordStart(const std::string& path) {
  Screen* s = gLayer.screen;
  if (!s) return Fail(1, {"RecordStart: no Screen is open"});
  if (gLayer.recording.running.load()) return Fail(1, {"RecordStart: a recording is running already"});
  return Begin(*s, path.c_str(), "RecordStart");
}

int32_t RecordStop() {
  Screen* s = gLayer.screen;
  LockScreen();  // a Presenter may be taking a picture
  Recording* r = gLayer.recording.running.exchange(nullptr);
  UnlockScreen(1, 0);
  if (!s || !r) return Fail(1, {"RecordStop: no recording is running"});
  const int32_t error = Finish(*r, *s);
  delete r;
  if (error != 0) return Fail(3, {"RecordStop: writing the recording failed"});
  return SetError(0);
}

}  // namespace scr
