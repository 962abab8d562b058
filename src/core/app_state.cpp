#include "core/app_state.h"

#include <new>

App g_app;

void app_reset() {
  g_app.~App();
  new (&g_app) App();
}
