// Process entry. Start-up, the message loop and shutdown live in app/.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/startup.h"

// Asks NVIDIA Optimus drivers to run the process on the discrete GPU.
extern "C" __attribute__((visibility("default"))) const unsigned NvOptimusEnablement = 1;

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  int code = app_main(args);
  // Like the original platform's process exit: no static destructors, so
  // threads that were deliberately left running (an abandoned encoder)
  // cannot hold the exit up.
  std::fflush(nullptr);
  std::_Exit(code);
}
