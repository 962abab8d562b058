#pragma once
// The tray icon on QSystemTrayIcon (StatusNotifierItem or XEmbed, whichever
// the desktop offers). Its clicks reach the main window as the tray callback
// message, so what they do is decided there.
#include <QObject>
#include <QMenu>
#include <QSystemTrayIcon>
#include <string>
#include <vector>

#include "app/qt/desktop_notifications.h"
#include "app/qt/status_notifier_item.h"
#include "core/ui_service.h"

class TrayQt final : public QObject {
  Q_OBJECT
 public:
  TrayQt();
  ~TrayQt() override;
  void add();
  void remove();
  void set_icon(TrayIconState state);
  void set_tip(const std::string& tip);
  bool available() const;
  int notify(const std::string& text, const std::string& caption, int kind);
  int popup_menu(const std::vector<TrayMenuItem>& items);
  void desktop_notice(const std::string& text, const std::string& caption);
  // Takes the menu's items again where the desktop draws the menu.
  void refresh_menu();

 private slots:
  void on_activated(QSystemTrayIcon::ActivationReason reason);
  void on_message_clicked();
  void on_tray_window_changed();
  void on_watcher_changed();

 private:
  void watch_for_status_notifier_host();
  void export_menu();
  QSystemTrayIcon* icon_ = nullptr;
  TrayIconState state_ = TrayIconState::kIdle;
  DesktopNotifications notices_;
  bool status_notifier_ = false;  // the icon is a StatusNotifierItem
  bool shown_ = false;            // add() was called, remove() not since
  // Our own item for a StatusNotifierItem host that started after us; null
  // until one does (and while an XEmbed tray shows the icon).
  StatusNotifierItem* late_item_ = nullptr;
  DBusMenu* late_menu_ = nullptr;  // its menu
  // The menu a StatusNotifierItem host draws (null on other trays).
  QMenu* menu_ = nullptr;
};
