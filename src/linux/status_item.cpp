#include "linux/status_item.h"

#include <QAction>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QPixmap>

#include <algorithm>

namespace orlimo {
namespace {

const char kMenuInterface[] = "com.canonical.dbusmenu";
const char kItemInterface[] = "org.kde.StatusNotifierItem";
const char kWatcher[] = "org.kde.StatusNotifierWatcher";
const char kWatcherPath[] = "/StatusNotifierWatcher";
const char kItemPath[] = "/StatusNotifierItem";
const char kMenuPath[] = "/MenuBar";
const char kProperties[] = "org.freedesktop.DBus.Properties";
const char kIntrospectable[] = "org.freedesktop.DBus.Introspectable";
const char kPeer[] = "org.freedesktop.DBus.Peer";

// (ia{sv}av): an item, its properties and its children, each in a variant.
struct MenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<MenuLayout> children;
};
// (ia{sv})
struct MenuItem {
    int id = 0;
    QVariantMap properties;
};
// (ias)
struct MenuItemKeys {
    int id = 0;
    QStringList names;
};
// (iiay): width, height, ARGB32 pixels in network byte order.
struct IconPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb;
};
// (sa(iiay)ss): icon name, icon pixmaps, title, description.
struct ToolTip {
    QString icon;
    QList<IconPixmap> pixmaps;
    QString title;
    QString text;
};

}  // namespace
}  // namespace orlimo

Q_DECLARE_METATYPE(orlimo::MenuLayout)
Q_DECLARE_METATYPE(orlimo::MenuItem)
Q_DECLARE_METATYPE(orlimo::MenuItemKeys)
Q_DECLARE_METATYPE(orlimo::IconPixmap)
Q_DECLARE_METATYPE(orlimo::ToolTip)

namespace orlimo {
namespace {

QDBusArgument& operator<<(QDBusArgument& arg, const MenuLayout& item) {
    arg.beginStructure();
    arg << item.id << item.properties;
    arg.beginArray(qMetaTypeId<QDBusVariant>());
    for (const MenuLayout& child : item.children) arg << QDBusVariant(QVariant::fromValue(child));
    arg.endArray();
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, MenuLayout& item) {
    arg.beginStructure();
    arg >> item.id >> item.properties;
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        MenuLayout layout;
        qvariant_cast<QDBusArgument>(child.variant()) >> layout;
        item.children.append(layout);
    }
    arg.endArray();
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const MenuItem& item) {
    arg.beginStructure();
    arg << item.id << item.properties;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, MenuItem& item) {
    arg.beginStructure();
    arg >> item.id >> item.properties;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const MenuItemKeys& item) {
    arg.beginStructure();
    arg << item.id << item.names;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, MenuItemKeys& item) {
    arg.beginStructure();
    arg >> item.id >> item.names;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const IconPixmap& pixmap) {
    arg.beginStructure();
    arg << pixmap.width << pixmap.height << pixmap.argb;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, IconPixmap& pixmap) {
    arg.beginStructure();
    arg >> pixmap.width >> pixmap.height >> pixmap.argb;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const ToolTip& tip) {
    arg.beginStructure();
    arg << tip.icon << tip.pixmaps << tip.title << tip.text;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, ToolTip& tip) {
    arg.beginStructure();
    arg >> tip.icon >> tip.pixmaps >> tip.title >> tip.text;
    arg.endStructure();
    return arg;
}

void RegisterTypes() {
    static const bool done = [] {
        qDBusRegisterMetaType<MenuLayout>();
        qDBusRegisterMetaType<MenuItem>();
        qDBusRegisterMetaType<QList<MenuItem>>();
        qDBusRegisterMetaType<MenuItemKeys>();
        qDBusRegisterMetaType<QList<MenuItemKeys>>();
        qDBusRegisterMetaType<IconPixmap>();
        qDBusRegisterMetaType<QList<IconPixmap>>();
        qDBusRegisterMetaType<ToolTip>();
        return true;
    }();
    (void)done;
}

QList<int> IntList(const QVariant& value) {
    if (value.userType() == qMetaTypeId<QDBusArgument>()) return qdbus_cast<QList<int>>(value);
    return value.value<QList<int>>();
}

// The standard interfaces every object here answers, around its own.
QString Document(const QString& interfaces) {
    return QStringLiteral(
               "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n<node>\n"
               " <interface name=\"org.freedesktop.DBus.Introspectable\">\n"
               "  <method name=\"Introspect\"><arg name=\"xml\" type=\"s\" direction=\"out\"/></method>\n"
               " </interface>\n"
               " <interface name=\"org.freedesktop.DBus.Peer\">\n"
               "  <method name=\"Ping\"/>\n"
               "  <method name=\"GetMachineId\"><arg name=\"id\" type=\"s\" direction=\"out\"/></method>\n"
               " </interface>\n"
               " <interface name=\"org.freedesktop.DBus.Properties\">\n"
               "  <method name=\"Get\"><arg name=\"interface\" type=\"s\" direction=\"in\"/>"
               "<arg name=\"name\" type=\"s\" direction=\"in\"/><arg name=\"value\" type=\"v\" direction=\"out\"/></method>\n"
               "  <method name=\"GetAll\"><arg name=\"interface\" type=\"s\" direction=\"in\"/>"
               "<arg name=\"values\" type=\"a{sv}\" direction=\"out\"/></method>\n"
               "  <method name=\"Set\"><arg name=\"interface\" type=\"s\" direction=\"in\"/>"
               "<arg name=\"name\" type=\"s\" direction=\"in\"/><arg name=\"value\" type=\"v\" direction=\"in\"/></method>\n"
               "  <signal name=\"PropertiesChanged\"><arg type=\"s\"/><arg type=\"a{sv}\"/><arg type=\"as\"/></signal>\n"
               " </interface>\n") +
           interfaces + QStringLiteral("</node>\n");
}

// Properties.Get, GetAll and Set, and Introspect, for an object whose
// properties all belong to interface; true when message was one of them.
bool StandardCall(const QDBusMessage& message, const QDBusConnection& bus, const QString& interface,
                  const QString& xml, const std::function<QVariantMap()>& all) {
    const QString member = message.member();
    const QVariantList args = message.arguments();
    if (message.interface() == QLatin1String(kIntrospectable) && member == QLatin1String("Introspect")) {
        bus.send(message.createReply(xml));
        return true;
    }
    if (message.interface() == QLatin1String(kPeer) && member == QLatin1String("Ping")) {
        bus.send(message.createReply());
        return true;
    }
    if (message.interface() != QLatin1String(kProperties)) return false;
    const QString asked = args.value(0).toString();
    if (member == QLatin1String("GetAll") && args.size() == 1) {
        bus.send(message.createReply(asked == interface || asked.isEmpty() ? all() : QVariantMap()));
        return true;
    }
    if (member == QLatin1String("Get") && args.size() == 2) {
        const QVariantMap values = all();
        const auto it = values.constFind(args.value(1).toString());
        if ((asked != interface && !asked.isEmpty()) || it == values.constEnd()) {
            bus.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"),
                                              QStringLiteral("no such property")));
        } else {
            bus.send(message.createReply(QVariant::fromValue(QDBusVariant(it.value()))));
        }
        return true;
    }
    if (member == QLatin1String("Set")) {
        bus.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.PropertyReadOnly"),
                                          QStringLiteral("the properties are read-only")));
        return true;
    }
    return false;
}

void Unknown(const QDBusMessage& message, const QDBusConnection& bus) {
    bus.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                                      QStringLiteral("no method %1.%2").arg(message.interface(), message.member())));
}

const char kMenuXml[] =
    " <interface name=\"com.canonical.dbusmenu\">\n"
    "  <property name=\"Version\" type=\"u\" access=\"read\"/>\n"
    "  <property name=\"TextDirection\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"Status\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"IconThemePath\" type=\"as\" access=\"read\"/>\n"
    "  <method name=\"GetLayout\"><arg name=\"parentId\" type=\"i\" direction=\"in\"/>"
    "<arg name=\"recursionDepth\" type=\"i\" direction=\"in\"/><arg name=\"propertyNames\" type=\"as\" direction=\"in\"/>"
    "<arg name=\"revision\" type=\"u\" direction=\"out\"/><arg name=\"layout\" type=\"(ia{sv}av)\" direction=\"out\"/></method>\n"
    "  <method name=\"GetGroupProperties\"><arg name=\"ids\" type=\"ai\" direction=\"in\"/>"
    "<arg name=\"propertyNames\" type=\"as\" direction=\"in\"/><arg name=\"properties\" type=\"a(ia{sv})\" direction=\"out\"/></method>\n"
    "  <method name=\"GetProperty\"><arg name=\"id\" type=\"i\" direction=\"in\"/><arg name=\"name\" type=\"s\" direction=\"in\"/>"
    "<arg name=\"value\" type=\"v\" direction=\"out\"/></method>\n"
    "  <method name=\"Event\"><arg name=\"id\" type=\"i\" direction=\"in\"/><arg name=\"eventId\" type=\"s\" direction=\"in\"/>"
    "<arg name=\"data\" type=\"v\" direction=\"in\"/><arg name=\"timestamp\" type=\"u\" direction=\"in\"/></method>\n"
    "  <method name=\"EventGroup\"><arg name=\"events\" type=\"a(isvu)\" direction=\"in\"/>"
    "<arg name=\"idErrors\" type=\"ai\" direction=\"out\"/></method>\n"
    "  <method name=\"AboutToShow\"><arg name=\"id\" type=\"i\" direction=\"in\"/><arg name=\"needUpdate\" type=\"b\" direction=\"out\"/></method>\n"
    "  <method name=\"AboutToShowGroup\"><arg name=\"ids\" type=\"ai\" direction=\"in\"/>"
    "<arg name=\"updatesNeeded\" type=\"ai\" direction=\"out\"/><arg name=\"idErrors\" type=\"ai\" direction=\"out\"/></method>\n"
    "  <signal name=\"ItemsPropertiesUpdated\"><arg name=\"updatedProps\" type=\"a(ia{sv})\"/>"
    "<arg name=\"removedProps\" type=\"a(ias)\"/></signal>\n"
    "  <signal name=\"LayoutUpdated\"><arg name=\"revision\" type=\"u\"/><arg name=\"parent\" type=\"i\"/></signal>\n"
    "  <signal name=\"ItemActivationRequested\"><arg name=\"id\" type=\"i\"/><arg name=\"timestamp\" type=\"u\"/></signal>\n"
    " </interface>\n";

const char kItemXml[] =
    " <interface name=\"org.kde.StatusNotifierItem\">\n"
    "  <property name=\"Category\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"Id\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"Title\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"Status\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"WindowId\" type=\"i\" access=\"read\"/>\n"
    "  <property name=\"IconThemePath\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"IconName\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"IconPixmap\" type=\"a(iiay)\" access=\"read\"/>\n"
    "  <property name=\"OverlayIconName\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"OverlayIconPixmap\" type=\"a(iiay)\" access=\"read\"/>\n"
    "  <property name=\"AttentionIconName\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"AttentionIconPixmap\" type=\"a(iiay)\" access=\"read\"/>\n"
    "  <property name=\"AttentionMovieName\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"ToolTip\" type=\"(sa(iiay)ss)\" access=\"read\"/>\n"
    "  <property name=\"ItemIsMenu\" type=\"b\" access=\"read\"/>\n"
    "  <property name=\"Menu\" type=\"o\" access=\"read\"/>\n"
    "  <method name=\"ContextMenu\"><arg name=\"x\" type=\"i\" direction=\"in\"/><arg name=\"y\" type=\"i\" direction=\"in\"/></method>\n"
    "  <method name=\"Activate\"><arg name=\"x\" type=\"i\" direction=\"in\"/><arg name=\"y\" type=\"i\" direction=\"in\"/></method>\n"
    "  <method name=\"SecondaryActivate\"><arg name=\"x\" type=\"i\" direction=\"in\"/><arg name=\"y\" type=\"i\" direction=\"in\"/></method>\n"
    "  <method name=\"Scroll\"><arg name=\"delta\" type=\"i\" direction=\"in\"/><arg name=\"orientation\" type=\"s\" direction=\"in\"/></method>\n"
    "  <method name=\"ProvideXdgActivationToken\"><arg name=\"token\" type=\"s\" direction=\"in\"/></method>\n"
    "  <signal name=\"NewTitle\"/>\n"
    "  <signal name=\"NewIcon\"/>\n"
    "  <signal name=\"NewAttentionIcon\"/>\n"
    "  <signal name=\"NewOverlayIcon\"/>\n"
    "  <signal name=\"NewMenu\"/>\n"
    "  <signal name=\"NewToolTip\"/>\n"
    "  <signal name=\"NewStatus\"><arg name=\"status\" type=\"s\"/></signal>\n"
    " </interface>\n";

}  // namespace

// ---- the menu ----

CMenuExport::CMenuExport(QMenu* root, std::function<void()> about_to_show)
    : root_(root), about_to_show_(std::move(about_to_show)), bus_(QString()) {
    RegisterTypes();
    // Every item of the tree gets an id of its own; the root is 0.
    std::vector<QMenu*> menus = {root};
    while (!menus.empty()) {
        QMenu* menu = menus.back();
        menus.pop_back();
        const QList<QAction*> actions = menu->actions();
        for (auto it = actions.rbegin(); it != actions.rend(); ++it) {
            actions_.push_back(*it);
            ids_[*it] = static_cast<int>(actions_.size());
            if ((*it)->menu()) menus.push_back((*it)->menu());
        }
    }
    // Changes made outside a host's AboutToShow (a command that changed a
    // mark) are announced together, from the event loop.
    flush_timer_.setSingleShot(true);
    flush_timer_.setInterval(0);
    QObject::connect(&flush_timer_, &QTimer::timeout, &flush_timer_, [this] { Flush(); });
    for (QAction* action : actions_) {
        QObject::connect(action, &QAction::changed, &flush_timer_, [this] {
            if (registered_) flush_timer_.start();
        });
    }
    announce_timer_.setSingleShot(true);
    announce_timer_.setInterval(0);
    QObject::connect(&announce_timer_, &QTimer::timeout, &announce_timer_, [this] {
        const QList<int> menus = announce_;
        announce_.clear();
        for (int id : menus) Emit(QStringLiteral("LayoutUpdated"), {QVariant::fromValue(revision_), id});
    });
}

CMenuExport::~CMenuExport() { Unregister(); }

bool CMenuExport::Register(const QDBusConnection& bus, const QString& path) {
    bus_ = bus;
    path_ = path;
    if (!bus_.registerVirtualObject(path, this, QDBusConnection::SingleNode)) return false;
    registered_ = true;
    // What a host reads first is what was announced.
    sent_properties_.clear();
    sent_children_.clear();
    Flush();
    return true;
}

void CMenuExport::Unregister() {
    if (!registered_) return;
    registered_ = false;
    flush_timer_.stop();
    announce_timer_.stop();
    bus_.unregisterObject(path_);
}

QString CMenuExport::Label(const QString& text) {
    QString label;
    label.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('_')) {
            label += QLatin1String("__");
        } else if (c == QLatin1Char('&') && i + 1 < text.size()) {
            label += text[i + 1] == QLatin1Char('&') ? QLatin1Char('&') : QLatin1Char('_');
            if (text[i + 1] == QLatin1Char('&')) ++i;
        } else {
            label += c;
        }
    }
    return label;
}

QMenu* CMenuExport::MenuOf(int id) const {
    if (id == 0) return root_;
    if (id < 0 || id > static_cast<int>(actions_.size())) return nullptr;
    return actions_[static_cast<size_t>(id) - 1]->menu();
}

QList<int> CMenuExport::ShownChildren(QMenu* menu) const {
    QList<int> ids;
    for (QAction* action : menu->actions()) {
        const auto it = ids_.find(action);
        if (it != ids_.end() && action->isVisible()) ids.append(it->second);
    }
    return ids;
}

QVariantMap CMenuExport::Properties(int id) const {
    QVariantMap p;
    if (id == 0) {
        p.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
        return p;
    }
    const QAction* action = actions_[static_cast<size_t>(id) - 1];
    if (action->isSeparator()) {
        p.insert(QStringLiteral("type"), QStringLiteral("separator"));
        return p;
    }
    p.insert(QStringLiteral("label"), Label(action->text()));
    p.insert(QStringLiteral("enabled"), action->isEnabled());
    if (action->menu()) p.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    if (action->isCheckable()) {
        p.insert(QStringLiteral("toggle-type"), QStringLiteral("checkmark"));
        p.insert(QStringLiteral("toggle-state"), action->isChecked() ? 1 : 0);
    }
    return p;
}

QVariant CMenuExport::Layout(int id, int depth, const QStringList& names, QList<int>* cut_off) const {
    MenuLayout layout;
    layout.id = id;
    const QVariantMap all = Properties(id);
    for (auto it = all.constBegin(); it != all.constEnd(); ++it) {
        if (names.isEmpty() || names.contains(it.key())) layout.properties.insert(it.key(), it.value());
    }
    if (QMenu* menu = MenuOf(id)) {
        const QList<int> children = ShownChildren(menu);
        if (depth == 0) {
            if (!children.isEmpty()) cut_off->append(id);
        } else {
            for (int child : children) {
                layout.children.append(Layout(child, depth < 0 ? -1 : depth - 1, names, cut_off).value<MenuLayout>());
            }
        }
    }
    return QVariant::fromValue(layout);
}

bool CMenuExport::Flush() {
    flush_timer_.stop();
    if (!registered_) return false;
    QList<MenuItem> updated;
    QList<MenuItemKeys> removed;
    for (int id = 1; id <= static_cast<int>(actions_.size()); ++id) {
        const QVariantMap now = Properties(id);
        QVariantMap& before = sent_properties_[id];
        if (now == before) continue;
        MenuItem changed{id, {}};
        for (auto it = now.constBegin(); it != now.constEnd(); ++it) {
            if (before.value(it.key()) != it.value()) changed.properties.insert(it.key(), it.value());
        }
        MenuItemKeys gone{id, {}};
        for (auto it = before.constBegin(); it != before.constEnd(); ++it) {
            if (!now.contains(it.key())) gone.names.append(it.key());
        }
        if (!changed.properties.isEmpty()) updated.append(changed);
        if (!gone.names.isEmpty()) removed.append(gone);
        before = now;
    }
    QList<int> relaid;
    for (int id = 0; id <= static_cast<int>(actions_.size()); ++id) {
        QMenu* menu = MenuOf(id);
        if (!menu) continue;
        const QList<int> now = ShownChildren(menu);
        QList<int>& before = sent_children_[id];
        if (now != before) {
            relaid.append(id);
            before = now;
        }
    }
    if (!updated.isEmpty() || !removed.isEmpty()) {
        Emit(QStringLiteral("ItemsPropertiesUpdated"),
             {QVariant::fromValue(updated), QVariant::fromValue(removed)});
    }
    if (!relaid.isEmpty()) {
        ++revision_;
        for (int id : relaid) Emit(QStringLiteral("LayoutUpdated"), {QVariant::fromValue(revision_), id});
    }
    return !updated.isEmpty() || !removed.isEmpty() || !relaid.isEmpty();
}

void CMenuExport::Emit(const QString& name, const QVariantList& arguments) {
    if (!registered_) return;
    QDBusMessage signal = QDBusMessage::createSignal(path_, QLatin1String(kMenuInterface), name);
    signal.setArguments(arguments);
    bus_.send(signal);
}

void CMenuExport::AnnounceLater(const QList<int>& menus) {
    for (int id : menus) {
        if (!announce_.contains(id)) announce_.append(id);
    }
    if (!announce_.isEmpty()) announce_timer_.start();
}

QString CMenuExport::introspect(const QString&) const { return QString::fromLatin1(kMenuXml); }

bool CMenuExport::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    auto all = [] {
        QVariantMap p;
        p.insert(QStringLiteral("Version"), QVariant::fromValue(3u));
        p.insert(QStringLiteral("TextDirection"), QGuiApplication::layoutDirection() == Qt::RightToLeft
                                                      ? QStringLiteral("rtl")
                                                      : QStringLiteral("ltr"));
        p.insert(QStringLiteral("Status"), QStringLiteral("normal"));
        p.insert(QStringLiteral("IconThemePath"), QStringList());
        return p;
    };
    if (StandardCall(message, connection, QLatin1String(kMenuInterface), Document(introspect(path_)), all)) {
        return true;
    }
    if (message.interface() != QLatin1String(kMenuInterface) && !message.interface().isEmpty()) {
        Unknown(message, connection);
        return true;
    }
    const QString member = message.member();
    const QVariantList args = message.arguments();
    auto invalid = [&] {
        connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                                 QStringLiteral("no such menu item")));
        return true;
    };
    auto known = [this](int id) { return id >= 0 && id <= static_cast<int>(actions_.size()); };
    if (member == QLatin1String("GetLayout") && args.size() == 3) {
        const int parent = args[0].toInt();
        if (!known(parent)) return invalid();
        // What is served is what was announced.
        Flush();
        QList<int> cut_off;
        const QVariant layout = Layout(parent, args[1].toInt(), args[2].toStringList(), &cut_off);
        connection.send(message.createReply({QVariant::fromValue(revision_), layout}));
        // A host that fetches a level at a time (KDE's dbusmenu library)
        // fetches a submenu when it opens and places it on the screen
        // before its items come: told now, it has them in time.
        AnnounceLater(cut_off);
        return true;
    }
    if (member == QLatin1String("GetGroupProperties") && args.size() == 2) {
        QList<int> ids = IntList(args[0]);
        if (ids.isEmpty()) {
            for (int id = 1; id <= static_cast<int>(actions_.size()); ++id) ids.append(id);
        }
        const QStringList names = args[1].toStringList();
        Flush();
        QList<MenuItem> items;
        for (int id : ids) {
            if (!known(id)) continue;
            MenuItem item{id, {}};
            const QVariantMap all_properties = Properties(id);
            for (auto it = all_properties.constBegin(); it != all_properties.constEnd(); ++it) {
                if (names.isEmpty() || names.contains(it.key())) item.properties.insert(it.key(), it.value());
            }
            items.append(item);
        }
        connection.send(message.createReply(QVariant::fromValue(items)));
        return true;
    }
    if (member == QLatin1String("GetProperty") && args.size() == 2) {
        const int id = args[0].toInt();
        if (!known(id)) return invalid();
        const QVariantMap p = Properties(id);
        const auto it = p.constFind(args[1].toString());
        if (it == p.constEnd()) return invalid();
        connection.send(message.createReply(QVariant::fromValue(QDBusVariant(it.value()))));
        return true;
    }
    // A click on an item that is shown and enabled triggers its action.
    auto event = [this, &known](int id, const QString& kind) {
        if (!known(id)) return false;
        if (id > 0 && kind == QLatin1String("clicked")) {
            QAction* action = actions_[static_cast<size_t>(id) - 1];
            if (!action->menu() && !action->isSeparator() && action->isEnabled() && action->isVisible()) {
                action->trigger();
            }
        }
        return true;
    };
    if (member == QLatin1String("Event") && args.size() == 4) {
        if (!event(args[0].toInt(), args[1].toString())) return invalid();
        connection.send(message.createReply());
        return true;
    }
    if (member == QLatin1String("EventGroup") && args.size() == 1) {
        QList<int> errors;
        const QDBusArgument list = args[0].value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            int id = 0;
            QString kind;
            QDBusVariant data;
            uint timestamp = 0;
            list.beginStructure();
            list >> id >> kind >> data >> timestamp;
            list.endStructure();
            if (!event(id, kind)) errors.append(id);
        }
        list.endArray();
        connection.send(message.createReply(QVariant::fromValue(errors)));
        return true;
    }
    if (member == QLatin1String("AboutToShow") && args.size() == 1) {
        if (!known(args[0].toInt())) return invalid();
        // Brought up to date first, the changes announced before the
        // answer, which says whether there were any.
        about_to_show_();
        const bool changed = Flush();
        connection.send(message.createReply(QVariant(changed)));
        return true;
    }
    if (member == QLatin1String("AboutToShowGroup") && args.size() == 1) {
        QList<int> ids, errors;
        for (int id : IntList(args[0])) (known(id) ? ids : errors).append(id);
        about_to_show_();
        const bool changed = Flush();
        connection.send(message.createReply({QVariant::fromValue(changed ? ids : QList<int>()),
                                             QVariant::fromValue(errors)}));
        return true;
    }
    Unknown(message, connection);
    return true;
}

// ---- the item ----

CStatusItem::CStatusItem(QMenu* menu, std::function<void()> about_to_show, Handlers handlers)
    : menu_(menu, std::move(about_to_show)), handlers_(std::move(handlers)), bus_(QDBusConnection::sessionBus()) {
    RegisterTypes();
    pixmaps_ = QVariant::fromValue(QList<IconPixmap>());
    retry_.setSingleShot(true);
    QObject::connect(&retry_, &QTimer::timeout, this, [this] { SendRegistration(); });
}

CStatusItem::~CStatusItem() {
    menu_.Unregister();
    if (shown_) bus_.unregisterObject(QLatin1String(kItemPath));
}

bool CStatusItem::Show() {
    if (shown_) return true;
    if (!bus_.isConnected()) return false;
    if (!bus_.registerVirtualObject(QLatin1String(kItemPath), this, QDBusConnection::SingleNode)) return false;
    if (!menu_.Register(bus_, QLatin1String(kMenuPath))) {
        bus_.unregisterObject(QLatin1String(kItemPath));
        return false;
    }
    // Known by the connection's own name, as Qt's items are: GNOME's
    // AppIndicator extension watches an item's well-known name, and when it
    // sees the name appear after it has read the item, it drops what it read
    // and fails to read it again (no icon).
    service_ = bus_.baseService();
    shown_ = true;
    RegisterWithWatcher();
    return true;
}

void CStatusItem::RegisterWithWatcher() {
    if (!shown_) return;
    ++generation_;
    attempt_ = 0;
    retry_.stop();
    SendRegistration();
}

void CStatusItem::SendRegistration() {
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kWatcher), QLatin1String(kWatcherPath),
                                                       QLatin1String(kWatcher),
                                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << service_;
    const int generation = generation_;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    QObject::connect(pending, &QDBusPendingCallWatcher::finished, this,
                     [this, generation](QDBusPendingCallWatcher* done) {
                         done->deleteLater();
                         // Sent again a few times when the watcher answers with
                         // an error (one that has just started may not be
                         // ready); a watcher that is not there at all is
                         // waited for instead (CTrayWatch::WatcherCame).
                         if (generation != generation_ || !done->isError() ||
                             done->error().type() == QDBusError::ServiceUnknown || attempt_ >= kRetries) {
                             return;
                         }
                         retry_.start(kFirstRetryMs << attempt_++);
                     });
}

void CStatusItem::SetIcon(const QIcon& icon) {
    QList<IconPixmap> pixmaps;
    QList<QSize> sizes = icon.availableSizes();
    std::sort(sizes.begin(), sizes.end(), [](const QSize& a, const QSize& b) { return a.width() < b.width(); });
    for (const QSize& size : sizes) {
        const QImage image = icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
        IconPixmap pixmap{image.width(), image.height(), QByteArray()};
        pixmap.argb.reserve(image.width() * image.height() * 4);
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = line[x];
                pixmap.argb.append(static_cast<char>(qAlpha(p)));
                pixmap.argb.append(static_cast<char>(qRed(p)));
                pixmap.argb.append(static_cast<char>(qGreen(p)));
                pixmap.argb.append(static_cast<char>(qBlue(p)));
            }
        }
        pixmaps.append(pixmap);
    }
    pixmaps_ = QVariant::fromValue(pixmaps);
    Emit(QStringLiteral("NewIcon"));
}

void CStatusItem::SetToolTip(const QString& text) {
    if (text == tooltip_) return;
    tooltip_ = text;
    Emit(QStringLiteral("NewToolTip"));
}

void CStatusItem::Emit(const QString& name, const QVariantList& arguments) {
    if (!shown_) return;
    QDBusMessage signal = QDBusMessage::createSignal(QLatin1String(kItemPath), QLatin1String(kItemInterface), name);
    signal.setArguments(arguments);
    bus_.send(signal);
}

QVariantMap CStatusItem::AllProperties() const {
    QVariantMap p;
    const QString none;
    const QVariant no_pixmaps = QVariant::fromValue(QList<IconPixmap>());
    p.insert(QStringLiteral("Category"), QStringLiteral("ApplicationStatus"));
    p.insert(QStringLiteral("Id"), QStringLiteral("orlimo"));
    p.insert(QStringLiteral("Title"), QStringLiteral("orlimo"));
    p.insert(QStringLiteral("Status"), QStringLiteral("Active"));
    p.insert(QStringLiteral("WindowId"), 0);
    p.insert(QStringLiteral("IconThemePath"), none);
    p.insert(QStringLiteral("IconName"), none);
    p.insert(QStringLiteral("IconPixmap"), pixmaps_);
    p.insert(QStringLiteral("OverlayIconName"), none);
    p.insert(QStringLiteral("OverlayIconPixmap"), no_pixmaps);
    p.insert(QStringLiteral("AttentionIconName"), none);
    p.insert(QStringLiteral("AttentionIconPixmap"), no_pixmaps);
    p.insert(QStringLiteral("AttentionMovieName"), none);
    // The text in the title, where hosts show it.
    p.insert(QStringLiteral("ToolTip"), QVariant::fromValue(ToolTip{none, {}, tooltip_, none}));
    // A primary click activates; the menu is the host's to show.
    p.insert(QStringLiteral("ItemIsMenu"), false);
    p.insert(QStringLiteral("Menu"), QVariant::fromValue(QDBusObjectPath(QLatin1String(kMenuPath))));
    return p;
}

QString CStatusItem::introspect(const QString&) const { return QString::fromLatin1(kItemXml); }

bool CStatusItem::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    if (StandardCall(message, connection, QLatin1String(kItemInterface), Document(introspect(QString())),
                     [this] { return AllProperties(); })) {
        return true;
    }
    const QString member = message.member();
    const QVariantList args = message.arguments();
    if (message.interface() == QLatin1String(kItemInterface) || message.interface().isEmpty()) {
        // Answered first, acted on from the event loop: an action may open
        // a dialog, and the host should not wait for it.
        std::function<void()> action;
        if (member == QLatin1String("Activate") && args.size() == 2) {
            action = handlers_.activate;
        } else if (member == QLatin1String("SecondaryActivate") && args.size() == 2) {
            action = handlers_.secondary_activate;
        } else if (member == QLatin1String("ContextMenu") && args.size() == 2) {
            const QPoint at(args[0].toInt(), args[1].toInt());
            auto show = handlers_.context_menu;
            action = [show, at] {
                if (show) show(at);
            };
        } else if ((member == QLatin1String("Scroll") && args.size() == 2) ||
                   (member == QLatin1String("ProvideXdgActivationToken") && args.size() == 1)) {
            action = [] {};
        }
        if (action) {
            connection.send(message.createReply());
            QMetaObject::invokeMethod(this, [action] { if (action) action(); }, Qt::QueuedConnection);
            return true;
        }
    }
    Unknown(message, connection);
    return true;
}

}  // namespace orlimo
