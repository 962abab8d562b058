#include "core/message_loop.h"

#include "core/app_state.h"

void post_main_window_message(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  if (MessageLoop* loop = g_app.main_window) loop->post(msg, wparam, lparam);
}

void post_stop_request() { post_main_window_message(MSG_STOP_REQUEST, 0, 0); }
