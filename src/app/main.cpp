#include "app/frmsystem.h"
#include "app/shutdownsignals.h"
#include "commands/programstarter.h"
#include "keys/keyboard.h"
#include "speech/speechengine.h"
#include "store/settingsstore.h"

#include <QApplication>
#include <QSessionManager>

namespace {
// Interim back-ends until the real keyboard and speech engine are wired in.
class IdleKeyboard : public keys::Keyboard {
public:
    void press(keys::KeyCode) override {}
    void release(keys::KeyCode) override {}
    void flush() override {}
    keys::KeyState snapshot() override { return {}; }
    keys::KeyCode keyCodeOfChar(char32_t) override { return 0xFF; }
};
class IdleSpeech : public SpeechEngine {
public:
    void SetWords(const QString&, const QString&) override { hasRule_ = true; }
    bool StartListen(const QString&) override { return hasRule_; }
    void StopListen(const QString&) override {}
    void SetDevice(const QString&) override { hasRule_ = false; }
    QString GetDeviceList() override { return {}; }
    void Speak(const QString&) override {}

private:
    bool hasRule_ = false;
};
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vorlix"));
    QApplication::setApplicationVersion(QStringLiteral(VORLIX_VERSION));
    // The agent lives in the tray: hiding its only window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    IdleKeyboard keyboard;
    DetachedProgramStarter programs;
    FormServices services;
    services.directory = AppPath();
    services.keyboard = &keyboard;
    services.programs = &programs;
    services.createSpeech = [] { return std::make_unique<IdleSpeech>(); };
    services.tray = std::make_unique<SystemTrayIcon>();

    frmSystem form(std::move(services));
    ShutdownSignals terminationSignals;
    QObject::connect(&terminationSignals, &ShutdownSignals::requested, &form, [&form] { form.ShutDown(false); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form, [&form](QSessionManager&) { form.ShutDown(false); });
    QObject::connect(&form, &frmSystem::unloaded, &app, &QCoreApplication::quit, Qt::QueuedConnection);

    form.Form_Load();
    const int status = app.exec();
    return status != 0 ? status : (form.saveFailed() ? 1 : 0);
}
