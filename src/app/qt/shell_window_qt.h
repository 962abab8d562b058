#pragma once
// The main window's visible forms on one frameless, top-level Qt window:
// the region overlay (opaque, takes the input), the countdown (see-through
// to the input, never activated) and the region frame (a thin outline whose
// inside is cut out of the window). Input is handed to the main window's
// dispatcher as the window messages it expects.
#include <QWidget>

#include "app/shell_window.h"

class ShellWindowQt final : public QWidget, public ShellWindow {
 public:
  ShellWindowQt();
  void show_overlay(const Rect& screen) override;
  void show_countdown(const Rect& screen) override;
  void show_region_frame(const Rect& screen) override;
  void hide() override;
  void invalidate() override;
  void set_cursor(ShellCursor cursor) override;
  void set_mouse_capture(bool on) override;
  bool cursor_position(int32_t* x, int32_t* y) override;

 protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  enum class Form { kHidden, kOverlay, kCountdown, kFrame };
  void show_as(Form form, const Rect& screen);
  void application_state_changed(Qt::ApplicationState state);
  // The overlay's pointer and keyboard grabs (X11), tried `attempts` times.
  void take_input(int attempts);
  void release_input();
  // Device pixels per Qt coordinate unit. The core works in screen pixels
  // (capture, selection, fonts); Qt positions scaled windows in units.
  qreal ratio() const;
  QPoint to_pixels(const QPointF& p) const;
  Form form_ = Form::kHidden;
  Rect pixels_;       // the rectangle the core paints, in screen pixels
  QPoint origin_;     // where the core's (0, 0) lies in the window, in device pixels
  bool grabbing_ = false;
  bool input_grabbed_ = false;  // the overlay holds pointer and keyboard
};
