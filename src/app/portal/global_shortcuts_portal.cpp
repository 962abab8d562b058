#include "app/portal/global_shortcuts_portal.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QList>
#include <QTimer>

#include "app/shortcut_value.h"
#include "app/shortcuts.h"
#include "app/virtual_keys.h"
#include "core/app_state.h"
#include "core/trace.h"

// One entry of the portal's shortcut lists: an id and its properties.
struct PortalShortcutEntry {
  QString id;
  QVariantMap properties;
};
Q_DECLARE_METATYPE(PortalShortcutEntry)

namespace {
const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
// The slots' signatures as QObject::connect takes them by name.
const char kSessionResponse[] = "1on_session_response(uint,QVariantMap)";
const char kBindResponse[] = "1on_bind_response(uint,QVariantMap)";

// The ids the portal knows our shortcuts by; they stay the same across
// versions, since a desktop may keep the user's keys under them.
struct PortalName {
  int hotkey;
  const char* id;
};
constexpr PortalName kPortalNames[] = {
    {CAPTURE_MONITOR, "capture-monitor"},
    {CAPTURE_WINDOW, "capture-window"},
    {CAPTURE_REGION, "capture-region"},
    {kHotkeyPause, "pause-resume"},
};

const char* portal_id(int hotkey) {
  for (const PortalName& n : kPortalNames)
    if (n.hotkey == hotkey) return n.id;
  return nullptr;
}

int hotkey_for(const QString& id) {
  for (const PortalName& n : kPortalNames)
    if (id == QLatin1String(n.id)) return n.hotkey;
  return 0;
}

const char* description(int hotkey) {
  for (const ShortcutEntry& e : kShortcutTable)
    if (e.id == hotkey) return e.name;
  return "";
}
}  // namespace

QDBusArgument& operator<<(QDBusArgument& arg, const PortalShortcutEntry& entry) {
  arg.beginStructure();
  arg << entry.id << entry.properties;
  arg.endStructure();
  return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, PortalShortcutEntry& entry) {
  arg.beginStructure();
  arg >> entry.id >> entry.properties;
  arg.endStructure();
  return arg;
}

std::string portal_shortcut_trigger(uint32_t value) {
  const char* key = value ? vk_keysym_name(shortcut_key(value)) : nullptr;
  if (!key) return {};
  const uint32_t mods = shortcut_modifiers(value);
  std::string trigger;
  if (mods & MOD_CONTROL) trigger += "CTRL+";
  if (mods & MOD_ALT) trigger += "ALT+";
  if (mods & MOD_SHIFT) trigger += "SHIFT+";
  if (mods & MOD_WIN) trigger += "LOGO+";
  return trigger + key;
}

bool GlobalShortcutsPortal::offered(QDBusConnection bus) {
  if (!bus.isConnected()) return false;
  // The portal exports only the interfaces a backend of this desktop
  // implements, so reading the version tells whether there is one.
  QDBusMessage call =
      QDBusMessage::createMethodCall(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), "Get");
  call << kInterface << QStringLiteral("version");
  const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
  return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
         qvariant_cast<QDBusVariant>(reply.arguments().first()).variant().toUInt() >= 1;
}

GlobalShortcutsPortal::GlobalShortcutsPortal(QDBusConnection bus, std::function<void(int)> on_hotkey,
                                             std::function<void()> on_unavailable)
    : bus_(std::move(bus)), on_hotkey_(std::move(on_hotkey)), on_unavailable_(std::move(on_unavailable)) {
  qDBusRegisterMetaType<PortalShortcutEntry>();
  qDBusRegisterMetaType<QList<PortalShortcutEntry>>();
  // Taken as the whole message: QtDBus refused to connect a slot with the
  // signal's typed arguments.
  bus_.connect(kService, kPath, kInterface, QStringLiteral("Activated"), this, SLOT(on_activated(QDBusMessage)));
}

GlobalShortcutsPortal::~GlobalShortcutsPortal() { close_session(); }

bool GlobalShortcutsPortal::register_hotkey(int id, uint32_t modifiers, uint32_t vk) {
  if (!portal_id(id)) return false;
  wanted_[id] = portal_shortcut_trigger(make_shortcut(modifiers, vk));
  schedule_sync();
  return true;
}

void GlobalShortcutsPortal::unregister_hotkey(int id) {
  if (wanted_.erase(id)) schedule_sync();
}

// Registration comes one shortcut at a time; the portal takes the set.
void GlobalShortcutsPortal::schedule_sync() {
  if (sync_scheduled_) return;
  sync_scheduled_ = true;
  QTimer::singleShot(0, this, [this] {
    sync_scheduled_ = false;
    sync();
  });
}

void GlobalShortcutsPortal::sync() {
  // A request under way finishes first and looks again.
  if (failed_ || !pending_request_.isEmpty()) return;
  if (session_bound_ && wanted_ == bound_) return;
  // A session binds once: a changed set needs a new one. Confirming the
  // settings unchanged keeps the session, so the desktop asks nothing.
  if (session_bound_) close_session();
  if (wanted_.empty()) return;
  if (session_.isEmpty()) {
    create_session();
  } else {
    bind();
  }
}

QString GlobalShortcutsPortal::request_path(const QString& token) const {
  QString sender = bus_.baseService().mid(1);
  sender.replace('.', '_');
  return kPath + QStringLiteral("/request/") + sender + '/' + token;
}

bool GlobalShortcutsPortal::watch_response(const QString& path, const char* slot) {
  return bus_.connect(kService, path, kRequestInterface, QStringLiteral("Response"), this, slot);
}

void GlobalShortcutsPortal::unwatch_response(const QString& path, const char* slot) {
  bus_.disconnect(kService, path, kRequestInterface, QStringLiteral("Response"), this, slot);
}

QString GlobalShortcutsPortal::next_token() {
  ++token_serial_;
  return QStringLiteral("frelvanta%1").arg(token_serial_);
}

// The portal answers a call through a request object: its Response signal
// is awaited on the path the token gives (listening before the call, since
// the response may follow the reply at once), or on the path the reply names
// (portals older than the tokens choose it themselves).
void GlobalShortcutsPortal::send_request(const QDBusMessage& call, const QString& token, const char* slot,
                                         const char* step) {
  pending_request_ = request_path(token);
  watch_response(pending_request_, slot);
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, slot, step](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    const QDBusPendingReply<QDBusObjectPath> reply = *w;
    if (reply.isError()) {
      unwatch_response(pending_request_, slot);
      pending_request_.clear();
      fail(step);
      return;
    }
    if (reply.value().path() != pending_request_) {
      unwatch_response(pending_request_, slot);
      pending_request_ = reply.value().path();
      watch_response(pending_request_, slot);
    }
  });
}

void GlobalShortcutsPortal::create_session() {
  const QString token = next_token();
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "CreateSession");
  call << QVariantMap{{QStringLiteral("handle_token"), token}, {QStringLiteral("session_handle_token"), token}};
  send_request(call, token, kSessionResponse, "create_session");
}

void GlobalShortcutsPortal::on_session_response(uint code, const QVariantMap& results) {
  unwatch_response(pending_request_, kSessionResponse);
  pending_request_.clear();
  const QVariant handle = results.value(QStringLiteral("session_handle"));
  // The handle is a string on the wire; accept an object path as well.
  session_ = handle.metaType() == QMetaType::fromType<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path()
                                                                         : handle.toString();
  session_bound_ = false;
  if (code != 0 || session_.isEmpty()) {
    session_.clear();
    fail("session");
    return;
  }
  sync();
}

void GlobalShortcutsPortal::bind() {
  QList<PortalShortcutEntry> entries;
  for (const auto& [id, trigger] : wanted_) {
    PortalShortcutEntry entry{QLatin1String(portal_id(id)), {{QStringLiteral("description"), description(id)}}};
    // Without a trigger the desktop (or the user) picks the keys.
    if (!trigger.empty()) entry.properties.insert(QStringLiteral("preferred_trigger"), QString::fromStdString(trigger));
    entries << entry;
  }
  const QString token = next_token();
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "BindShortcuts");
  call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariant::fromValue(entries) << QString()
       << QVariantMap{{QStringLiteral("handle_token"), token}};
  session_bound_ = true;
  bound_ = wanted_;
  send_request(call, token, kBindResponse, "bind");
}

void GlobalShortcutsPortal::on_bind_response(uint code, const QVariantMap& results) {
  unwatch_response(pending_request_, kBindResponse);
  pending_request_.clear();
  if (code != 0) {
    fail("bind");  // the user turned the shortcuts down, or the desktop did
    return;
  }
  // The portal answers with the shortcuts it bound, possibly fewer.
  int bound = -1;
  if (results.contains(QStringLiteral("shortcuts"))) {
    QList<PortalShortcutEntry> entries;
    results.value(QStringLiteral("shortcuts")).value<QDBusArgument>() >> entries;
    bound = static_cast<int>(entries.size());
  }
  trace_eventf("shortcuts.portal_bound asked=%d bound=%d", static_cast<int>(bound_.size()), bound);
  if (bound == 0) {
    fail("bind");
    return;
  }
  sync();  // the settings may have changed meanwhile
}

void GlobalShortcutsPortal::on_activated(const QDBusMessage& signal) {
  // (session handle, shortcut id, time stamp, options)
  const QList<QVariant> args = signal.arguments();
  if (args.size() < 2 || session_.isEmpty()) return;
  if (args[0].value<QDBusObjectPath>().path() != session_) return;
  if (const int id = hotkey_for(args[1].toString())) {
    if (on_hotkey_) on_hotkey_(id);
  }
}

void GlobalShortcutsPortal::close_session() {
  if (!session_.isEmpty()) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, session_, QStringLiteral("org.freedesktop.portal.Session"),
                                                       "Close");
    bus_.call(call, QDBus::NoBlock);
  }
  session_.clear();
  session_bound_ = false;
  bound_.clear();
}

void GlobalShortcutsPortal::fail(const char* what) {
  trace_eventf("shortcuts.portal_failed step=%s", what);
  if (failed_) return;
  failed_ = true;
  close_session();
  if (on_unavailable_) on_unavailable_();
}
