#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

TEST(Files, MoveReplaceAndRefuse) {
  const TempDir scratch("files");
  const std::string& dir = scratch.path();
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
  const TempDir scratch("files");
  const std::string& dir = scratch.path();
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

namespace {

std::string slurp(const std::string& path) {
  std::string s;
  read_file_prefix(path, 1 << 20, &s);
  return s;
}

// What another user of a shared folder can leave at a name the recorder is
// about to write: a link to a file of the user's, a dangling link (whose
// target would be created), a hard link, a pipe (which blocks an open).
enum class Plant { kLink, kDanglingLink, kHardLink, kPipe };

struct Planted {
  std::string name, victim;  // victim: the file a write through the name would reach
};

Planted plant(const std::string& dir, const std::string& name, Plant kind) {
  Planted p{path_join(dir, name), path_join(dir, "victim-" + name)};
  switch (kind) {
    case Plant::kLink:
      EXPECT_TRUE(append_file(p.victim, "precious", true));
      EXPECT_EQ(symlink(p.victim.c_str(), p.name.c_str()), 0);
      break;
    case Plant::kDanglingLink:
      EXPECT_EQ(symlink(p.victim.c_str(), p.name.c_str()), 0);
      break;
    case Plant::kHardLink:
      EXPECT_TRUE(append_file(p.victim, "precious", true));
      EXPECT_EQ(link(p.victim.c_str(), p.name.c_str()), 0);
      break;
    case Plant::kPipe:
      EXPECT_EQ(mkfifo(p.name.c_str(), 0666), 0);
      break;
  }
  return p;
}

void expect_victim_untouched(const Planted& p, Plant kind) {
  if (kind == Plant::kDanglingLink) {
    struct stat st {};
    EXPECT_NE(lstat(p.victim.c_str(), &st), 0) << "created through a dangling link: " << p.victim;
  } else if (kind != Plant::kPipe) {
    EXPECT_EQ(slurp(p.victim), "precious") << p.victim;
  }
}
}  // namespace

// Appending (trace files, the recovery log) and exclusive creation (the
// recording) refuse whatever was planted; "create always" (the report)
// replaces the name itself. None of them blocks on a pipe: the test would
// hang here if one did.
TEST(Files, PlantedNamesAreNeverWrittenThrough) {
  TempDir scoped("files");
  const std::string& dir = scoped.path();
  for (Plant kind : {Plant::kLink, Plant::kDanglingLink, Plant::kHardLink, Plant::kPipe}) {
    SCOPED_TRACE(static_cast<int>(kind));
    const std::string tag = std::to_string(static_cast<int>(kind));

    Planted a = plant(dir, "append" + tag, kind);
    EXPECT_FALSE(append_file(a.name, "line\r\n", true));
    expect_victim_untouched(a, kind);

    Planted c = plant(dir, "create" + tag, kind);
    FileHandle f;
    int error = 0;
    EXPECT_FALSE(create_new_file(c.name, &f, &error));
    EXPECT_EQ(error, EEXIST);
    expect_victim_untouched(c, kind);

    Planted r = plant(dir, "report" + tag, kind);
    EXPECT_TRUE(write_new_file(r.name, "report"));
    expect_victim_untouched(r, kind);
    struct stat st {};
    ASSERT_EQ(lstat(r.name.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_nlink, 1u);
    EXPECT_EQ(slurp(r.name), "report");

    Planted m = plant(dir, "move" + tag, kind);
    std::string from = path_join(dir, "from" + tag);
    ASSERT_TRUE(append_file(from, "moved", true));
    EXPECT_FALSE(move_file(from, m.name, false));
    EXPECT_EQ(slurp(from), "moved");
    expect_victim_untouched(m, kind);
  }
  // An ordinary file is appended to, and gets its header only while empty.
  const std::string header = "H\r\n";
  std::string log = path_join(dir, "log.txt");
  ASSERT_TRUE(append_file(log, "1\r\n", true, &header));
  ASSERT_TRUE(append_file(log, "2\r\n", true, &header));
  EXPECT_EQ(slurp(log), "H\r\n1\r\n2\r\n");
}

// Inputs: only regular files are read, without blocking; the size limit is
// told apart from a missing file; a link is followed only when it is the
// user's own (one made by another user is refused, and a write replaces it).
TEST(Files, InputsAreRegularFilesWithinTheLimit) {
  TempDir scoped("files");
  const std::string& dir = scoped.path();
  std::string out;
  EXPECT_EQ(read_input_file(path_join(dir, "missing.ini"), 100, &out), ReadStatus::kMissing);
  std::string fifo = path_join(dir, "fifo.ini");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  EXPECT_EQ(read_input_file(fifo, 100, &out), ReadStatus::kNotRegular);
  EXPECT_EQ(read_input_file(dir, 100, &out), ReadStatus::kNotRegular);
  std::string big = path_join(dir, "big.ini");
  ASSERT_TRUE(append_file(big, std::string(101, 'x'), false));
  EXPECT_EQ(read_input_file(big, 100, &out), ReadStatus::kTooLarge);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(read_input_file(big, 101, &out), ReadStatus::kOk);
  EXPECT_EQ(out.size(), 101u);

  std::string real = path_join(dir, "real.ini");
  ASSERT_TRUE(append_file(real, "[s]\r\n", true));
  std::string own = path_join(dir, "own.ini");
  ASSERT_EQ(symlink(real.c_str(), own.c_str()), 0);
  EXPECT_EQ(read_input_file(own, 100, &out), ReadStatus::kOk);
  EXPECT_TRUE(replace_file_contents(own, "[t]\r\n"));
  EXPECT_EQ(slurp(real), "[t]\r\n");  // the user's own link keeps pointing at the saved file

  if (geteuid() == 0) {  // only root can give a link another owner
    std::string foreign = path_join(dir, "foreign.ini");
    ASSERT_EQ(symlink(real.c_str(), foreign.c_str()), 0);
    ASSERT_EQ(lchown(foreign.c_str(), 65534, 65534), 0);
    EXPECT_EQ(read_input_file(foreign, 100, &out), ReadStatus::kNotRegular);
    EXPECT_TRUE(replace_file_contents(foreign, "[u]\r\n"));
    EXPECT_EQ(slurp(real), "[t]\r\n");
    struct stat st {};
    ASSERT_EQ(lstat(foreign.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
  }
}
