#include "app/qt/desktop_notifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include "core/ui_service.h"

namespace {
constexpr int kCallTimeoutMs = 2000;
const char kService[] = "org.freedesktop.Notifications";
const char kPath[] = "/org/freedesktop/Notifications";
const char kInterface[] = "org.freedesktop.Notifications";
}  // namespace

unsigned char notification_urgency(int kind) {
  switch (kind) {
    case NOTIFY_ERROR:
      return 2;  // critical
    default:
      // Information too: every notice answers something the user just did
      // (a start refused, a second start), and a low-urgency one only goes
      // to the history on some desktops, which looks like nothing happened.
      return 1;  // normal
  }
}

DesktopNotifications::DesktopNotifications(std::function<void()> on_click) : on_click_(std::move(on_click)) {}

bool DesktopNotifications::show(const std::string& text, const std::string& caption, unsigned char urgency,
                                bool clickable, bool persistent) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  if (clickable && !listening_) {
    // Subscribed before the first notice, so no click can come too early.
    listening_ = bus.connect(kService, kPath, kInterface, "ActionInvoked", this,
                             SLOT(on_action_invoked(uint, QString)));
    bus.connect(kService, kPath, kInterface, "NotificationClosed", this, SLOT(on_closed(uint, uint)));
  }
  QVariantMap hints;
  hints.insert(QStringLiteral("urgency"), QVariant::fromValue(urgency));
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("org.frelvanta.Frelvanta"));
  // "default" is the action of a click on the notice itself; the label is
  // shown only by services that list actions as buttons.
  const QStringList actions =
      clickable ? QStringList{QStringLiteral("default"), QStringLiteral("Open folder")} : QStringList{};
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
  call << QStringLiteral("Frelvanta") << 0u << QString() << QString::fromStdString(caption)
       << QString::fromStdString(text) << actions << hints
       << (persistent ? 0 : -1);  // -1: the service's own time
  const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage) return false;
  if (clickable && !reply.arguments().isEmpty()) clickable_.insert(reply.arguments().first().toUInt());
  return true;
}

void DesktopNotifications::on_action_invoked(uint id, const QString& action) {
  if (action != QLatin1String("default") || !clickable_.contains(id)) return;
  if (on_click_) on_click_();
}

void DesktopNotifications::on_closed(uint id, uint) { clickable_.remove(id); }
