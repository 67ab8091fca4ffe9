#include "app/trayicon.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QIcon>

namespace {
const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
// A watcher that does not answer this fast is taken for one without a host.
constexpr int kHostQueryMs = 2000;
constexpr int kNotificationMs = 8000;

// XEmbed trays exist on X11 desktops only; an X client of a Wayland session finds none.
bool XEmbedPossible() {
    return QGuiApplication::platformName() == QLatin1String("xcb") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
           qgetenv("XDG_SESSION_TYPE") != "wayland";
}

// The question Qt asks before it makes a D-Bus tray icon.
bool HostPresent() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(kWatcher)) return false;
    QDBusMessage get = QDBusMessage::createMethodCall(
        kWatcher, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kWatcher << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus.call(get, QDBus::Block, kHostQueryMs);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().first().value<QDBusVariant>().variant().toBool();
}

} // namespace

QIcon TrayImageIcon(TrayImage image) {
    switch (image) {
    case TrayImage::Waiting:
        return QIcon(QStringLiteral(":/icons/waiting.svg"));
    case TrayImage::Live:
        return QIcon(QStringLiteral(":/icons/live.svg"));
    case TrayImage::NotListening:
        return QIcon(QStringLiteral(":/icons/notlistening.svg"));
    case TrayImage::WindowIcon:
        break;
    }
    return QIcon(QStringLiteral(":/options/vorlix.svg"));
}

SystemTrayIcon::SystemTrayIcon() = default;

SystemTrayIcon::~SystemTrayIcon() = default;

void SystemTrayIcon::Add(TrayImage image, const QString& tip) {
    image_ = image;
    tip_ = tip;
    added_ = true;
    // Qt decides at its first icon whether it is a D-Bus one, and keeps to that: made before a host is
    // there, an icon off X11 never shows.
    const bool host = HostPresent();
    if (host || XEmbedPossible())
        Create(host);
    else
        WaitForHost();
}

void SystemTrayIcon::WaitForHost() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    watcher_ = new QDBusServiceWatcher(kWatcher, bus, QDBusServiceWatcher::WatchForRegistration, this);
    connect(watcher_, &QDBusServiceWatcher::serviceRegistered, this, &SystemTrayIcon::HostRegistered);
    // A watcher may come up before its host: KDE's runs in kded, its host in the shell.
    bus.connect(kWatcher, kWatcherPath, kWatcher, QStringLiteral("StatusNotifierHostRegistered"), this,
                SLOT(HostRegistered()));
}

void SystemTrayIcon::HostRegistered() {
    if (added_ && !icon_ && HostPresent()) Create(true);
}

void SystemTrayIcon::Create(bool statusNotifier) {
    if (watcher_) {
        delete watcher_;
        watcher_ = nullptr;
        QDBusConnection::sessionBus().disconnect(kWatcher, kWatcherPath, kWatcher,
                                                 QStringLiteral("StatusNotifierHostRegistered"), this,
                                                 SLOT(HostRegistered()));
    }
    icon_ = std::make_unique<QSystemTrayIcon>();
    connect(icon_.get(), &QSystemTrayIcon::activated, this, &SystemTrayIcon::Activated);
    icon_->setContextMenu(menu);
    icon_->setIcon(TrayImageIcon(image_));
    icon_->setToolTip(tip_);
    // Shown even without a tray host: an XEmbed icon docks in a tray that starts later, and a D-Bus
    // one registers again with a watcher that restarts.
    icon_->show();
    statusNotifier_ = statusNotifier;
}

void SystemTrayIcon::Activated(QSystemTrayIcon::ActivationReason reason) {
    // An XEmbed icon reports the first click of a double-click too: there only the double-click opens.
    const auto opens = statusNotifier_ ? QSystemTrayIcon::Trigger : QSystemTrayIcon::DoubleClick;
    if (reason == opens && onOpen) onOpen();
}

void SystemTrayIcon::Modify(TrayImage image, const QString& tip) {
    image_ = image;
    tip_ = tip;
    if (!icon_) return;
    icon_->setIcon(TrayImageIcon(image));
    icon_->setToolTip(tip);
}

void SystemTrayIcon::Remove() {
    added_ = false;
    if (icon_) icon_->hide();
}

void SystemTrayIcon::ShowNotification(const QString& title, const QString& text) {
    if (icon_) {
        icon_->showMessage(title, text, QSystemTrayIcon::Warning, kNotificationMs);
        return;
    }
    // No tray host yet: the desktop's notification service shows it all the same.
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    notify << QStringLiteral("Vorlix") << uint(0) << QStringLiteral("dialog-warning") << title << text << QStringList()
           << QVariantMap() << kNotificationMs;
    QDBusConnection::sessionBus().call(notify, QDBus::NoBlock);
}
