#include "app/qt/qt_message_loop.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <QTimerEvent>

namespace {
const QEvent::Type kPostedType = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kQuitType = static_cast<QEvent::Type>(QEvent::registerEventType());

struct PostedMessage final : QEvent {
  PostedMessage(uint32_t m, uintptr_t w, intptr_t l) : QEvent(kPostedType), msg(m), wparam(w), lparam(l) {}
  uint32_t msg;
  uintptr_t wparam;
  intptr_t lparam;
};
}  // namespace

QtMessageLoop::QtMessageLoop(Dispatcher dispatch) : dispatch_(dispatch) {}
QtMessageLoop::~QtMessageLoop() = default;

void QtMessageLoop::post(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  QCoreApplication::postEvent(this, new PostedMessage(msg, wparam, lparam));
}

void QtMessageLoop::set_timer(uintptr_t id, uint32_t ms) {
  if (QThread::currentThread() != thread()) return;  // timers belong to the main thread
  kill_timer(id);
  int qt_id = startTimer(static_cast<int>(ms > 0x7FFFFFFFu ? 0x7FFFFFFFu : ms), Qt::PreciseTimer);
  if (qt_id != 0) timers_[id] = qt_id;
}

void QtMessageLoop::kill_timer(uintptr_t id) {
  if (QThread::currentThread() != thread()) return;
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  killTimer(it->second);
  timers_.erase(it);
}

void QtMessageLoop::quit() { QCoreApplication::postEvent(this, new QEvent(kQuitType)); }

void QtMessageLoop::run() {
  // A quit handled by a nested loop (a message box shown during start-up)
  // still ends this one, as a quit message left in the queue would.
  if (!quit_seen_) QCoreApplication::exec();
}

bool QtMessageLoop::event(QEvent* e) {
  if (e->type() == kPostedType) {
    auto* m = static_cast<PostedMessage*>(e);
    dispatch_(m->msg, m->wparam, m->lparam);
    return true;
  }
  if (e->type() == kQuitType) {
    quit_seen_ = true;
    QCoreApplication::exit(0);
    return true;
  }
  return QObject::event(e);
}

void QtMessageLoop::timerEvent(QTimerEvent* e) {
  for (const auto& [id, qt_id] : timers_) {
    if (qt_id == e->timerId()) {
      dispatch_(WM_TIMER, id, 0);
      return;
    }
  }
}
