#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

class QDBusServiceWatcher;
class QMenu;

// The tray images of the agent's states; WindowIcon is the window's own icon, shown while shutting down.
enum class TrayImage { WindowIcon = 0, Waiting = 1, Live = 2, NotListening = 3 };

namespace TrayTip {
inline const QString Loading = QStringLiteral("Vorlix (Loading...)");
inline const QString Running = QStringLiteral("Vorlix");
inline const QString NotListening = QStringLiteral("Not Listening");
inline const QString ShuttingDown = QStringLiteral("Vorlix (Shutting Down...)");
} // namespace TrayTip

// The one tray icon: its image and tip, its menu, and the click that opens the options.
class TrayIcon {
public:
    virtual ~TrayIcon() = default;
    virtual void Add(TrayImage image, const QString& tip) = 0;
    virtual void Modify(TrayImage image, const QString& tip) = 0;
    virtual void Remove() = 0;
    // A short non-modal balloon from the tray.
    virtual void ShowNotification(const QString& title, const QString& text) = 0;

    // Set by the main window before Add.
    QMenu* menu = nullptr;
    // A double-click on an XEmbed icon, a click (Activate) on a StatusNotifierItem host.
    std::function<void()> onOpen;
};

// The icon in the desktop's notification area: an XEmbed icon on an X11 desktop, or a StatusNotifierItem
// (its menu exported as a D-Bus menu) where a host such as swaybar, KDE or GNOME's AppIndicator extension
// shows it. Off X11 the icon waits for a host to appear on the session bus before it is made.
class SystemTrayIcon : public QObject, public TrayIcon {
    Q_OBJECT
public:
    SystemTrayIcon();
    ~SystemTrayIcon() override;
    void Add(TrayImage image, const QString& tip) override;
    void Modify(TrayImage image, const QString& tip) override;
    void Remove() override;
    void ShowNotification(const QString& title, const QString& text) override;

private slots:
    void HostRegistered();

private:
    // Qt makes a StatusNotifierItem when a host is registered at its first icon, else an XEmbed icon.
    void Create(bool statusNotifier);
    void WaitForHost();
    void Activated(QSystemTrayIcon::ActivationReason reason);

    std::unique_ptr<QSystemTrayIcon> icon_;
    QDBusServiceWatcher* watcher_ = nullptr;
    TrayImage image_ = TrayImage::WindowIcon;
    QString tip_;
    bool added_ = false;
    // Its host sends Activate for a click and has no double-click.
    bool statusNotifier_ = false;
};

// The icon of each tray image, drawn from the agent's own pictures.
QIcon TrayImageIcon(TrayImage image);
