#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <thread>
#include <vector>

#include "app/qt/qt_message_loop.h"

namespace {
struct Seen {
  uint32_t msg;
  uintptr_t wparam;
  intptr_t lparam;
};
std::vector<Seen> g_seen;
QtMessageLoop* g_loop = nullptr;
int g_timer1 = 0, g_timer2 = 0;

intptr_t record(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  g_seen.push_back({msg, wparam, lparam});
  if (msg == WM_TIMER && wparam == 1 && ++g_timer1 == 3) g_loop->kill_timer(1);
  if (msg == WM_TIMER && wparam == 2) {
    ++g_timer2;
    if (g_timer1 >= 3 && g_timer2 >= 8) g_loop->quit();
  }
  return 0;
}

QCoreApplication* app() {
  static int argc = 1;
  static char name[] = "test";
  static char* argv[] = {name, nullptr};
  static QCoreApplication* a = new QCoreApplication(argc, argv);
  return a;
}

TEST(QtMessageLoop, PostsFromThreadsArriveInOrderAndQuitEndsTheLoop) {
  app();
  g_seen.clear();
  QtMessageLoop loop(record);
  g_loop = &loop;
  constexpr int kThreads = 4, kEach = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&loop, t] {
      for (int i = 0; i < kEach; ++i) loop.post(WM_USER + 100 + t, static_cast<uintptr_t>(i), -i);
    });
  }
  for (auto& th : threads) th.join();
  loop.post(WM_USER, 7, -7);
  loop.quit();
  loop.run();
  ASSERT_GE(g_seen.size(), static_cast<size_t>(kThreads * kEach + 1));
  int next[kThreads] = {};
  for (const Seen& s : g_seen) {
    if (s.msg >= WM_USER + 100) {
      int t = static_cast<int>(s.msg - WM_USER - 100);
      EXPECT_EQ(s.wparam, static_cast<uintptr_t>(next[t]));
      EXPECT_EQ(s.lparam, -next[t]);
      ++next[t];
    }
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kEach);
  EXPECT_EQ(g_seen[kThreads * kEach].msg, WM_USER);
  EXPECT_EQ(g_seen.back().wparam, 7u);
}

TEST(QtMessageLoop, TimersByIdRestartAndStop) {
  app();
  g_seen.clear();
  g_timer1 = g_timer2 = 0;
  QtMessageLoop loop(record);
  g_loop = &loop;
  loop.set_timer(1, 5);
  loop.set_timer(2, 60000);
  loop.set_timer(2, 10);  // same id: replaces the first period
  loop.set_timer(3, 5);
  loop.kill_timer(3);
  loop.kill_timer(99);  // unknown id: nothing
  QTimer::singleShot(10000, [] { QCoreApplication::exit(1); });  // safety net only
  loop.run();
  EXPECT_EQ(g_timer1, 3);  // killed from inside its own handler
  EXPECT_GE(g_timer2, 8);
  for (const Seen& s : g_seen) {
    EXPECT_EQ(s.msg, WM_TIMER);
    EXPECT_NE(s.wparam, 3u);
  }
}
}  // namespace
