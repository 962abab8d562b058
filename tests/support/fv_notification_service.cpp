// A stand-in for the desktop's notification service and file manager, for
// tests on a private session bus. Every call that reaches it is one line on
// standard output:
//   notify urgency=<n> actions=<a,b,...> summary=<text> body=<text>
//   show-items <uri>
// With --click, each notice that offers a "default" action is clicked a
// moment after it is shown (ActionInvoked, then NotificationClosed).
// With --watcher it is also the tray host's StatusNotifierWatcher (below);
// with --only-watcher it is only that.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <cstdio>

namespace {
const char kPath[] = "/org/freedesktop/Notifications";
const char kInterface[] = "org.freedesktop.Notifications";

void say(const QString& line) {
  QString flat = line;
  flat.replace('\n', '|');
  std::printf("%s\n", flat.toUtf8().constData());
  std::fflush(stdout);
}
}  // namespace

class Notifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
 public:
  explicit Notifications(bool click) : click_(click) {}

 public slots:
  uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
              const QStringList& actions, const QVariantMap& hints, int) {
    const uint id = ++last_id_;
    say(QStringLiteral("notify urgency=%1 actions=%2 summary=%3 body=%4")
            .arg(hints.contains("urgency") ? QString::number(hints.value("urgency").toUInt()) : QStringLiteral("none"),
                 actions.join(','), summary, body));
    if (click_ && actions.contains(QStringLiteral("default"))) {
      QTimer::singleShot(300, this, [id] {
        QDBusConnection bus = QDBusConnection::sessionBus();
        QDBusMessage invoked = QDBusMessage::createSignal(kPath, kInterface, "ActionInvoked");
        invoked << id << QStringLiteral("default");
        bus.send(invoked);
        QDBusMessage closed = QDBusMessage::createSignal(kPath, kInterface, "NotificationClosed");
        closed << id << 2u;
        bus.send(closed);
      });
    }
    return id;
  }
  QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }
  void CloseNotification(uint) {}
  QString GetServerInformation(QString& vendor, QString& version, QString& protocol_version) {
    vendor = QStringLiteral("test");
    version = QStringLiteral("1");
    protocol_version = QStringLiteral("1.2");
    return QStringLiteral("fv_notification_service");
  }

 private:
  bool click_;
  uint last_id_ = 0;
};

class FileManager : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
 public slots:
  void ShowItems(const QStringList& uris, const QString&) { say(QStringLiteral("show-items ") + uris.join(' ')); }
};

// A StatusNotifierItem watcher with a host (--watcher): logs the items that
// register ("sni-item <service>") and, with --activate, activates each one
// (a left click on the icon) a moment later.
class Watcher : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
  Q_PROPERTY(bool IsStatusNotifierHostRegistered READ host_registered)
  Q_PROPERTY(int ProtocolVersion READ protocol_version)
  Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
 public:
  explicit Watcher(bool activate) : activate_(activate) {}
  bool host_registered() const { return true; }
  int protocol_version() const { return 0; }
  QStringList items() const { return items_; }

 public slots:
  void RegisterStatusNotifierItem(const QString& item) {
    QString service = item, path = QStringLiteral("/StatusNotifierItem");
    if (item.startsWith('/')) {
      service = message().service();
      path = item;
    }
    items_ << service;
    say(QStringLiteral("sni-item ") + service);
    if (!activate_) return;
    QTimer::singleShot(1000, this, [service, path] {
      QDBusMessage call =
          QDBusMessage::createMethodCall(service, path, QStringLiteral("org.kde.StatusNotifierItem"), "Activate");
      call << 0 << 0;
      QDBusConnection::sessionBus().send(call);
      say(QStringLiteral("activated ") + service);
    });
  }
  void RegisterStatusNotifierHost(const QString&) {}

 private:
  bool activate_;
  QStringList items_;
};

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const bool click = app.arguments().contains(QStringLiteral("--click"));
  QDBusConnection bus = QDBusConnection::sessionBus();
  Notifications notifications(click);
  FileManager file_manager;
  const auto exported = QDBusConnection::ExportAllSlots;
  // --only-watcher: a tray host that comes and goes beside the other services.
  const bool only_watcher = app.arguments().contains(QStringLiteral("--only-watcher"));
  if (!only_watcher && (!bus.registerObject(kPath, &notifications, exported) ||
      !bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &file_manager, exported) ||
      !bus.registerService(QStringLiteral("org.freedesktop.Notifications")) ||
      !bus.registerService(QStringLiteral("org.freedesktop.FileManager1")))) {
    std::fprintf(stderr, "fv_notification_service: cannot register on the session bus\n");
    return 1;
  }
  Watcher watcher(app.arguments().contains(QStringLiteral("--activate")));
  if ((only_watcher || app.arguments().contains(QStringLiteral("--watcher"))) &&
      (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) ||
       !bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")))) {
    std::fprintf(stderr, "fv_notification_service: cannot register the watcher\n");
    return 1;
  }
  say(QStringLiteral("ready"));
  return app.exec();
}

#include "fv_notification_service.moc"
