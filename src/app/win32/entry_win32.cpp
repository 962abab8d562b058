// Process entry of the Windows build: the command line as the system splits
// it, then the same start-up, message loop and shutdown as everywhere.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/startup.h"
#include "platform/win32/wide.h"

// Asks NVIDIA Optimus drivers to run the process on the discrete GPU.
extern "C" __declspec(dllexport) const DWORD NvOptimusEnablement = 1;

namespace {
// The system's own splitting; an empty vector when it fails, which means
// interactive mode.
std::vector<std::string> command_line_arguments() {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  if (!argv) return args;
  for (int i = 0; i < count; ++i) args.push_back(to_utf8(argv[i]));
  LocalFree(argv);
  return args;
}
}  // namespace

int main() {
  int code = app_main(command_line_arguments());
  // No static destructors and no exit handlers: threads deliberately left
  // running (an abandoned encoder) cannot hold the exit up, and the handler
  // for a library's own exit must not run on a normal end.
  std::fflush(nullptr);
  std::_Exit(code);
}
