#include "app/qt/status_notifier_item.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QImage>
#include <QtEndian>

namespace {
const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");
// A connection of its own, so the item's path never meets another user of
// the session bus in this process.
const QString kConnectionName = QStringLiteral("frelvanta-status-notifier");
constexpr int kIconSizes[] = {16, 22, 32, 48};
}  // namespace

QDBusArgument& operator<<(QDBusArgument& arg, const StatusNotifierItem::Image& image) {
  arg.beginStructure();
  arg << image.width << image.height << image.argb;
  arg.endStructure();
  return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, StatusNotifierItem::Image& image) {
  arg.beginStructure();
  arg >> image.width >> image.height >> image.argb;
  arg.endStructure();
  return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const StatusNotifierItem::SniToolTip& tip) {
  arg.beginStructure();
  arg << tip.icon_name << tip.images << tip.title << tip.text;
  arg.endStructure();
  return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, StatusNotifierItem::SniToolTip& tip) {
  arg.beginStructure();
  arg >> tip.icon_name >> tip.images >> tip.title >> tip.text;
  arg.endStructure();
  return arg;
}

StatusNotifierItem::StatusNotifierItem(std::function<void(Click)> on_click)
    : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, kConnectionName)),
      on_click_(std::move(on_click)) {
  qDBusRegisterMetaType<Image>();
  qDBusRegisterMetaType<SniImageList>();
  qDBusRegisterMetaType<SniToolTip>();
  bus_.registerObject(kItemPath, this,
                      QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties |
                          QDBusConnection::ExportAllSignals);
}

StatusNotifierItem::~StatusNotifierItem() {
  bus_.unregisterObject(kItemPath);
  QDBusConnection::disconnectFromBus(kConnectionName);
}

bool StatusNotifierItem::register_with_watcher() {
  if (!bus_.isConnected()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(kWatcher, QStringLiteral("/StatusNotifierWatcher"), kWatcher,
                                                     "RegisterStatusNotifierItem");
  call << bus_.baseService();
  return bus_.call(call, QDBus::Block, 2000).type() == QDBusMessage::ReplyMessage;
}

void StatusNotifierItem::set_visible(bool visible) {
  if (visible_ == visible) return;
  visible_ = visible;
  emit NewStatus(status());
}

void StatusNotifierItem::set_icon(const QIcon& icon) {
  pixmaps_.clear();
  for (int size : kIconSizes) {
    const QImage image = icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
    if (image.isNull()) continue;
    Image out{image.width(), image.height(), QByteArray()};
    out.argb.resize(static_cast<qsizetype>(image.width()) * image.height() * 4);
    auto* dst = reinterpret_cast<quint32*>(out.argb.data());
    for (int y = 0; y < image.height(); ++y) {
      const auto* row = reinterpret_cast<const quint32*>(image.constScanLine(y));
      for (int x = 0; x < image.width(); ++x) *dst++ = qToBigEndian(row[x]);
    }
    pixmaps_ << out;
  }
  emit NewIcon();
}

void StatusNotifierItem::set_tip(const QString& tip) {
  tip_ = tip;
  emit NewToolTip();
}

void StatusNotifierItem::export_menu(DBusMenu* menu) {
  if (menu->export_on(bus_)) menu_path_ = QDBusObjectPath(QString::fromLatin1(DBusMenu::kPath));
}

void StatusNotifierItem::Activate(int, int) {
  if (on_click_) on_click_(Click::kActivate);
}

void StatusNotifierItem::SecondaryActivate(int, int) {}

void StatusNotifierItem::ContextMenu(int, int) {
  if (on_click_) on_click_(Click::kContextMenu);
}

void StatusNotifierItem::Scroll(int, const QString&) {}
