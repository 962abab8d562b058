#pragma once
// A private folder for one test (or one suite), removed with everything in
// it afterwards, and whole-file reads and writes for the files in it.
// FV_KEEP_TEST_FILES=1 keeps the folders, for looking at a failure.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

class TempDir {
 public:
  // The folder is made under $TMPDIR (or /tmp) as fv-<tag>-XXXXXX.
  explicit TempDir(const std::string& tag = "test") {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/fv-" + tag + "-XXXXXX";
    path_ = mkdtemp(templ.data()) ? templ : std::string();
  }
  ~TempDir() {
    if (path_.empty() || std::getenv("FV_KEEP_TEST_FILES")) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  std::string operator/(const std::string& name) const { return file(name); }
  // Leaves the folder in place (a failed run's files, for a look).
  void keep() { path_.clear(); }

 private:
  std::string path_;
};

inline std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline bool write_text(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

// Whether anything (also a dangling link) is at `path`.
inline bool exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found && !ec;
}
