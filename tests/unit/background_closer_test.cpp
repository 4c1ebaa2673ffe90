// The closing thread: every handle handed over is closed, in the order
// handed, by the time drain() or the destructor returns, and never more
// than the bound wait unclosed.
#include "background_closer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// What the close function saw; the closer calls a plain function.
struct Closed {
  std::mutex mutex;
  std::vector<uintptr_t> order;
  std::atomic<size_t> handed{0};
  size_t most_unclosed = 0;
  bool slow = false;
};
Closed* g_closed = nullptr;

void record_close(void* handle) {
  if (g_closed->slow) std::this_thread::sleep_for(std::chrono::microseconds(50));
  std::lock_guard<std::mutex> lock(g_closed->mutex);
  size_t unclosed = g_closed->handed.load() - g_closed->order.size();
  if (unclosed > g_closed->most_unclosed) g_closed->most_unclosed = unclosed;
  g_closed->order.push_back(reinterpret_cast<uintptr_t>(handle));
}

class BackgroundCloserTest : public ::testing::Test {
 protected:
  void SetUp() override { g_closed = &closed_; }
  void TearDown() override { g_closed = nullptr; }

  void hand_over(BackgroundCloser* closer, uintptr_t first, uintptr_t count) {
    for (uintptr_t h = first; h < first + count; ++h) {
      closed_.handed.fetch_add(1);
      closer->close(reinterpret_cast<void*>(h));
    }
  }
  std::vector<uintptr_t> closed_so_far() {
    std::lock_guard<std::mutex> lock(closed_.mutex);
    return closed_.order;
  }
  static std::vector<uintptr_t> range(uintptr_t first, uintptr_t count) {
    std::vector<uintptr_t> handles;
    for (uintptr_t h = first; h < first + count; ++h) handles.push_back(h);
    return handles;
  }

  Closed closed_;
};

// Fewer handles than a batch never wake the thread by themselves: drain
// has to, and each drain leaves nothing open.
TEST_F(BackgroundCloserTest, DrainClosesEverythingHandedSoFarInOrder) {
  const struct {
    const char* what;
    size_t count;
  } cases[] = {{"less than a batch", 5}, {"exactly a batch", 16}, {"several batches", 70}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    closed_.order.clear();
    closed_.handed = 0;
    BackgroundCloser closer(record_close, 16, 64);
    hand_over(&closer, 1, c.count);
    closer.drain();
    EXPECT_EQ(closed_so_far(), range(1, c.count));
    hand_over(&closer, 1000, 3);
    closer.drain();
    std::vector<uintptr_t> expected = range(1, c.count);
    for (uintptr_t h : range(1000, 3)) expected.push_back(h);
    EXPECT_EQ(closed_so_far(), expected);
    closer.drain();  // nothing left: returns at once
  }
}

TEST_F(BackgroundCloserTest, DestructorClosesWhatWasNeverDrained) {
  {
    BackgroundCloser closer(record_close, 16, 64);
    hand_over(&closer, 1, 21);
  }
  EXPECT_EQ(closed_so_far(), range(1, 21));
}

// A writer far faster than the closes is held at the bound: the handle
// being handed over is the only one past it.
TEST_F(BackgroundCloserTest, WriterWaitsWhileTheBoundIsReached) {
  closed_.slow = true;
  {
    BackgroundCloser closer(record_close, 4, 8);
    hand_over(&closer, 1, 200);
    closer.drain();
    EXPECT_EQ(closed_so_far(), range(1, 200));
  }
  EXPECT_LE(closed_.most_unclosed, 9u);
}

}  // namespace
