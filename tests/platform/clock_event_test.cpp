#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/address_wait.h"
#include "platform/clock.h"
#include "platform/event.h"

namespace {
int64_t g_manual = 0;
int64_t manual_clock() { return g_manual; }
}  // namespace

TEST(Clock, MonotonicAndManual) {
  int64_t a = qpc_now();
  sleep_ms(20);
  int64_t b = qpc_now();
  EXPECT_GE(b - a, 20 * kQpcFrequency / 1000);
  clock_set_source(manual_clock);
  g_manual = 1234;
  EXPECT_EQ(qpc_now(), 1234);
  clock_set_source(nullptr);
  EXPECT_GE(qpc_now(), b);
}

// Whole milliseconds, truncated; nothing for no reading or one in the future.
TEST(Clock, ElapsedMilliseconds) {
  clock_set_source(manual_clock);
  g_manual = 50'000'000;
  EXPECT_EQ(elapsed_ms(40'000'000), 1000u);
  EXPECT_EQ(elapsed_ms(49'990'001), 0u);
  EXPECT_EQ(elapsed_ms(49'979'999), 2u);
  EXPECT_EQ(elapsed_ms(0), 0u);
  EXPECT_EQ(elapsed_ms(50'000'000), 0u);
  EXPECT_EQ(elapsed_ms(60'000'000), 0u);
  clock_set_source(nullptr);
}

TEST(AutoResetEvent, OneSetReleasesOneWait) {
  AutoResetEvent e;
  EXPECT_FALSE(e.wait(10));
  e.set();
  e.set();  // a second set before the wait does not queue another signal
  EXPECT_TRUE(e.wait(0));
  EXPECT_FALSE(e.wait(10));
  std::thread t([&] { e.set(); });
  EXPECT_TRUE(e.wait(5000));
  t.join();
}

TEST(AddressWait, WakesOnChangeAndTimesOut) {
  std::atomic<uint32_t> word{0};
  EXPECT_FALSE(address_wait(word, 0, 20));
  EXPECT_TRUE(address_wait(word, 1, 20));  // value already differs: returns at once
  std::thread t([&] {
    sleep_ms(10);
    word.store(1);
    address_wake_all(word);
  });
  while (word.load() == 0) address_wait(word, 0, 5000);
  EXPECT_EQ(word.load(), 1u);
  t.join();
}
