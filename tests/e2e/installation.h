#pragma once
// One command-line run's private copy of the executable (FV_FRELVANTA_EXE,
// defined by the test's build), its INI beside it and its output folder.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "e2e/e2e_support.h"

struct Installation {
  std::string dir, exe, videos;

  explicit Installation(const char* tag, const std::string& extra_ini = "", bool diagnostics = true) {
    dir = make_temp_dir(tag);
    exe = dir + "/frelvanta";
    videos = dir + "/videos";
    mkdir(videos.c_str(), 0755);
    copy_file(FV_FRELVANTA_EXE, exe, true);
    write_text(dir + "/frelvanta.ini", "[frelvanta]\r\nHardwareEncoder=0\r\nOutputFolder=" + videos +
                                           "\r\nWriteDiagnostics=" + (diagnostics ? "1" : "0") + "\r\nFragmentedOutput=1\r\n"
                                           "VideoCodec=H264\r\n" + extra_ini);
  }

  RunResult record(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                   double timeout_s = 60) const {
    std::vector<std::string> argv{exe};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv, env, timeout_s);
  }
  std::string ini() const { return read_text(dir + "/frelvanta.ini"); }
};

inline std::string describe(const RunResult& r) {
  return "exit " + std::to_string(r.exit_code) + " after " + std::to_string(r.seconds) + " s; output:\n" + r.output;
}
