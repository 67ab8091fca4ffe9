#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <functional>

class QMenu;
class QSystemTrayIcon;

// The tray images of the agent's states; WindowIcon is the window's own icon, shown while shutting down.
enum class TrayImage { WindowIcon = 0, Waiting = 1, Live = 2, NotListening = 3 };

namespace TrayTip {
inline const QString Loading = QStringLiteral("Vorlix (Loading...)");
inline const QString Running = QStringLiteral("Vorlix");
inline const QString NotListening = QStringLiteral("Not Listening");
inline const QString ShuttingDown = QStringLiteral("Vorlix (Shutting Down...)");
} // namespace TrayTip

// The one tray icon: its image and tip, its menu, and the two mouse events the agent answers.
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
    std::function<void()> onDoubleClick;
};

// The icon in the desktop's notification area.
class SystemTrayIcon : public QObject, public TrayIcon {
    Q_OBJECT
public:
    SystemTrayIcon();
    ~SystemTrayIcon() override;
    void Add(TrayImage image, const QString& tip) override;
    void Modify(TrayImage image, const QString& tip) override;
    void Remove() override;
    void ShowNotification(const QString& title, const QString& text) override;

private:
    QSystemTrayIcon* icon_;
};

// The icon of each tray image, drawn from the agent's own pictures.
QIcon TrayImageIcon(TrayImage image);
