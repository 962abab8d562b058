#pragma once
// Global shortcuts through the desktop portal's GlobalShortcuts interface,
// for sessions where no client may grab keys itself (Wayland). The portal
// binds a whole set at once and only once per session, so registrations are
// gathered and bound together when the event loop next runs; a changed set
// closes the session and binds the new one in a fresh session. The stored
// shortcut values travel as preferred triggers: the desktop (or the user, in
// its dialog) decides the keys. An activation reaches the owner with the
// shortcut's id, as the X11 grabs report a key press.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "app/hotkey_service.h"

// The portal's spelling of a stored shortcut value: modifiers CTRL, ALT,
// SHIFT, LOGO, then the key's keysym name, joined by "+" ("CTRL+SHIFT+p").
// Empty for 0 and for a key that has no name.
std::string portal_shortcut_trigger(uint32_t value);

class GlobalShortcutsPortal final : public QObject, public HotkeyService {
  Q_OBJECT
 public:
  // Whether the desktop portal on `bus` offers the interface at all.
  static bool offered(QDBusConnection bus);

  // `on_hotkey` runs on the event loop with the id of an activated shortcut;
  // `on_unavailable` once when the portal refuses the session or the binding
  // (nothing the user presses will reach us then).
  GlobalShortcutsPortal(QDBusConnection bus, std::function<void(int)> on_hotkey,
                        std::function<void()> on_unavailable);
  ~GlobalShortcutsPortal() override;

  // Always true: the portal takes every binding and leaves the keys to the
  // desktop; a refusal arrives later, through `on_unavailable`.
  bool register_hotkey(int id, uint32_t modifiers, uint32_t vk) override;
  void unregister_hotkey(int id) override;

 private slots:
  void on_session_response(uint code, const QVariantMap& results);
  void on_bind_response(uint code, const QVariantMap& results);
  void on_activated(const QDBusMessage& signal);

 private:
  void schedule_sync();
  void sync();
  void create_session();
  void bind();
  void close_session();
  void fail(const char* what);
  QString next_token();
  void send_request(const QDBusMessage& call, const QString& token, const char* slot, const char* step);
  QString request_path(const QString& token) const;
  bool watch_response(const QString& path, const char* slot);
  void unwatch_response(const QString& path, const char* slot);

  QDBusConnection bus_;
  std::function<void(int)> on_hotkey_;
  std::function<void()> on_unavailable_;
  std::map<int, std::string> wanted_;  // id -> preferred trigger (may be empty)
  std::map<int, std::string> bound_;   // what the session holds
  QString session_;                    // the live session's handle; empty: none
  QString pending_request_;            // the request whose response is awaited
  bool session_bound_ = false;         // the session has had its one binding
  bool sync_scheduled_ = false;
  bool failed_ = false;
  unsigned token_serial_ = 0;
};
