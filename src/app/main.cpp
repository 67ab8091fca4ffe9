#include "app/desktopfiles.h"
#include "app/frmsystem.h"
#include "app/shutdownsignals.h"
#include "app/singleagent.h"
#include "commands/programstarter.h"
#include "keys/openkeyboard.h"
#include "speech/clsspeech.h"
#include "store/settingsstore.h"

#include <QApplication>
#include <QMessageBox>
#include <QSessionManager>
#include <QStandardPaths>

int main(int argc, char** argv) {
    qSetMessagePattern(QStringLiteral("vorlix: %{message}"));
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vorlix"));
    QApplication::setApplicationVersion(QStringLiteral(VORLIX_VERSION));
    // The agent lives in the tray: hiding its only window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    QString noFolder;
#ifdef VORLIX_USER_SETTINGS
    const QString directory = UserSettingsPath(&noFolder);
#else
    const QString directory = AppPath(&noFolder);
#endif
    if (directory.isEmpty()) {
        // Without a folder it can name, the agent has nowhere to keep the user's commands: it says so
        // rather than keep them somewhere else.
        qCritical().noquote() << noFolder;
        QMessageBox::critical(nullptr, QStringLiteral("Vorlix"), noFolder);
        return 1;
    }
    SingleAgent single(SettingsStore(directory).SettingsFilePath());
    QString note;
    bool guardWarning = false;
    const SingleAgent::Claim claim = single.claim(&note, &guardWarning);
    if (!note.isEmpty()) qWarning().noquote() << note;
    if (claim == SingleAgent::Claim::HandedOver) return 0;
    if (claim == SingleAgent::Claim::Refused) return 1;

    keys::KeyboardGaps keyGaps;
    std::unique_ptr<keys::Keyboard> keyboard = keys::openKeyboard(&keyGaps);
    DetachedProgramStarter programs;
    FormServices services;
    services.directory = directory;
    services.keyboard = keyboard.get();
    services.programs = &programs;
    services.createSpeech = [](const QString& voiceModel) { return std::make_unique<clsSpeech>(nullptr, voiceModel); };
    // The user's voice belongs to the user: the installed agent keeps it in their data folder.
#ifdef VORLIX_USER_SETTINGS
    services.voiceDirectory =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/vorlix");
#else
    services.voiceDirectory = directory;
#endif
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
    if (guardWarning)
        form.Notify(QStringLiteral("Vorlix: one agent per settings file"), note.left(1).toUpper() + note.mid(1) + '.');
    const QString noTyping = QString::fromStdString(keyGaps.noTyping),
                  noWatching = QString::fromStdString(keyGaps.noWatching);
    // One notification: a second would replace the first on most tray hosts.
    if (!noTyping.isEmpty() && !noWatching.isEmpty())
        form.Notify(
            QStringLiteral("Vorlix cannot use the keyboard"),
            QStringLiteral("Key watches and typed keys are off. Typing: %1. Held keys: %2.").arg(noTyping, noWatching));
    else if (!noTyping.isEmpty())
        form.Notify(QStringLiteral("Vorlix cannot type keys"),
                    QStringLiteral("Send Key(s) commands type nothing: %1.").arg(noTyping));
    else if (!noWatching.isEmpty())
        form.Notify(QStringLiteral("Vorlix cannot see held keys"),
                    QStringLiteral("Key watches (hot keys) are off: %1.").arg(noWatching));
    // A desktop lost later (a compositor gone, a device unplugged) is said by the back-end, once.
    keyboard->reportProblem = [&form](const std::string& text) {
        form.Notify(QStringLiteral("Vorlix lost the keyboard"), QString::fromStdString(text));
    };
    const int status = app.exec();
    keyboard->reportProblem = nullptr; // the form goes before the keyboard
    return status != 0 ? status : (form.saveFailed() ? 1 : 0);
}
