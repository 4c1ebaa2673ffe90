// The status slot between worker and window: at most one wake-up waits at
// any time, the window only ever sees newer texts, and a flush can tell
// whether the latest text is on the screen.
#include "status_slot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace {

TEST(StatusSlot, WakesOncePerTakeAndHandsOverTheLatestText) {
  StatusSlot slot;
  std::wstring text;
  uint64_t serial = 0;
  EXPECT_FALSE(slot.take(&text, &serial));  // nothing published yet

  EXPECT_TRUE(slot.publish(L"first"));
  EXPECT_FALSE(slot.publish(L"second"));  // a wake-up is outstanding
  EXPECT_FALSE(slot.publish(L"third"));
  ASSERT_TRUE(slot.take(&text, &serial));
  EXPECT_EQ(text, L"third");
  EXPECT_FALSE(slot.take(&text, &serial));  // nothing newer

  EXPECT_TRUE(slot.publish(L"fourth"));  // the take ended the wake-up
  ASSERT_TRUE(slot.take(&text, &serial));
  EXPECT_EQ(text, L"fourth");
  // The same text again is still a new text: it is shown again.
  EXPECT_TRUE(slot.publish(L"fourth"));
  EXPECT_TRUE(slot.take(&text, &serial));
}

TEST(StatusSlot, UnshownUntilTheWindowMarksTheLatestTextShown) {
  StatusSlot slot;
  EXPECT_FALSE(slot.unshown());
  slot.publish(L"a");
  EXPECT_TRUE(slot.unshown());
  std::wstring text;
  uint64_t first = 0;
  ASSERT_TRUE(slot.take(&text, &first));
  EXPECT_TRUE(slot.unshown());  // taken is not yet on the screen
  slot.publish(L"b");
  slot.mark_shown(first);
  EXPECT_TRUE(slot.unshown());  // "a" is shown, "b" is the latest
  uint64_t second = 0;
  ASSERT_TRUE(slot.take(&text, &second));
  EXPECT_GT(second, first);
  slot.mark_shown(second);
  EXPECT_FALSE(slot.unshown());
  slot.mark_shown(first);  // a late mark of an older text changes nothing
  EXPECT_FALSE(slot.unshown());
}

// A worker publishing as fast as it can against a window that wakes only
// on posted wake-ups, as the progress window does: never two wake-ups at
// once, texts only ever newer, and after the flush the latest one shown.
TEST(StatusSlot, WorkerNeverWaitsAndWindowEndsOnTheLatestText) {
  constexpr int kTexts = 20000;
  StatusSlot slot;
  std::mutex queue_mutex;
  std::condition_variable queue_signal;
  int wakeups_waiting = 0;
  int most_waiting = 0;
  bool worker_done = false;
  int last_seen = -1;
  bool order_kept = true;

  std::thread window([&] {
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(queue_mutex);
        queue_signal.wait(lock, [&] { return wakeups_waiting > 0 || worker_done; });
        if (wakeups_waiting == 0 && worker_done) return;
        --wakeups_waiting;
      }
      std::wstring text;
      uint64_t serial = 0;
      if (!slot.take(&text, &serial)) continue;
      int number = std::stoi(text);
      if (number <= last_seen) order_kept = false;
      last_seen = number;
      slot.mark_shown(serial);
    }
  });
  for (int i = 0; i < kTexts; ++i) {
    if (slot.publish(std::to_wstring(i))) {
      std::lock_guard<std::mutex> lock(queue_mutex);
      ++wakeups_waiting;
      if (wakeups_waiting > most_waiting) most_waiting = wakeups_waiting;
      queue_signal.notify_one();
    }
  }
  // The flush: the worker waits until the latest text is on the screen.
  while (slot.unshown()) std::this_thread::yield();
  {
    std::lock_guard<std::mutex> lock(queue_mutex);
    worker_done = true;
    queue_signal.notify_one();
  }
  window.join();
  EXPECT_TRUE(order_kept);
  EXPECT_EQ(last_seen, kTexts - 1);
  EXPECT_EQ(most_waiting, 1);
}

}  // namespace
