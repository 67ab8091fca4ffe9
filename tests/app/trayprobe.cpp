// What a StatusNotifierItem host does with the tray icon of one process, for the tray tests:
//   trayprobe PID wait SECONDS   until the process's item is registered with the watcher (status 1: not)
//   trayprobe PID activate       a click on the icon (Activate)
//   trayprobe PID menu [PATH]    the D-Bus menu (or the submenu at PATH) as a host draws it, one entry a line
//   trayprobe PID click PATH     opens the submenus on the way and clicks the entry
//   trayprobe host [SECONDS]     a watcher with a host of its own, as a desktop's tray offers, until killed;
//                                its host comes SECONDS after the watcher (KDE's watcher runs before its shell)
// PATH is the labels from the top, joined by "/", as the menu names them ("_Agent/_Options").
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDateTime>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>

namespace {
const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItem = QStringLiteral("org.kde.StatusNotifierItem");
const QString kMenu = QStringLiteral("com.canonical.dbusmenu");

struct Item {
    QString service, path;
};

struct Entry {
    int id = 0;
    QVariantMap properties;
    QList<Entry> children;
    QString label() const { return properties.value(QStringLiteral("label")).toString(); }
};

QDBusConnection bus() {
    return QDBusConnection::sessionBus();
}

QDBusMessage Call(const QString& service, const QString& path, const QString& interface, const QString& method,
                  const QVariantList& arguments = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return bus().call(message, QDBus::Block, 5000);
}

QVariant Property(const QString& service, const QString& path, const QString& interface, const QString& name) {
    const QDBusMessage reply = Call(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                    QStringLiteral("Get"), {interface, name});
    if (reply.type() != QDBusMessage::ReplyMessage) return {};
    return reply.arguments().first().value<QDBusVariant>().variant();
}

// The registered item of that process. Entries read "SERVICE/PATH" (swaybar) or "SERVICE" (KDE).
std::optional<Item> FindItem(uint pid) {
    const QStringList items = Property(kWatcher, QStringLiteral("/StatusNotifierWatcher"), kWatcher,
                                       QStringLiteral("RegisteredStatusNotifierItems"))
                                  .toStringList();
    for (const QString& entry : items) {
        const qsizetype slash = entry.indexOf(QLatin1Char('/'));
        Item item{slash < 0 ? entry : entry.left(slash),
                  slash < 0 ? QStringLiteral("/StatusNotifierItem") : entry.mid(slash)};
        if (bus().interface()->servicePid(item.service).value() == pid) return item;
    }
    return std::nullopt;
}

Entry ReadEntry(const QDBusArgument& argument) {
    Entry entry;
    argument.beginStructure();
    argument >> entry.id >> entry.properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        entry.children << ReadEntry(child.variant().value<QDBusArgument>());
    }
    argument.endArray();
    argument.endStructure();
    return entry;
}

Entry Layout(const Item& item, const QString& menuPath) {
    const QDBusMessage reply = Call(item.service, menuPath, kMenu, QStringLiteral("GetLayout"), {0, -1, QStringList()});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2) return {};
    return ReadEntry(reply.arguments().at(1).value<QDBusArgument>());
}

void Print(const Entry& entry, int depth) {
    for (const Entry& child : entry.children) {
        const QVariantMap& p = child.properties;
        QString line(depth * 2, QLatin1Char(' '));
        line += p.value(QStringLiteral("type")).toString() == QLatin1String("separator") ? QStringLiteral("-")
                                                                                         : child.label();
        if (p.contains(QStringLiteral("toggle-type")))
            line +=
                p.value(QStringLiteral("toggle-state")).toInt() == 1 ? QStringLiteral(" [x]") : QStringLiteral(" [ ]");
        if (!p.value(QStringLiteral("enabled"), true).toBool()) line += QStringLiteral(" (disabled)");
        if (!p.value(QStringLiteral("visible"), true).toBool()) line += QStringLiteral(" (hidden)");
        std::printf("%s\n", qPrintable(line));
        Print(child, depth + 1);
    }
}

// The watcher's side of a tray: it keeps the registered items, and stands for the host that draws them.
class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    explicit Watcher(double hostDelay) : owners_(QString(), bus(), QDBusServiceWatcher::WatchForUnregistration) {
        connect(&owners_, &QDBusServiceWatcher::serviceUnregistered, this, [this](const QString& service) {
            items_.removeIf([&](const QString& item) { return item == service || item.startsWith(service + u'/'); });
            owners_.removeWatchedService(service);
        });
        QTimer::singleShot(int(hostDelay * 1000), this, [this] {
            host_ = true;
            emit StatusNotifierHostRegistered();
        });
    }
    QStringList items() const { return items_; }
    bool hostRegistered() const { return host_; }
    int protocolVersion() const { return 0; }

public slots:
    void RegisterStatusNotifierItem(const QString& serviceOrPath, const QDBusMessage& message) {
        const QString service = serviceOrPath.startsWith(QLatin1Char('/')) ? message.service() : serviceOrPath;
        items_ << (serviceOrPath.startsWith(QLatin1Char('/')) ? service + serviceOrPath : service);
        owners_.addWatchedService(service);
        emit StatusNotifierItemRegistered(items_.last());
    }
    void RegisterStatusNotifierHost(const QString&) {}

signals:
    void StatusNotifierItemRegistered(const QString& item);
    void StatusNotifierHostRegistered();

private:
    QStringList items_;
    QDBusServiceWatcher owners_;
    bool host_ = false;
};

int Fail(const QString& why) {
    std::fprintf(stderr, "trayprobe: %s\n", qPrintable(why));
    return 1;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3 && args.value(1) != QLatin1String("host"))
        return Fail(
            QStringLiteral("usage: trayprobe PID wait SECONDS|activate|menu [PATH]|click PATH, or trayprobe host"));
    if (args.at(1) == QLatin1String("host")) {
        Watcher watcher(args.value(2).toDouble());
        if (!bus().registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                  QDBusConnection::ExportAllContents) ||
            !bus().registerService(kWatcher))
            return Fail(QStringLiteral("cannot be the watcher: ") + bus().lastError().message());
        return app.exec();
    }
    const uint pid = args.at(1).toUInt();
    const QString command = args.at(2);
    const QString argument = args.value(3);

    if (command == QLatin1String("wait")) {
        const qint64 end = QDateTime::currentMSecsSinceEpoch() + qint64(argument.toDouble() * 1000);
        while (!FindItem(pid)) {
            if (QDateTime::currentMSecsSinceEpoch() > end) return Fail(QStringLiteral("no item of %1").arg(pid));
            QThread::msleep(100);
        }
        return 0;
    }
    const std::optional<Item> item = FindItem(pid);
    if (!item) return Fail(QStringLiteral("no item of %1 is registered").arg(pid));
    if (command == QLatin1String("activate")) {
        const QDBusMessage reply = Call(item->service, item->path, kItem, QStringLiteral("Activate"), {0, 0});
        return reply.type() == QDBusMessage::ReplyMessage ? 0 : Fail(reply.errorMessage());
    }

    const QString menuPath =
        Property(item->service, item->path, kItem, QStringLiteral("Menu")).value<QDBusObjectPath>().path();
    if (menuPath.isEmpty()) return Fail(QStringLiteral("the item has no menu"));
    // A host asks before it draws a menu, as a user opens one level after the other.
    Call(item->service, menuPath, kMenu, QStringLiteral("AboutToShow"), {0});
    Entry entry = Layout(*item, menuPath);
    for (const QString& label : argument.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        const auto child = std::find_if(entry.children.begin(), entry.children.end(),
                                        [&](const Entry& e) { return e.label() == label; });
        if (child == entry.children.end()) return Fail(QStringLiteral("no entry \"%1\"").arg(label));
        const int id = child->id;
        if (child->children.isEmpty()) {
            entry = *child;
            continue;
        }
        Call(item->service, menuPath, kMenu, QStringLiteral("AboutToShow"), {id});
        const Entry layout = Layout(*item, menuPath);
        std::function<std::optional<Entry>(const Entry&)> find = [&](const Entry& e) -> std::optional<Entry> {
            if (e.id == id) return e;
            for (const Entry& c : e.children)
                if (auto found = find(c)) return found;
            return std::nullopt;
        };
        entry = find(layout).value_or(Entry{});
    }

    if (command == QLatin1String("menu")) {
        Print(entry, 0);
        return 0;
    }
    if (command == QLatin1String("click")) {
        const QDBusMessage reply = Call(item->service, menuPath, kMenu, QStringLiteral("Event"),
                                        {entry.id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)),
                                         uint(QDateTime::currentSecsSinceEpoch())});
        return reply.type() == QDBusMessage::ReplyMessage ? 0 : Fail(reply.errorMessage());
    }
    return Fail(QStringLiteral("unknown command ") + command);
}

#include "trayprobe.moc"
