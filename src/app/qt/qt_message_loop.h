#pragma once
// The main window's loop on Qt's event loop: posted messages are custom
// events on one object, timers are QObject timers keyed by the window's ids.
#include <QObject>
#include <map>

#include "app/main_window.h"

class QtMessageLoop final : public QObject, public MessageLoop {
 public:
  using Dispatcher = intptr_t (*)(uint32_t msg, uintptr_t wparam, intptr_t lparam);
  explicit QtMessageLoop(Dispatcher dispatch = main_window_proc);
  ~QtMessageLoop() override;
  void post(uint32_t msg, uintptr_t wparam, intptr_t lparam) override;
  void set_timer(uintptr_t id, uint32_t ms) override;
  void kill_timer(uintptr_t id) override;
  void quit() override;
  void run() override;

 protected:
  bool event(QEvent* e) override;
  void timerEvent(QTimerEvent* e) override;

 private:
  Dispatcher dispatch_;
  std::map<uintptr_t, int> timers_;  // window timer id -> Qt timer id
  bool quit_seen_ = false;  // the loop was told to end, perhaps while nested
};
