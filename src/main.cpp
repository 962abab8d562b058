// Process entry. Start-up, the message loop and shutdown live in app/.
#include "app/app_state.h"

int main(int argc, char** argv) {
  (void)argc;
  (void)argv;
  return g_app.exit_code;
}
