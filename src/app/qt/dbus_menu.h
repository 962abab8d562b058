#pragma once
// The tray menu exported on D-Bus (com.canonical.dbusmenu), for a
// StatusNotifierItem host that draws the item's menu itself. Used by our own
// StatusNotifierItem (the toolkit exports the menu of its own item). The
// items are taken from `items` whenever a host asks (so they follow the
// recording state); a clicked item's command id goes to `chosen`.
#include <QDBusConnection>
#include <QDBusVariant>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <vector>

#include "core/ui_service.h"

// One node of the layout: id, properties, children (each a variant holding
// a node), as the interface's (ia{sv}av).
struct DBusMenuLayout {
  int id = 0;
  QVariantMap properties;
  QList<DBusMenuLayout> children;
};
struct DBusMenuItemProperties {
  int id = 0;
  QVariantMap properties;
};
struct DBusMenuEvent {
  int id = 0;
  QString event;
  QDBusVariant data;
  uint timestamp = 0;
};
using DBusMenuItemPropertiesList = QList<DBusMenuItemProperties>;
using DBusMenuEventList = QList<DBusMenuEvent>;

class DBusMenu final : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
  Q_PROPERTY(uint Version READ version)
  Q_PROPERTY(QString TextDirection READ text_direction)
  Q_PROPERTY(QString Status READ status)
  Q_PROPERTY(QStringList IconThemePath READ icon_theme_path)

 public:
  static const char kPath[];
  DBusMenu(std::function<std::vector<TrayMenuItem>()> items, std::function<void(int)> chosen);
  // Exports the menu at kPath on `bus`.
  bool export_on(QDBusConnection bus);
  // The items may have changed: hosts fetch the layout again.
  void changed();

  uint version() const { return 3; }
  QString text_direction() const { return QStringLiteral("ltr"); }
  QString status() const { return QStringLiteral("normal"); }
  QStringList icon_theme_path() const { return {}; }

 public slots:
  uint GetLayout(int parent_id, int recursion_depth, const QStringList& property_names, DBusMenuLayout& layout);
  DBusMenuItemPropertiesList GetGroupProperties(const QList<int>& ids, const QStringList& property_names);
  QDBusVariant GetProperty(int id, const QString& name);
  void Event(int id, const QString& event_id, const QDBusVariant& data, uint timestamp);
  QList<int> EventGroup(const DBusMenuEventList& events);
  bool AboutToShow(int id);
  QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& id_errors);

 signals:
  void LayoutUpdated(uint revision, int parent);
  void ItemsPropertiesUpdated(const DBusMenuItemPropertiesList& updated, const QVariantList& removed);
  void ItemActivationRequested(int id, uint timestamp);

 private:
  QVariantMap properties_of(const TrayMenuItem& item) const;
  std::function<std::vector<TrayMenuItem>()> items_;
  std::function<void(int)> chosen_;
  uint revision_ = 1;
};

Q_DECLARE_METATYPE(DBusMenuLayout)
Q_DECLARE_METATYPE(DBusMenuItemProperties)
Q_DECLARE_METATYPE(DBusMenuEvent)
Q_DECLARE_METATYPE(DBusMenuItemPropertiesList)
Q_DECLARE_METATYPE(DBusMenuEventList)
