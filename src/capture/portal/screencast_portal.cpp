#include "capture/portal/screencast_portal.h"

#include <unistd.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QEventLoop>
#include <QTimer>
#include <atomic>

namespace {
const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");
constexpr int kCallTimeoutMs = 10'000;
// The user may take a while in the portal's chooser.
constexpr int kChooseTimeoutMs = 300'000;

std::atomic<uint32_t> g_token_serial{0};

QString token(const char* what) {
  return QStringLiteral("frelvanta_%1_%2_%3")
      .arg(QString::fromLatin1(what))
      .arg(static_cast<qulonglong>(getpid()))
      .arg(g_token_serial.fetch_add(1));
}

QDBusMessage call(const QString& method, const QList<QVariant>& args, int timeout_ms = kCallTimeoutMs) {
  QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
  m.setArguments(args);
  return QDBusConnection::sessionBus().call(m, QDBus::Block, timeout_ms);
}

bool property(const char* name, uint32_t* value) {
  QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                  QStringLiteral("Get"));
  m.setArguments({kInterface, QString::fromLatin1(name)});
  QDBusMessage r = QDBusConnection::sessionBus().call(m, QDBus::Block, kCallTimeoutMs);
  if (r.type() != QDBusMessage::ReplyMessage || r.arguments().isEmpty()) return false;
  QVariant v = r.arguments().at(0).value<QDBusVariant>().variant();
  bool ok = false;
  *value = v.toUInt(&ok);
  return ok;
}

// The streams of Start's answer: a(ua{sv}); the first one is used.
bool first_stream(const QVariant& streams, PortalStream* out) {
  if (!streams.canConvert<QDBusArgument>()) return false;
  const QDBusArgument arg = streams.value<QDBusArgument>();
  bool found = false;
  arg.beginArray();
  while (!arg.atEnd()) {
    uint node = 0;
    QVariantMap props;
    arg.beginStructure();
    arg >> node >> props;
    arg.endStructure();
    if (found) continue;
    found = true;
    out->node = node;
    auto pair = [&props](const char* key, int32_t* a, int32_t* b) {
      QVariant v = props.value(QString::fromLatin1(key));
      if (!v.canConvert<QDBusArgument>()) return;
      const QDBusArgument p = v.value<QDBusArgument>();
      int first = 0, second = 0;
      p.beginStructure();
      p >> first >> second;
      p.endStructure();
      *a = first;
      *b = second;
    };
    pair("position", &out->x, &out->y);
    pair("size", &out->width, &out->height);
    out->source_type = props.value(QStringLiteral("source_type")).toUInt();
  }
  arg.endArray();
  return found;
}
}  // namespace

void PortalSignals::response_arrived(uint code, const QVariantMap& values) {
  answered = true;
  response = code;
  results = values;
  Q_EMIT done();
}

void PortalSignals::session_closed(const QVariantMap& details) {
  (void)details;
  if (on_closed) on_closed();
}

bool screencast_portal_probe(uint32_t* source_types, uint32_t* cursor_modes) {
  if (!QDBusConnection::sessionBus().isConnected()) return false;
  return property("AvailableSourceTypes", source_types) && property("AvailableCursorModes", cursor_modes);
}

ScreenCastSession::ScreenCastSession() {
  // Request objects are named after the caller's unique bus name.
  sender_ = QDBusConnection::sessionBus().baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
}

ScreenCastSession::~ScreenCastSession() { close(); }

bool ScreenCastSession::request(const char* method, const QList<QVariant>& args, const QString& handle_token,
                                int timeout_ms, std::string* error) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  // Listening starts before the call: the answer may come before its reply.
  const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender_, handle_token);
  signals_.answered = false;
  signals_.results.clear();
  bus.connect(kService, path, kRequest, QStringLiteral("Response"), &signals_,
              SLOT(response_arrived(uint, QVariantMap)));
  QDBusMessage reply = call(QString::fromLatin1(method), args);
  QString used = path;
  if (reply.type() != QDBusMessage::ReplyMessage) {
    bus.disconnect(kService, path, kRequest, QStringLiteral("Response"), &signals_,
                   SLOT(response_arrived(uint, QVariantMap)));
    *error = std::string(method) + " failed: " + reply.errorMessage().toStdString();
    return false;
  }
  // Older portals name the request object differently: follow theirs.
  const QString actual = reply.arguments().value(0).value<QDBusObjectPath>().path();
  if (!actual.isEmpty() && actual != path && !signals_.answered) {
    bus.disconnect(kService, path, kRequest, QStringLiteral("Response"), &signals_,
                   SLOT(response_arrived(uint, QVariantMap)));
    bus.connect(kService, actual, kRequest, QStringLiteral("Response"), &signals_,
                SLOT(response_arrived(uint, QVariantMap)));
    used = actual;
  }
  if (!signals_.answered) {
    QEventLoop loop;
    QObject::connect(&signals_, &PortalSignals::done, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeout_ms, &loop, &QEventLoop::quit);
    loop.exec();
  }
  bus.disconnect(kService, used, kRequest, QStringLiteral("Response"), &signals_,
                 SLOT(response_arrived(uint, QVariantMap)));
  if (!signals_.answered) {
    *error = std::string(method) + ": the portal did not answer";
    return false;
  }
  if (signals_.response != 0) {
    *error = std::string(method) + (signals_.response == 1 ? ": cancelled by the user" : ": refused by the portal");
    return false;
  }
  return true;
}

bool ScreenCastSession::open(uint32_t types, uint32_t cursor_mode, bool persist, std::string* restore_token,
                             PortalStream* stream, int* pipewire_fd, std::string* error) {
  close();
  *pipewire_fd = -1;
  if (!QDBusConnection::sessionBus().isConnected()) {
    *error = "no session bus";
    return false;
  }
  QVariantMap create{{QStringLiteral("handle_token"), token("create")},
                     {QStringLiteral("session_handle_token"), token("session")}};
  QString t = create.value(QStringLiteral("handle_token")).toString();
  if (!request("CreateSession", {create}, t, kCallTimeoutMs, error)) return false;
  session_ = signals_.results.value(QStringLiteral("session_handle")).toString();
  if (session_.isEmpty()) {
    *error = "CreateSession: no session handle";
    return false;
  }
  QDBusConnection::sessionBus().connect(kService, session_, kSession, QStringLiteral("Closed"), &signals_,
                                        SLOT(session_closed(QVariantMap)));
  const QDBusObjectPath session_path(session_);

  QVariantMap select{{QStringLiteral("handle_token"), token("select")},
                     {QStringLiteral("types"), QVariant::fromValue<uint>(types)},
                     {QStringLiteral("multiple"), false},
                     {QStringLiteral("cursor_mode"), QVariant::fromValue<uint>(cursor_mode)}};
  if (persist) {
    select.insert(QStringLiteral("persist_mode"), QVariant::fromValue<uint>(2));
    if (!restore_token->empty())
      select.insert(QStringLiteral("restore_token"), QString::fromStdString(*restore_token));
  }
  t = select.value(QStringLiteral("handle_token")).toString();
  if (!request("SelectSources", {QVariant::fromValue(session_path), select}, t, kCallTimeoutMs, error)) {
    close();
    return false;
  }

  QVariantMap start{{QStringLiteral("handle_token"), token("start")}};
  t = start.value(QStringLiteral("handle_token")).toString();
  if (!request("Start", {QVariant::fromValue(session_path), QString(), start}, t, kChooseTimeoutMs, error)) {
    close();
    return false;
  }
  if (!first_stream(signals_.results.value(QStringLiteral("streams")), stream)) {
    *error = "Start: no stream";
    close();
    return false;
  }
  if (persist) *restore_token = signals_.results.value(QStringLiteral("restore_token")).toString().toStdString();

  QDBusMessage r = call(QStringLiteral("OpenPipeWireRemote"), {QVariant::fromValue(session_path), QVariantMap{}});
  if (r.type() != QDBusMessage::ReplyMessage || r.arguments().isEmpty()) {
    *error = "OpenPipeWireRemote failed: " + r.errorMessage().toStdString();
    close();
    return false;
  }
  const QDBusUnixFileDescriptor fd = r.arguments().at(0).value<QDBusUnixFileDescriptor>();
  *pipewire_fd = fd.isValid() ? dup(fd.fileDescriptor()) : -1;
  if (*pipewire_fd < 0) {
    *error = "OpenPipeWireRemote: no file descriptor";
    close();
    return false;
  }
  return true;
}

void ScreenCastSession::close() {
  if (session_.isEmpty()) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.disconnect(kService, session_, kSession, QStringLiteral("Closed"), &signals_,
                 SLOT(session_closed(QVariantMap)));
  QDBusMessage m = QDBusMessage::createMethodCall(kService, session_, kSession, QStringLiteral("Close"));
  bus.call(m, QDBus::Block, kCallTimeoutMs);
  session_.clear();
}
