#include "app/desktopfiles.h"
#include "app/frmsystem.h"
#include "app/shutdownsignals.h"
#include "app/singleagent.h"
#include "commands/programstarter.h"
#include "keys/openkeyboard.h"
#include "speech/clsspeech.h"
#include "store/settingsstore.h"

#include <QApplication>
#include <QSessionManager>

int main(int argc, char** argv) {
    qSetMessagePattern(QStringLiteral("vorlix: %{message}"));
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vorlix"));
    QApplication::setApplicationVersion(QStringLiteral(VORLIX_VERSION));
    // The agent lives in the tray: hiding its only window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

#ifdef VORLIX_USER_SETTINGS
    const QString directory = UserSettingsPath();
#else
    const QString directory = AppPath();
#endif
    SingleAgent single(SettingsStore(directory).SettingsFilePath());
    QString note;
    const SingleAgent::Claim claim = single.claim(&note);
    if (!note.isEmpty()) qWarning().noquote() << note;
    if (claim == SingleAgent::Claim::HandedOver) return 0;

    std::string noKeyboard;
    std::unique_ptr<keys::Keyboard> keyboard = keys::openKeyboard(&noKeyboard);
    DetachedProgramStarter programs;
    FormServices services;
    services.directory = directory;
    services.keyboard = keyboard.get();
    services.programs = &programs;
    services.createSpeech = [] { return std::make_unique<clsSpeech>(); };
    services.tray = std::make_unique<SystemTrayIcon>();

    frmSystem form(std::move(services));
    ShutdownSignals terminationSignals;
    QObject::connect(&terminationSignals, &ShutdownSignals::requested, &form, [&form] { form.ShutDown(false); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form,
                     [&form](QSessionManager&) { form.ShutDown(false); });
    QObject::connect(&form, &frmSystem::unloaded, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    single.onShowOptions = [&form] { return form.ShowOptionsRequested(); };
    // Saved and gone from the tray: a start from now on runs by itself.
    QObject::connect(&form, &frmSystem::unloaded, &single, &SingleAgent::release);

    form.Form_Load();
    if (!noKeyboard.empty())
        form.Notify(QStringLiteral("Vorlix cannot use the keyboard"),
                    QStringLiteral("Key watches and typed keys are off: %1.").arg(QString::fromStdString(noKeyboard)));
    const int status = app.exec();
    return status != 0 ? status : (form.saveFailed() ? 1 : 0);
}
