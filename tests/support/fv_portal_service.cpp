// A stand-in for the desktop portal's GlobalShortcuts interface, for tests on
// a private session bus. Every call that reaches it is one line on standard
// output:
//   create-session <session handle>
//   bind <id> trigger=<preferred trigger or none> description=<text>
//   bound <count>
//   close-session <session handle>
//   activated <id>
// With --refuse the binding is answered as turned down by the user.
// A test presses a shortcut by calling Press(id) on /test
// (org.frelvanta.TestPortal): Activated, then Deactivated, for the session
// that bound last.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QTimer>
#include <QVariantMap>
#include <cstdio>

struct ShortcutEntry {
  QString id;
  QVariantMap properties;
};
Q_DECLARE_METATYPE(ShortcutEntry)

QDBusArgument& operator<<(QDBusArgument& arg, const ShortcutEntry& e) {
  arg.beginStructure();
  arg << e.id << e.properties;
  arg.endStructure();
  return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, ShortcutEntry& e) {
  arg.beginStructure();
  arg >> e.id >> e.properties;
  arg.endStructure();
  return arg;
}

namespace {
const char kPath[] = "/org/freedesktop/portal/desktop";
const char kInterface[] = "org.freedesktop.portal.GlobalShortcuts";

void say(const QString& line) {
  std::printf("%s\n", line.toUtf8().constData());
  std::fflush(stdout);
}

// The path the portal gives a request or session of `sender` with `token`.
QString handle_path(const char* kind, QString sender, const QString& token) {
  sender = sender.mid(1).replace('.', '_');
  return QStringLiteral("%1/%2/%3/%4").arg(kPath, kind, sender, token);
}

// A portal request answers later, with a signal on its own path.
void respond(const QString& request, uint code, const QVariantMap& results) {
  QTimer::singleShot(100, [request, code, results] {
    QDBusMessage response =
        QDBusMessage::createSignal(request, QStringLiteral("org.freedesktop.portal.Request"), "Response");
    response << code << results;
    QDBusConnection::sessionBus().send(response);
  });
}
}  // namespace

class Session : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Session")
 public:
  explicit Session(QString path) : path_(std::move(path)) {}
 public slots:
  void Close() {
    say(QStringLiteral("close-session ") + path_);
    QDBusConnection::sessionBus().unregisterObject(path_);
    deleteLater();
  }

 private:
  QString path_;
};

class Shortcuts : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
  Q_PROPERTY(uint version READ version)
 public:
  explicit Shortcuts(bool refuse) : refuse_(refuse) {}
  uint version() const { return 1; }
  QString last_session;

 public slots:
  QDBusObjectPath CreateSession(const QVariantMap& options) {
    const QString sender = message().service();
    const QString request = handle_path("request", sender, options.value("handle_token").toString());
    const QString session = handle_path("session", sender, options.value("session_handle_token").toString());
    QDBusConnection::sessionBus().registerObject(session, new Session(session), QDBusConnection::ExportAllSlots);
    say(QStringLiteral("create-session ") + session);
    // The handle travels as a string, as the real portal sends it.
    respond(request, 0, {{QStringLiteral("session_handle"), session}});
    return QDBusObjectPath(request);
  }

  QDBusObjectPath BindShortcuts(const QDBusObjectPath& session, const QList<ShortcutEntry>& shortcuts,
                                const QString&, const QVariantMap& options) {
    const QString request = handle_path("request", message().service(), options.value("handle_token").toString());
    for (const ShortcutEntry& e : shortcuts) {
      const QString trigger = e.properties.value("preferred_trigger").toString();
      say(QStringLiteral("bind %1 trigger=%2 description=%3")
              .arg(e.id, trigger.isEmpty() ? QStringLiteral("none") : trigger,
                   e.properties.value("description").toString()));
    }
    say(QStringLiteral("bound %1").arg(refuse_ ? 0 : shortcuts.size()));
    if (refuse_) {
      respond(request, 1, {});
    } else {
      last_session = session.path();
      respond(request, 0, {{QStringLiteral("shortcuts"), QVariant::fromValue(shortcuts)}});
    }
    return QDBusObjectPath(request);
  }

 private:
  bool refuse_;
};

class TestControl : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.frelvanta.TestPortal")
 public:
  explicit TestControl(Shortcuts* shortcuts) : shortcuts_(shortcuts) {}
 public slots:
  void Press(const QString& id) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const qulonglong now = static_cast<qulonglong>(QDateTime::currentMSecsSinceEpoch());
    for (const char* name : {"Activated", "Deactivated"}) {
      QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, name);
      signal << QVariant::fromValue(QDBusObjectPath(shortcuts_->last_session)) << id << now << QVariantMap();
      bus.send(signal);
    }
    say(QStringLiteral("activated ") + id);
  }

 private:
  Shortcuts* shortcuts_;
};

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  qDBusRegisterMetaType<ShortcutEntry>();
  qDBusRegisterMetaType<QList<ShortcutEntry>>();
  QDBusConnection bus = QDBusConnection::sessionBus();
  Shortcuts shortcuts(app.arguments().contains(QStringLiteral("--refuse")));
  TestControl control(&shortcuts);
  if (!bus.registerObject(kPath, &shortcuts, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) ||
      !bus.registerObject(QStringLiteral("/test"), &control, QDBusConnection::ExportAllSlots) ||
      !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"))) {
    std::fprintf(stderr, "fv_portal_service: cannot register on the session bus\n");
    return 1;
  }
  say(QStringLiteral("ready"));
  return app.exec();
}

#include "fv_portal_service.moc"
