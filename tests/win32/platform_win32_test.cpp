// The Win32 platform layer: the behaviour the core relies on, checked on the
// real system calls (under Wine in CI).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/address_wait.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/win32/keep_awake.h"
#include "platform/event.h"
#include "win32_temp.h"

namespace {
TEST(Win32Clock, RunsAtTenMegahertz) {
  int64_t a = qpc_now();
  sleep_ms(100);
  int64_t elapsed = qpc_now() - a;
  // At least the 100 ms slept, in 100-ns ticks; far below what a clock in
  // nanoseconds or raw counter units at another rate would show.
  EXPECT_GE(elapsed, 900'000);
  EXPECT_LT(elapsed, 100'000'000);
}

TEST(Win32AddressWait, ReturnsOnChangeWakeAndTimeOut) {
  std::atomic<uint32_t> word{0};
  EXPECT_FALSE(address_wait(word, 0, 20));  // unchanged: time-out
  word = 1;
  EXPECT_TRUE(address_wait(word, 0, kWaitInfinite));  // differs already: no wait
  std::thread t([&word] {
    sleep_ms(20);
    word = 2;
    address_wake_all(word);
  });
  while (word.load() == 1) EXPECT_TRUE(address_wait(word, 1, 5000));
  t.join();
  EXPECT_EQ(word.load(), 2u);
}

TEST(Win32Files, MoveNeverReplacesUnlessAsked) {
  Win32TempDir dir;
  std::string a = dir / "a.tmp.mp4", b = dir / "b.mp4";
  write_bytes(a, "new");
  write_bytes(b, "old");
  EXPECT_FALSE(move_file(a, b, false));
  EXPECT_EQ(read_bytes(a), "new");
  EXPECT_EQ(read_bytes(b), "old");
  EXPECT_TRUE(move_file(a, b, true));
  EXPECT_FALSE(file_exists(a));
  EXPECT_EQ(read_bytes(b), "new");
  EXPECT_TRUE(move_file(b, dir / "c.mp4", false));
  EXPECT_FALSE(move_file(dir / "missing", dir / "d", false));
}

TEST(Win32Files, LockIsSeenByOthersAndLeavesTheDataWritable) {
  Win32TempDir dir;
  std::string f = dir / "rec.tmp.mp4";
  FileLock none;
  EXPECT_FALSE(none.try_lock(f));  // never creates the file
  EXPECT_FALSE(file_exists(f));
  write_bytes(f, "data");
  EXPECT_FALSE(file_is_locked(f));
  {
    FileLock lock;
    ASSERT_TRUE(lock.try_lock(f));
    EXPECT_TRUE(lock.locked());
    EXPECT_TRUE(file_is_locked(f));
    FileLock second;
    EXPECT_FALSE(second.try_lock(f));
    // The recorder's writer uses another handle on the locked file.
    EXPECT_TRUE(append_file(f, "more", true));
    std::string prefix;
    EXPECT_TRUE(read_file_prefix(f, 6, &prefix));
    EXPECT_EQ(prefix, "datamo");
  }
  EXPECT_FALSE(file_is_locked(f));
}

TEST(Win32Files, FoldersSizesTimesAndContents) {
  Win32TempDir dir;
  std::string deep = dir / "a/b\\c";
  EXPECT_TRUE(create_directories(deep));
  EXPECT_TRUE(directory_exists(deep));
  EXPECT_FALSE(file_exists(deep));
  EXPECT_TRUE(create_directories(deep));  // existing is fine

  uint64_t free_bytes = 0;
  EXPECT_TRUE(free_space_bytes(dir.path(), &free_bytes));
  EXPECT_GT(free_bytes, 0u);

  std::string f = dir / "f.txt";
  EXPECT_TRUE(replace_file_contents(f, "one"));
  EXPECT_TRUE(replace_file_contents(f, "two!"));
  uint64_t size = 0;
  EXPECT_TRUE(file_size(f, &size));
  EXPECT_EQ(size, 4u);
  std::string out;
  EXPECT_FALSE(read_whole_file(f, 3, &out));  // over the limit
  EXPECT_TRUE(read_whole_file(f, 4, &out));
  EXPECT_EQ(out, "two!");
  EXPECT_FALSE(read_whole_file(dir.path(), 100, &out));

  int64_t written = 0;
  EXPECT_TRUE(last_write_time(f, &written));
  int64_t now = wall_clock_100ns();
  EXPECT_LT(std::abs(now - written), 600'000'000);  // same scale and epoch: within a minute

  std::string unique, error;
  EXPECT_TRUE(create_unique_file(dir.path(), "fvx", &unique, &error));
  EXPECT_TRUE(file_exists(unique));
  EXPECT_EQ(path_directory(unique), dir.path());
  EXPECT_FALSE(create_unique_file(dir / "missing", "fvx", &unique, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(delete_file(f));
  EXPECT_FALSE(delete_file(f));
}

TEST(Win32Paths, PiecesAndTheExecutable) {
  std::string exe = executable_path();
  EXPECT_NE(exe.find(".exe"), std::string::npos) << exe;
  EXPECT_EQ(exe.find('\\'), std::string::npos) << exe;
  EXPECT_TRUE(file_exists(exe));
  EXPECT_TRUE(directory_writable(path_directory(exe)));
  EXPECT_FALSE(directory_writable(path_directory(exe) + "/no such folder"));

  EXPECT_EQ(path_directory("C:/x.ini"), "C:/");
  EXPECT_EQ(path_directory("C:\\dir\\x.ini"), "C:\\dir");
  EXPECT_EQ(path_directory("x.ini"), "");
  EXPECT_EQ(path_filename("C:\\dir/x.ini"), "x.ini");
  EXPECT_EQ(path_join("C:\\dir\\", "x"), "C:\\dir\\x");
  EXPECT_EQ(path_join("C:/dir", "x"), "C:/dir/x");
  EXPECT_FALSE(videos_directory().empty());
  EXPECT_TRUE(directory_exists(runtime_directory()));
}

// A system that refuses power requests (Wine does not implement them) keeps
// awake through the execution state; off releases whichever was used, and a
// second on after off works again.
TEST(Win32KeepAwake, FallsBackToTheExecutionStateAndReleases) {
  const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  for (int round = 0; round < 2; ++round) {
    const KeepAwakeMode on = keep_system_awake(true);
    EXPECT_NE(on, KeepAwakeMode::kNone);
    if (wine) {
      EXPECT_EQ(on, KeepAwakeMode::kExecutionState);
      // The state holds until released: the next call reports it back.
      EXPECT_EQ(SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) & ES_SYSTEM_REQUIRED,
                static_cast<EXECUTION_STATE>(ES_SYSTEM_REQUIRED));
    }
    EXPECT_EQ(keep_system_awake(false), KeepAwakeMode::kNone);
  }
}

// The event is a kernel object: a system service signalling its handle
// wakes the waiter like set(), and the signal is consumed by one wait.
TEST(Win32Event, KernelHandleWakesTheWaiter) {
  AutoResetEvent event;
  ASSERT_NE(event.native_handle(), nullptr);
  EXPECT_FALSE(event.wait(0));
  SetEvent(static_cast<HANDLE>(event.native_handle()));
  EXPECT_TRUE(event.wait(1000));
  EXPECT_FALSE(event.wait(0));
  std::thread t([&event] { event.set(); });
  EXPECT_TRUE(event.wait(5000));
  t.join();
}
}  // namespace
