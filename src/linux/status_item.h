// The tray icon over D-Bus, spoken by the program itself rather than by Qt:
// a StatusNotifierItem (org.kde.StatusNotifierItem) with its menu
// (com.canonical.dbusmenu), exported from the tray's QMenu.
//
// Qt decides once per process whether its QSystemTrayIcon goes over D-Bus
// or XEmbed; this item is there beside an XEmbed icon, for a tray host that
// registers later, whatever Qt decided. It also
// decides what a host sees of the menu: items that are not visible are not
// in the layout, a host's AboutToShow gets the menu brought up to date
// before its answer (with the changes announced first), and a host that
// fetches one level at a time gets each submenu's items before the user can
// open it, so that no submenu is placed on the screen before it is filled.
#pragma once
#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QIcon>
#include <QList>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

#include <functional>
#include <map>
#include <vector>

class QAction;
class QMenu;

namespace orlimo {

// The menu at one object path, as tray hosts read and drive it.
class CMenuExport : public QDBusVirtualObject {
public:
    // root and its submenus and actions must stay as they are from now on
    // (their captions, states and visibility may change); about_to_show
    // brings every item up to date, as before the menu shows.
    CMenuExport(QMenu* root, std::function<void()> about_to_show);
    ~CMenuExport() override;

    bool Register(const QDBusConnection& bus, const QString& path);
    void Unregister();

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

    // The dbusmenu caption of a QAction text: "_" doubled, the mnemonic "&x"
    // as "_x", "&&" as "&".
    static QString Label(const QString& text);

private:
    QMenu* MenuOf(int id) const;
    QList<int> ShownChildren(QMenu* menu) const;
    QVariantMap Properties(int id) const;
    QVariant Layout(int id, int depth, const QStringList& names, QList<int>* cut_off) const;
    // Announces what changed since the last announcement (or the last
    // layout served); true when anything did.
    bool Flush();
    void Emit(const QString& name, const QVariantList& arguments);
    void AnnounceLater(const QList<int>& menus);

    QMenu* root_;
    std::function<void()> about_to_show_;
    std::vector<QAction*> actions_;          // id - 1
    std::map<const QAction*, int> ids_;
    QDBusConnection bus_;
    QString path_;
    bool registered_ = false;
    uint revision_ = 1;
    std::map<int, QVariantMap> sent_properties_;
    std::map<int, QList<int>> sent_children_;
    QTimer flush_timer_;
    QTimer announce_timer_;
    QList<int> announce_;
};

// The item: its icon, tooltip and menu, and what a host's clicks do.
class CStatusItem : public QDBusVirtualObject {
public:
    struct Handlers {
        std::function<void()> activate;            // a primary click
        std::function<void()> secondary_activate;  // a middle click
        std::function<void(QPoint)> context_menu;  // a host that asks the item to show its menu
    };
    CStatusItem(QMenu* menu, std::function<void()> about_to_show, Handlers handlers);
    ~CStatusItem() override;

    // Puts the item and its menu on the session bus and registers it with
    // the watcher, if there is one; false when the bus refuses.
    bool Show();
    // Registers it with the watcher again (one that appeared or restarted).
    void RegisterWithWatcher();

    void SetIcon(const QIcon& icon);
    void SetToolTip(const QString& text);
    QString ServiceName() const { return service_; }

    // How often, and after how long, a failed registration is tried again.
    static constexpr int kRetries = 6;
    static constexpr int kFirstRetryMs = 250;

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    void SendRegistration();
    QVariantMap AllProperties() const;
    void Emit(const QString& name, const QVariantList& arguments = {});

    CMenuExport menu_;
    Handlers handlers_;
    QDBusConnection bus_;
    QString service_;
    bool shown_ = false;
    QVariant pixmaps_;   // a(iiay)
    QString tooltip_;
    int attempt_ = 0;     // failed registrations in a row
    int generation_ = 0;  // registrations started; a stale answer does nothing
    QTimer retry_;
};

}  // namespace orlimo
