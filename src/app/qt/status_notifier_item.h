#pragma once
// A StatusNotifierItem of our own, for a tray host that appears after start.
// The toolkit picks its kind of tray icon once, when the icon is made: with
// no StatusNotifierItem host at that moment it never offers the icon to one
// that starts later. This item is registered with the host's watcher then,
// and again whenever the watcher restarts. Its clicks reach the owner.
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QIcon>
#include <QObject>
#include <QString>
#include <functional>

#include "app/qt/dbus_menu.h"

class StatusNotifierItem final : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
  Q_PROPERTY(QString Category READ category)
  Q_PROPERTY(QString Id READ id)
  Q_PROPERTY(QString Title READ title)
  Q_PROPERTY(QString Status READ status)
  Q_PROPERTY(int WindowId READ window_id)
  Q_PROPERTY(QString IconName READ icon_name)
  Q_PROPERTY(SniImageList IconPixmap READ icon_pixmap)
  Q_PROPERTY(SniToolTip ToolTip READ tool_tip)
  Q_PROPERTY(bool ItemIsMenu READ item_is_menu)
  Q_PROPERTY(QDBusObjectPath Menu READ menu)

 public:
  struct Image {
    int width = 0, height = 0;
    QByteArray argb;  // ARGB32, network byte order
  };
  using SniImageList = QList<Image>;
  struct SniToolTip {
    QString icon_name;
    SniImageList images;
    QString title, text;
  };

  enum class Click { kActivate, kContextMenu };
  explicit StatusNotifierItem(std::function<void(Click)> on_click);
  ~StatusNotifierItem() override;

  // Offers the item to the watcher (again); false when none answers.
  bool register_with_watcher();
  void set_visible(bool visible);
  void set_icon(const QIcon& icon);
  void set_tip(const QString& tip);
  // Exports `menu` beside the item, as the menu a host draws itself.
  void export_menu(DBusMenu* menu);

  QString category() const { return QStringLiteral("ApplicationStatus"); }
  QString id() const { return QStringLiteral("frelvanta"); }
  QString title() const { return QStringLiteral("Frelvanta"); }
  QString status() const { return visible_ ? QStringLiteral("Active") : QStringLiteral("Passive"); }
  int window_id() const { return 0; }
  QString icon_name() const { return QString(); }
  SniImageList icon_pixmap() const { return pixmaps_; }
  SniToolTip tool_tip() const { return {QString(), {}, tip_, QString()}; }
  bool item_is_menu() const { return false; }
  QDBusObjectPath menu() const { return menu_path_; }

 public slots:
  void Activate(int x, int y);
  void SecondaryActivate(int x, int y);
  void ContextMenu(int x, int y);
  void Scroll(int delta, const QString& orientation);

 signals:
  void NewIcon();
  void NewToolTip();
  void NewStatus(const QString& status);

 private:
  QDBusConnection bus_;
  std::function<void(Click)> on_click_;
  SniImageList pixmaps_;
  QString tip_ = QStringLiteral("Frelvanta");
  bool visible_ = false;
  QDBusObjectPath menu_path_{QStringLiteral("/NO_DBUSMENU")};
};

Q_DECLARE_METATYPE(StatusNotifierItem::Image)
Q_DECLARE_METATYPE(StatusNotifierItem::SniImageList)
Q_DECLARE_METATYPE(StatusNotifierItem::SniToolTip)
