// The single-instance endpoint in a runtime folder other users may reach.
#include "app/single_instance.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/paths.h"
#include "support/temp_dir.h"

namespace {
class RuntimeEnv {
 public:
  explicit RuntimeEnv(const std::string& value) {
    if (const char* v = getenv("XDG_RUNTIME_DIR")) saved_ = v, had_ = true;
    setenv("XDG_RUNTIME_DIR", value.c_str(), 1);
  }
  ~RuntimeEnv() {
    if (had_) setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
    else unsetenv("XDG_RUNTIME_DIR");
  }

 private:
  std::string saved_;
  bool had_ = false;
};
}  // namespace

// The session's runtime folder is used only when it is the user's own and
// closed to others; a shared one (as /tmp is) gives way to a private folder.
TEST(SingleInstance, SharedRuntimeFolderIsRefused) {
  TempDir root;
  const std::string shared = root.file("shared"), own = root.file("own");
  ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  ASSERT_EQ(mkdir(own.c_str(), 0700), 0);
  {
    RuntimeEnv env(shared);
    const std::string chosen = runtime_directory();
    EXPECT_NE(chosen, shared);
    struct stat st {};
    ASSERT_EQ(lstat(chosen.c_str(), &st), 0) << chosen;
    EXPECT_EQ(st.st_uid, getuid());
    EXPECT_EQ(st.st_mode & 0077, 0u);
  }
  {
    RuntimeEnv env(own);
    EXPECT_EQ(runtime_directory(), own);
  }
}

// Another holder of the lock whose endpoint takes nothing: the start is not
// counted as handed over, since nobody was told.
TEST(SingleInstance, HandOverCountsOnlyWhenSent) {
  TempDir root;
  const std::string lock = root.file("frelvanta.lock");
  int fd = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(claim_single_instance(root.path()), InstanceClaim::UNAVAILABLE);
  close(fd);
}
