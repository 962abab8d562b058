#pragma once
// Notices through the desktop's notification service
// (org.freedesktop.Notifications). Preferred to the tray's own balloons
// wherever the service exists: its notices follow the user's do-not-disturb
// setting, stay in the notification history, and need no tray at all.
#include <QObject>
#include <QSet>
#include <functional>
#include <string>

class DesktopNotifications final : public QObject {
  Q_OBJECT
 public:
  // `on_click` runs when the user clicks a notice shown as clickable.
  explicit DesktopNotifications(std::function<void()> on_click);
  // Shows a notice with the service's urgency (0 low, 1 normal, 2
  // critical); `persistent` keeps it until the user closes it. False when there is no session bus or no notification
  // service on it; the caller then shows it another way.
  bool show(const std::string& text, const std::string& caption, unsigned char urgency, bool clickable,
            bool persistent = false);

 private slots:
  void on_action_invoked(uint id, const QString& action);
  void on_closed(uint id, uint reason);

 private:
  std::function<void()> on_click_;
  QSet<uint> clickable_;  // shown with a click action and not closed yet
  bool listening_ = false;
};

// The urgency of a balloon kind (NOTIFY_INFO, NOTIFY_WARNING, NOTIFY_ERROR).
unsigned char notification_urgency(int kind);
