#include "app/qt/shell_window_qt.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <cmath>

#include "app/countdown.h"
#include "app/main_window.h"
#include "app/qt/desktop_compositing.h"
#include "core/message_loop.h"
#include "app/qt/qt_canvas.h"
#include "app/toolkit.h"

namespace {
constexpr double kCountdownOpacity = 216.0 / 255.0;
// The visible band of the region frame: 2 pixels of yellow, 1 of black.
constexpr int kFrameBand = 3;
// Grabs for the overlay: tried for up to a second.
constexpr int kGrabAttempts = 50;
constexpr int kGrabRetryMs = 20;
// Wayland: how long the overlay may be without the focus before that counts.
constexpr int kFocusSettleMs = 300;

Qt::CursorShape cursor_shape(ShellCursor c) {
  switch (c) {
    case ShellCursor::kCross: return Qt::CrossCursor;
    case ShellCursor::kSizeNWSE: return Qt::SizeFDiagCursor;
    case ShellCursor::kSizeNS: return Qt::SizeVerCursor;
    case ShellCursor::kSizeNESW: return Qt::SizeBDiagCursor;
    case ShellCursor::kSizeWE: return Qt::SizeHorCursor;
    case ShellCursor::kSizeAll: return Qt::SizeAllCursor;
    case ShellCursor::kHand: return Qt::PointingHandCursor;
    case ShellCursor::kArrow: break;
  }
  return Qt::ArrowCursor;
}

void dispatch(uint32_t msg, uintptr_t wparam, intptr_t lparam) { main_window_proc(msg, wparam, lparam); }
}  // namespace

ShellWindowQt::ShellWindowQt() : QWidget(nullptr) {
  setWindowTitle(QStringLiteral("Frelvanta"));
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
          [this](Qt::ApplicationState s) { application_state_changed(s); });
}

void ShellWindowQt::show_as(Form form, const Rect& screen) {
  set_mouse_capture(false);
  release_input();
  QWidget::hide();
  Qt::WindowFlags flags = Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
  if (form != Form::kOverlay) {
    flags |= Qt::Tool | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus;
  }
  // On X11 a window manager keeps its windows below a full-screen window
  // that bypasses it (a game, a player). The overlay bypasses it too, so it
  // is raised above everything, and takes pointer and keyboard with grabs.
  // So does the countdown, which takes no input: it lands exactly where it
  // is placed (a window manager would place the panel at its own choice).
  const bool bypass = (form == Form::kOverlay || form == Form::kCountdown) &&
                      QGuiApplication::platformName() == QLatin1String("xcb");
  if (bypass) flags |= Qt::X11BypassWindowManagerHint;
  setWindowFlags(flags);
  setAttribute(Qt::WA_ShowWithoutActivating, form != Form::kOverlay);
  setWindowOpacity(form == Form::kCountdown ? kCountdownOpacity : 1.0);
  // A scaled desktop places windows in whole units of several pixels: the
  // window covers at least the rectangle, and the core's pictures are
  // painted at their exact pixels inside it.
  pixels_ = screen;
  const qreal r = ratio();
  auto down = [r](int32_t v) { return static_cast<int>(std::floor(v / r)); };
  auto up = [r](int32_t v) { return static_cast<int>(std::ceil(v / r)); };
  const int left = down(screen.left), top = down(screen.top);
  const int w = up(screen.right) - left, h = up(screen.bottom) - top;
  origin_ = QPoint(static_cast<int>(std::lround(screen.left - left * r)),
                   static_cast<int>(std::lround(screen.top - top * r)));
  // A Wayland client cannot place its windows: the overlay and the
  // countdown cover their output as full-screen windows (the output the
  // portal shares), and the region frame, which would be placed by the
  // compositor among the windows and recorded, is not shown at all.
  const bool wayland = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
  if (wayland && form == Form::kFrame) {
    form_ = Form::kHidden;
    return;
  }
  if (!wayland) setGeometry(left, top, w, h);
  if (form == Form::kFrame) {
    // Only the outline belongs to the window. The hole covers at least the
    // recorded area, which shows through it, so not one pixel of the window
    // can be recorded.
    QRegion outer(0, 0, w, h);
    const int hl = down(screen.left + kFrameBand) - left, ht = down(screen.top + kFrameBand) - top;
    const int hr = up(screen.right - kFrameBand) - left, hb = up(screen.bottom - kFrameBand) - top;
    setMask(outer.subtracted(QRegion(hl, ht, hr - hl, hb - ht)));
  } else {
    clearMask();
  }
  form_ = form;
  if (wayland) {
    showFullScreen();
  } else {
    show();
  }
  if (form == Form::kOverlay) {
    raise();
    activateWindow();
    setFocus(Qt::ActiveWindowFocusReason);
    if (bypass) take_input(kGrabAttempts);
  }
}

void ShellWindowQt::take_input(int attempts) {
  QWindow* w = windowHandle();
  if (form_ != Form::kOverlay || input_grabbed_ || !w) return;
  // The server refuses grabs on a window that is not on the screen yet (the
  // map is asynchronous) or while another client holds them: retried.
  if (w->setKeyboardGrabEnabled(true)) {
    if (w->setMouseGrabEnabled(true)) {
      input_grabbed_ = true;
      return;
    }
    w->setKeyboardGrabEnabled(false);
  }
  if (attempts > 1) QTimer::singleShot(kGrabRetryMs, this, [this, attempts] { take_input(attempts - 1); });
}

void ShellWindowQt::release_input() {
  if (!input_grabbed_) return;
  input_grabbed_ = false;
  if (QWindow* w = windowHandle()) {
    w->setMouseGrabEnabled(false);
    w->setKeyboardGrabEnabled(false);
  }
}

void ShellWindowQt::show_overlay(const Rect& screen) { show_as(Form::kOverlay, screen); }
void ShellWindowQt::show_countdown(const Rect& screen) {
  // Without a compositor the window cannot be translucent and would black
  // out the whole monitor: a centred panel instead.
  show_as(Form::kCountdown, desktop_composites() ? screen : countdown_panel(screen));
}
void ShellWindowQt::show_region_frame(const Rect& screen) { show_as(Form::kFrame, screen); }

void ShellWindowQt::hide() {
  set_mouse_capture(false);
  release_input();
  const bool was_shown = isVisible();
  form_ = Form::kHidden;
  QWidget::hide();
  // A capture may start right after this on another connection to the
  // display: the window must be gone from the screen by then, or its last
  // picture could be recorded.
  if (was_shown) QGuiApplication::sync();
}

void ShellWindowQt::invalidate() { update(); }

void ShellWindowQt::set_cursor(ShellCursor cursor) { setCursor(cursor_shape(cursor)); }

void ShellWindowQt::set_mouse_capture(bool on) {
  if (input_grabbed_) {
    grabbing_ = false;  // the overlay's own grab already brings every mouse event
    return;
  }
  if (on && !grabbing_ && isVisible()) {
    grabMouse();
    grabbing_ = true;
  } else if (!on && grabbing_) {
    releaseMouse();
    grabbing_ = false;
  }
}

qreal ShellWindowQt::ratio() const {
  const QScreen* s = QGuiApplication::primaryScreen();
  const qreal r = s ? s->devicePixelRatio() : 1.0;
  return r > 0 ? r : 1.0;
}

QPoint ShellWindowQt::to_pixels(const QPointF& p) const {
  const qreal r = ratio();
  return QPoint(static_cast<int>(std::floor(p.x() * r)), static_cast<int>(std::floor(p.y() * r))) - origin_;
}

bool ShellWindowQt::cursor_position(int32_t* x, int32_t* y) {
  const QPoint p = to_pixels(QPointF(QCursor::pos() - mapToGlobal(QPoint(0, 0))));
  *x = p.x();
  *y = p.y();
  return true;
}

void ShellWindowQt::paintEvent(QPaintEvent* e) {
  QPainter painter(this);
  // Paint in screen pixels: one unit of the canvas is one device pixel.
  const qreal r = ratio();
  painter.scale(1 / r, 1 / r);
  painter.translate(origin_);
  QtCanvas canvas(&painter);
  const QRect a = e->rect();
  const Rect area{static_cast<int32_t>(std::floor(a.left() * r)) - origin_.x(),
                  static_cast<int32_t>(std::floor(a.top() * r)) - origin_.y(),
                  static_cast<int32_t>(std::ceil((a.left() + a.width()) * r)) - origin_.x(),
                  static_cast<int32_t>(std::ceil((a.top() + a.height()) * r)) - origin_.y()};
  main_window_paint(canvas, Rect{0, 0, pixels_.width(), pixels_.height()}, area);
}

void ShellWindowQt::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  const QPoint p = to_pixels(e->position());
  dispatch(WM_LBUTTONDOWN, MK_LBUTTON, mouse_lparam(p.x(), p.y()));
}

void ShellWindowQt::mouseMoveEvent(QMouseEvent* e) {
  const QPoint p = to_pixels(e->position());
  dispatch(WM_MOUSEMOVE, (e->buttons() & Qt::LeftButton) ? MK_LBUTTON : 0, mouse_lparam(p.x(), p.y()));
}

void ShellWindowQt::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  const QPoint p = to_pixels(e->position());
  dispatch(WM_LBUTTONUP, 0, mouse_lparam(p.x(), p.y()));
}

void ShellWindowQt::keyPressEvent(QKeyEvent* e) {
  // With the keyboard grabbed the window manager never sees its switch
  // keys: Alt+Tab is taken for the switch to another application it is.
  if (input_grabbed_ && (e->key() == Qt::Key_Tab || e->key() == Qt::Key_Backtab) &&
      (e->modifiers() & Qt::AltModifier)) {
    dispatch(WM_ACTIVATEAPP, 0, 0);
    return;
  }
  if (e->key() == Qt::Key_Escape) dispatch(WM_KEYDOWN, VK_ESCAPE, 0);
  if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) dispatch(WM_KEYDOWN, VK_RETURN, 0);
}

void ShellWindowQt::closeEvent(QCloseEvent* e) {
  // The window manager's close is the main window's WM_CLOSE; the window
  // itself stays and the dispatcher decides (an open overlay is cancelled).
  e->ignore();
  dispatch(WM_CLOSE, 0, 0);
}

void ShellWindowQt::application_state_changed(Qt::ApplicationState state) {
  if (form_ != Form::kOverlay || state == Qt::ApplicationActive) return;
  // Another application took the focus. A Wayland compositor takes the
  // keyboard focus away and gives it back at once when a keyboard joins
  // the seat (an on-screen or virtual keyboard): only a loss that lasts
  // counts there.
  if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
    dispatch(WM_ACTIVATEAPP, 0, 0);
    return;
  }
  QTimer::singleShot(kFocusSettleMs, this, [this] {
    if (form_ == Form::kOverlay && QGuiApplication::applicationState() != Qt::ApplicationActive)
      dispatch(WM_ACTIVATEAPP, 0, 0);
  });
}

void toolkit_install_shell_window() {
  if (g_shell_window != nullptr || qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return;
  g_shell_window = new ShellWindowQt;  // lives until the process ends
}
