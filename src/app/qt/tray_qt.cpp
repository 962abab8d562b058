#include "app/qt/tray_qt.h"

#include <QAction>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>

#include "app/main_window.h"
#include "app/qt/tray_icons_qt.h"
#include "app/tray_menu.h"

namespace {
constexpr int kBalloonMs = 10000;
constexpr int kTipUnits = 127;  // 128 with the terminator

void post_tray_event(uint32_t event) { post_main_window_message(MSG_TRAY_CALLBACK, 0, static_cast<intptr_t>(event)); }

// Whether a StatusNotifierItem host runs: then the icon is such an item (the
// toolkit makes the same check once, when the first icon is created).
bool status_notifier_host_present() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                                                     "org.freedesktop.DBus.Properties", "Get");
  call << QStringLiteral("org.kde.StatusNotifierWatcher") << QStringLiteral("IsStatusNotifierHostRegistered");
  const QDBusMessage reply = bus.call(call, QDBus::Block, 2000);
  return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
         qvariant_cast<QDBusVariant>(reply.arguments().first()).variant().toBool();
}
}  // namespace

// A click on a notice of the notification service is a click on the balloon.
TrayQt::TrayQt()
    : notices_([] { post_tray_event(TRAY_EVENT_BALLOON_CLICK); }), status_notifier_(status_notifier_host_present()) {
  icon_ = new QSystemTrayIcon(tray_icon_picture(state_), this);
  connect(icon_, &QSystemTrayIcon::activated, this, &TrayQt::on_activated);
  connect(icon_, &QSystemTrayIcon::messageClicked, this, &TrayQt::on_message_clicked);
  // The X11 platform announces a tray manager that appears or is replaced
  // (the tray host restarted). It has no typed signal, hence the old syntax.
  // QPlatformNativeInterface derives from QObject alone; its header is private.
  if (auto* native = reinterpret_cast<QObject*>(QGuiApplication::platformNativeInterface())) {
    if (native->metaObject()->indexOfSignal("systemTrayWindowChanged(QScreen*)") >= 0) {
      connect(native, SIGNAL(systemTrayWindowChanged(QScreen*)), this, SLOT(on_tray_window_changed()));
    }
  }
  if (status_notifier_) {
    export_menu();
  } else {
    watch_for_status_notifier_host();
  }
}

// A StatusNotifierItem host draws the item's menu itself, from the menu the
// item exports (com.canonical.dbusmenu; the toolkit exports the context
// menu). Hosts that draw it never ask the item to pop one up, and on Wayland
// a popup of our own would have no parent window to open from. The menu
// follows the recording state; a chosen item reaches the main window as a
// tray command.
void TrayQt::export_menu() {
  menu_ = new QMenu();
  connect(menu_, &QMenu::aboutToShow, this, &TrayQt::refresh_menu);
  refresh_menu();
  icon_->setContextMenu(menu_);
}

void TrayQt::refresh_menu() {
  if (late_menu_) late_menu_->changed();
  if (!menu_) return;
  const std::vector<TrayMenuItem> items = tray_menu_now();
  const QList<QAction*> actions = menu_->actions();
  bool same = actions.size() == static_cast<qsizetype>(items.size());
  for (size_t i = 0; same && i < items.size(); ++i)
    same = actions[static_cast<qsizetype>(i)]->data().toInt() == items[i].id;
  if (same) {
    // Changed in place: a host showing the menu keeps its items.
    for (size_t i = 0; i < items.size(); ++i) {
      QAction* action = actions[static_cast<qsizetype>(i)];
      if (items[i].id == 0) continue;
      action->setText(QString::fromStdString(items[i].text));
      action->setEnabled(items[i].enabled);
    }
    return;
  }
  menu_->clear();
  for (const TrayMenuItem& item : items) {
    QAction* action = item.id == 0 ? menu_->addSeparator() : menu_->addAction(QString::fromStdString(item.text));
    action->setData(item.id);
    action->setEnabled(item.id == 0 || item.enabled);
    if (item.id == 0) continue;
    const int id = item.id;
    connect(action, &QAction::triggered, this,
            [id] { post_main_window_message(MSG_TRAY_COMMAND, static_cast<uintptr_t>(id), 0); });
  }
}

// Without a StatusNotifierItem host at start the toolkit's icon is an XEmbed
// one for good. A host that starts later (its watcher appears, or a host
// registers with it) gets our own item instead, unless an XEmbed tray shows
// the icon already; a watcher that restarts gets it again.
void TrayQt::watch_for_status_notifier_host() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  auto* watcher = new QDBusServiceWatcher(QStringLiteral("org.kde.StatusNotifierWatcher"), bus,
                                          QDBusServiceWatcher::WatchForOwnerChange, this);
  connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
          [this](const QString&, const QString&, const QString& new_owner) {
            if (!new_owner.isEmpty()) on_watcher_changed();
          });
  bus.connect(QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("/StatusNotifierWatcher"),
              QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("StatusNotifierHostRegistered"), this,
              SLOT(on_watcher_changed()));
}

void TrayQt::on_watcher_changed() {
  if (!late_item_) {
    if (QSystemTrayIcon::isSystemTrayAvailable() || !status_notifier_host_present()) return;
    late_item_ = new StatusNotifierItem([](StatusNotifierItem::Click click) {
      // As on the toolkit's own StatusNotifierItem: the one activation
      // (a left click) does what the double click does elsewhere.
      post_tray_event(click == StatusNotifierItem::Click::kActivate ? TRAY_EVENT_LBUTTONDBLCLK
                                                                   : TRAY_EVENT_RBUTTONUP);
    });
    late_item_->setParent(this);
    // The host draws the menu from the exported one, as for the toolkit's
    // item (export_menu above).
    late_menu_ = new DBusMenu(tray_menu_now, [](int id) {
      post_main_window_message(MSG_TRAY_COMMAND, static_cast<uintptr_t>(id), 0);
    });
    late_menu_->setParent(late_item_);
    late_item_->export_menu(late_menu_);
    late_item_->set_icon(tray_icon_picture(state_));
    late_item_->set_visible(shown_);
  }
  if (late_item_->register_with_watcher()) {
    // The tray came: the main window adds the icon with its state again.
    post_main_window_message(MSG_TASKBAR_CREATED, 0, 0);
  }
}

TrayQt::~TrayQt() { delete menu_; }

void TrayQt::add() {
  shown_ = true;
  refresh_menu();
  icon_->setIcon(tray_icon_picture(state_));
  icon_->show();
  if (late_item_) {
    late_item_->set_icon(tray_icon_picture(state_));
    late_item_->set_visible(true);
  }
}

void TrayQt::remove() {
  shown_ = false;
  icon_->hide();
  if (late_item_) late_item_->set_visible(false);
}

void TrayQt::set_icon(TrayIconState state) {
  state_ = state;
  icon_->setIcon(tray_icon_picture(state));
  if (late_item_) late_item_->set_icon(tray_icon_picture(state));
}

void TrayQt::set_tip(const std::string& tip) {
  const QString text = QString::fromStdString(tip).left(kTipUnits);
  icon_->setToolTip(text);
  if (late_item_) late_item_->set_tip(text);
}

bool TrayQt::available() const { return QSystemTrayIcon::isSystemTrayAvailable() || late_item_ != nullptr; }

int TrayQt::notify(const std::string& text, const std::string& caption, int kind) {
  // The desktop's notification service where there is one (with or without
  // a tray); the tray's own balloon otherwise.
  if (notices_.show(text, caption, notification_urgency(kind), true)) {
    if (icon_->isVisible()) icon_->setToolTip(QStringLiteral("Frelvanta"));
    if (late_item_) late_item_->set_tip(QStringLiteral("Frelvanta"));
    return 1;
  }
  if (!icon_->isVisible()) return 0;
  const QSystemTrayIcon::MessageIcon icon = kind == NOTIFY_ERROR     ? QSystemTrayIcon::Critical
                                            : kind == NOTIFY_WARNING ? QSystemTrayIcon::Warning
                                                                     : QSystemTrayIcon::Information;
  icon_->showMessage(QString::fromStdString(caption), QString::fromStdString(text), icon, kBalloonMs);
  // A notification also puts the plain tooltip back.
  icon_->setToolTip(QStringLiteral("Frelvanta"));
  return 1;
}

int TrayQt::popup_menu(const std::vector<TrayMenuItem>& items) {
  QMenu menu;
  for (const TrayMenuItem& item : items) {
    if (item.id == 0) {
      menu.addSeparator();
      continue;
    }
    QAction* action = menu.addAction(QString::fromStdString(item.text));
    action->setData(item.id);
    action->setEnabled(item.enabled);
  }
  QAction* chosen = menu.exec(QCursor::pos());
  return chosen ? chosen->data().toInt() : 0;
}

void TrayQt::desktop_notice(const std::string& text, const std::string& caption) {
  // Normal urgency and kept until closed: it is the one way to learn how to
  // reach this instance, so it must not slip out of sight.
  if (notices_.show(text, caption, 1, false, true)) return;
  // No notification service either: a window that stays until it is read.
  auto* box = new QMessageBox(QMessageBox::Information, QString::fromStdString(caption),
                              QString::fromStdString(text), QMessageBox::Ok);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
}

void TrayQt::on_activated(QSystemTrayIcon::ActivationReason reason) {
  if (reason == QSystemTrayIcon::Context) post_tray_event(TRAY_EVENT_RBUTTONUP);
  if (reason == QSystemTrayIcon::DoubleClick) post_tray_event(TRAY_EVENT_LBUTTONDBLCLK);
  // A StatusNotifierItem host has no double click: its one activation (a
  // left click) does what the double click does on other trays. There a
  // single click stays without effect.
  if (reason == QSystemTrayIcon::Trigger && status_notifier_) post_tray_event(TRAY_EVENT_LBUTTONDBLCLK);
}

void TrayQt::on_message_clicked() { post_tray_event(TRAY_EVENT_BALLOON_CLICK); }

void TrayQt::on_tray_window_changed() {
  if (QSystemTrayIcon::isSystemTrayAvailable()) post_main_window_message(MSG_TASKBAR_CREATED, 0, 0);
}
