#include "app/desktopfiles.h"
#include "app/frmsystem.h"
#include "app/shutdownsignals.h"
#include "app/singleagent.h"
#include "commands/programstarter.h"
#include "keys/keyboard.h"
#include "keys/x11/x11keyboard.h"
#include "speech/clsspeech.h"
#include "store/settingsstore.h"

#include <QApplication>
#include <QSessionManager>

#include <cstdio>

namespace {
// Stands in when no X display can be opened for keys: hot keys and typing are then unavailable.
class NoKeyboard : public keys::Keyboard {
public:
    void press(keys::KeyCode) override {}
    void release(keys::KeyCode) override {}
    void flush() override {}
    keys::KeyState snapshot() override { return {}; }
    keys::KeyCode keyCodeOfChar(char32_t) override { return keys::kNoKey; }
};
} // namespace

int main(int argc, char** argv) {
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
    if (!note.isEmpty())
        std::fprintf(stderr, "vorlix: %s\n", qPrintable(note));
    if (claim == SingleAgent::Claim::HandedOver)
        return 0;

    std::unique_ptr<keys::Keyboard> keyboard = keys::X11Keyboard::open();
    if (!keyboard) {
        std::fprintf(stderr, "vorlix: no X11 display for the keyboard; key watches and typed keys are off\n");
        keyboard = std::make_unique<NoKeyboard>();
    }
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
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form, [&form](QSessionManager&) { form.ShutDown(false); });
    QObject::connect(&form, &frmSystem::unloaded, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    single.onShowOptions = [&form] { return form.ShowOptionsRequested(); };
    // Saved and gone from the tray: a start from now on runs by itself.
    QObject::connect(&form, &frmSystem::unloaded, &single, &SingleAgent::release);

    form.Form_Load();
    const int status = app.exec();
    return status != 0 ? status : (form.saveFailed() ? 1 : 0);
}
