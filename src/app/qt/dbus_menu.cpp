#include "app/qt/dbus_menu.h"

#include <QDBusArgument>
#include <QDBusMetaType>

const char DBusMenu::kPath[] = "/MenuBar";

// The root is id 0; an item's id is its command id, a separator's is
// 1000 + its place (command ids are small and never 0).
namespace {
constexpr int kSeparatorBase = 1000;
int node_id(const TrayMenuItem& item, size_t index) {
  return item.id != 0 ? item.id : kSeparatorBase + static_cast<int>(index);
}
}  // namespace

QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuLayout& node) {
  arg.beginStructure();
  arg << node.id << node.properties;
  arg.beginArray(qMetaTypeId<QDBusVariant>());
  for (const DBusMenuLayout& child : node.children) arg << QDBusVariant(QVariant::fromValue(child));
  arg.endArray();
  arg.endStructure();
  return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuLayout& node) {
  arg.beginStructure();
  arg >> node.id >> node.properties;
  arg.beginArray();
  node.children.clear();
  while (!arg.atEnd()) {
    QDBusVariant child;
    arg >> child;
    node.children << qvariant_cast<DBusMenuLayout>(child.variant());
  }
  arg.endArray();
  arg.endStructure();
  return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuItemProperties& item) {
  arg.beginStructure();
  arg << item.id << item.properties;
  arg.endStructure();
  return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuItemProperties& item) {
  arg.beginStructure();
  arg >> item.id >> item.properties;
  arg.endStructure();
  return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuEvent& event) {
  arg.beginStructure();
  arg << event.id << event.event << event.data << event.timestamp;
  arg.endStructure();
  return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuEvent& event) {
  arg.beginStructure();
  arg >> event.id >> event.event >> event.data >> event.timestamp;
  arg.endStructure();
  return arg;
}

DBusMenu::DBusMenu(std::function<std::vector<TrayMenuItem>()> items, std::function<void(int)> chosen)
    : items_(std::move(items)), chosen_(std::move(chosen)) {
  qDBusRegisterMetaType<DBusMenuLayout>();
  qDBusRegisterMetaType<DBusMenuItemProperties>();
  qDBusRegisterMetaType<DBusMenuEvent>();
  qDBusRegisterMetaType<DBusMenuItemPropertiesList>();
  qDBusRegisterMetaType<DBusMenuEventList>();
}

bool DBusMenu::export_on(QDBusConnection bus) {
  return bus.registerObject(QString::fromLatin1(kPath), this,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties |
                                QDBusConnection::ExportAllSignals);
}

void DBusMenu::changed() { emit LayoutUpdated(++revision_, 0); }

QVariantMap DBusMenu::properties_of(const TrayMenuItem& item) const {
  if (item.id == 0) return {{QStringLiteral("type"), QStringLiteral("separator")}};
  return {{QStringLiteral("label"), QString::fromStdString(item.text)}, {QStringLiteral("enabled"), item.enabled}};
}

uint DBusMenu::GetLayout(int parent_id, int recursion_depth, const QStringList&, DBusMenuLayout& layout) {
  const std::vector<TrayMenuItem> items = items_ ? items_() : std::vector<TrayMenuItem>();
  layout = DBusMenuLayout{};
  layout.id = parent_id;
  // One level: only the root has children.
  if (parent_id == 0) {
    layout.properties = {{QStringLiteral("children-display"), QStringLiteral("submenu")}};
    if (recursion_depth != 0) {
      for (size_t i = 0; i < items.size(); ++i)
        layout.children << DBusMenuLayout{node_id(items[i], i), properties_of(items[i]), {}};
    }
  } else {
    for (size_t i = 0; i < items.size(); ++i)
      if (node_id(items[i], i) == parent_id) layout.properties = properties_of(items[i]);
  }
  return revision_;
}

DBusMenuItemPropertiesList DBusMenu::GetGroupProperties(const QList<int>& ids, const QStringList&) {
  const std::vector<TrayMenuItem> items = items_ ? items_() : std::vector<TrayMenuItem>();
  DBusMenuItemPropertiesList out;
  for (size_t i = 0; i < items.size(); ++i) {
    const int id = node_id(items[i], i);
    if (ids.isEmpty() || ids.contains(id)) out << DBusMenuItemProperties{id, properties_of(items[i])};
  }
  return out;
}

QDBusVariant DBusMenu::GetProperty(int id, const QString& name) {
  const std::vector<TrayMenuItem> items = items_ ? items_() : std::vector<TrayMenuItem>();
  for (size_t i = 0; i < items.size(); ++i)
    if (node_id(items[i], i) == id) return QDBusVariant(properties_of(items[i]).value(name));
  return QDBusVariant(QVariant());
}

void DBusMenu::Event(int id, const QString& event_id, const QDBusVariant&, uint) {
  if (event_id != QLatin1String("clicked") || id <= 0 || id >= kSeparatorBase || !chosen_) return;
  // Only an item that is there and enabled now.
  if (!items_) return;
  for (const TrayMenuItem& item : items_())
    if (item.id == id && item.enabled) chosen_(id);
}

QList<int> DBusMenu::EventGroup(const DBusMenuEventList& events) {
  for (const DBusMenuEvent& e : events) Event(e.id, e.event, e.data, e.timestamp);
  return {};
}

bool DBusMenu::AboutToShow(int) { return false; }

QList<int> DBusMenu::AboutToShowGroup(const QList<int>&, QList<int>& id_errors) {
  id_errors.clear();
  return {};
}
