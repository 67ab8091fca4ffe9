#include "app/trayicon.h"

#include <QIcon>
#include <QSystemTrayIcon>

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

SystemTrayIcon::SystemTrayIcon() : icon_(new QSystemTrayIcon(this)) {
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick && onDoubleClick) onDoubleClick();
    });
}

SystemTrayIcon::~SystemTrayIcon() = default;

void SystemTrayIcon::Add(TrayImage image, const QString& tip) {
    icon_->setContextMenu(menu);
    Modify(image, tip);
    // Shown even without a tray host: one that starts later still docks the icon.
    icon_->show();
}

void SystemTrayIcon::Modify(TrayImage image, const QString& tip) {
    icon_->setIcon(TrayImageIcon(image));
    icon_->setToolTip(tip);
}

void SystemTrayIcon::Remove() {
    icon_->hide();
}

void SystemTrayIcon::ShowNotification(const QString& title, const QString& text) {
    icon_->showMessage(title, text, QSystemTrayIcon::Warning, 8000);
}
