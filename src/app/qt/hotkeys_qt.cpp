// The X11 hot keys on Qt's event loop: their connection's descriptor is
// watched, and a pressed hot key is posted to the main window as WM_HOTKEY.
#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>

#include "app/main_window.h"
#include "app/toolkit.h"
#include "app/x11/global_hotkeys_x11.h"

void toolkit_install_hotkeys() {
  if (!toolkit_has_display() || g_hotkey_service) return;
  // Lives until the process ends; the server drops the grabs with it.
  auto* keys = new GlobalHotkeysX11([](int id) { post_main_window_message(WM_HOTKEY, static_cast<uintptr_t>(id), 0); });
  if (!keys->ok()) {
    delete keys;
    return;
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
}
