// The desktop's global hot keys on Qt's event loop: the desktop portal's
// shortcuts in a Wayland session, X11 key grabs otherwise. A pressed hot key
// is posted to the main window as WM_HOTKEY either way.
#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QSocketNotifier>

#include "app/main_window.h"
#include "app/portal/global_shortcuts_portal.h"
#include "app/toolkit.h"
#include "app/x11/global_hotkeys_x11.h"
#include "platform/display_session.h"

namespace {
void post_hotkey(int id) { post_main_window_message(WM_HOTKEY, static_cast<uintptr_t>(id), 0); }

bool install_portal_shortcuts() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!GlobalShortcutsPortal::offered(bus)) return false;
  // Lives until the process ends; the portal drops the session with the
  // connection.
  auto* portal = new GlobalShortcutsPortal(bus, post_hotkey, [] { shortcuts_unavailable(); });
  portal->setParent(QCoreApplication::instance());
  g_hotkey_service = portal;
  return true;
}

bool install_x11_grabs() {
  // Lives until the process ends; the server drops the grabs with it.
  auto* keys = new GlobalHotkeysX11(post_hotkey);
  if (!keys->ok()) {
    delete keys;
    return false;
  }
  auto* notifier = new QSocketNotifier(keys->fd(), QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, [keys] { keys->dispatch(); });
  // Events read from the socket while waiting for a reply sit in the
  // connection's queue, where the descriptor no longer shows them: look
  // there too whenever the loop is about to sleep.
  if (QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance()) {
    QObject::connect(d, &QAbstractEventDispatcher::aboutToBlock, [keys] { keys->dispatch(); });
  }
  g_hotkey_service = keys;
  return true;
}
}  // namespace

bool toolkit_install_hotkeys() {
  if (g_hotkey_service) return true;
  if (!toolkit_has_display()) return false;
  return wayland_session() ? install_portal_shortcuts() : install_x11_grabs();
}
