#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/files.h"
#include "platform/paths.h"

namespace {
std::string make_temp_dir() {
  char templ[] = "/tmp/fv-files-XXXXXX";
  return mkdtemp(templ);
}
}  // namespace

TEST(Files, MoveReplaceAndRefuse) {
  std::string dir = make_temp_dir();
  std::string a = path_join(dir, "a"), b = path_join(dir, "b");
  ASSERT_TRUE(append_file(a, "one", true));
  ASSERT_TRUE(append_file(b, "two", true));
  EXPECT_FALSE(move_file(a, b, false));  // target exists
  EXPECT_TRUE(file_exists(a));
  EXPECT_TRUE(move_file(a, b, true));
  std::string content;
  ASSERT_TRUE(read_file_prefix(b, 100, &content));
  EXPECT_EQ(content, "one");
  EXPECT_FALSE(file_exists(a));
  EXPECT_TRUE(move_file(b, a, false));
}

TEST(Files, DirectoriesSpaceLocksAndProbe) {
  std::string dir = make_temp_dir();
  std::string deep = path_join(dir, "x/y/z");
  EXPECT_TRUE(create_directories(deep));
  EXPECT_TRUE(directory_exists(deep));
  uint64_t free_bytes = 0;
  EXPECT_TRUE(free_space_bytes(deep, &free_bytes));
  EXPECT_GT(free_bytes, 0u);

  std::string probe, err;
  ASSERT_TRUE(create_unique_file(deep, "probe", &probe, &err));
  EXPECT_TRUE(file_exists(probe));
  EXPECT_FALSE(file_is_locked(probe));
  {
    FileLock lock;
    ASSERT_TRUE(lock.try_lock(probe));
    EXPECT_TRUE(file_is_locked(probe));
    FileLock second;
    EXPECT_FALSE(second.try_lock(probe));
  }
  EXPECT_FALSE(file_is_locked(probe));
  int64_t t = 0;
  EXPECT_TRUE(last_write_time(probe, &t));
  EXPECT_LE(t, wall_clock_100ns());

  EXPECT_FALSE(create_unique_file(path_join(dir, "missing"), "p", &probe, &err));
  EXPECT_FALSE(err.empty());
}
