// Loading the settings from a large INI file. Start-up reads the file once
// for all keys; the target is well under a second for 16 MB.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/app_state.h"
#include "settings/config_store.h"

namespace {

// A file of `bytes` bytes: our section first, then sections of other keys.
std::string make_ini(size_t bytes) {
  std::string text = "[frelvanta]\r\nVideoBitrate=4321\r\nVideoCodec=H265\r\n";
  const std::string filler = "[filler]\r\nSomeKeyThatIsNotOurs=some value of a fair length\r\n";
  while (text.size() + filler.size() < bytes) text += filler;
  text.resize(bytes, ';');
  return text;
}

void BM_ConfigLoad(benchmark::State& state) {
  std::string templ = (std::filesystem::temp_directory_path() / "fv-bench-ini-XXXXXX").string();
  const int fd = mkstemp(templ.data());
  if (fd < 0) {
    state.SkipWithError("no temporary file");
    return;
  }
  close(fd);
  const std::string path = templ;
  std::ofstream(path, std::ios::binary) << make_ini(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    Config c;
    benchmark::DoNotOptimize(config_load(&c, path));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
  unlink(path.c_str());
}
BENCHMARK(BM_ConfigLoad)->Arg(4096)->Arg(16'000'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
