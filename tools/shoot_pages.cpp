// Shows the options window with sample commands and saves a picture of each page:
//   scripts/with-desktop.sh --no-audio build/tests/options/shoot_pages docs/screenshots
#include "options/optionspages.h"
#include "options/tabstrip.h"
#include "support/fakes.h"

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QTabBar>
#include <QTest>
#include <QVBoxLayout>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));

    FakeAgent fake;
    fake.speech.devices = {QStringLiteral("Built-in Audio Analog Stereo"), QStringLiteral("USB Microphone")};
    AgentSettings& settings = fake.agent.settings;
    settings.DeviceName = QStringLiteral("usb microphone");
    settings.ListenCommand = QStringLiteral("computer");
    settings.ListenTime = 5;
    settings.Response = QStringLiteral("Command Understood");
    settings.StartupText = QStringLiteral("Welcome to Vorlix");
    settings.ResponseListen = true;
    fake.agent.commands.append({"Open Mail", Kind::VoiceCommand, "open mail", Kind::SendKeys, "[ctrl]m"});
    fake.agent.commands.append({"Terminal", Kind::MenuItem, "Terminal", Kind::ExecuteProgram, "x-terminal-emulator"});
    fake.agent.commands.append({"Close Tab", Kind::KeyWatch, "[ctrl][alt]w", Kind::SendKeys, "[ctrl]w"});
    fake.agent.commands.append({"Say Hello", Kind::VoiceCommand, "hello", Kind::SayMessage, "Hello there"});
    fake.agent.commands.append({"Reminder", Kind::MenuItem, "Reminder", Kind::ShowMessage, "Stand up and stretch"});

    QWidget window;
    window.setWindowTitle(QStringLiteral("Vorlix Options"));
    OptionsPages pages(fake.agent);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(&pages);
    window.setFixedSize(pages.sizeHint());
    pages.InitOptions();
    pages.setSettingsFilePath(QStringLiteral("/home/user/.config/vorlix/settings.zqf"));
    pages.setKeyBackEnds(QStringLiteral("X11"), QStringLiteral("X11"));
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) return 1;

    const char* files[] = {"voice-setup.png", "commands.png", "about.png"};
    for (int tab = 0; tab < 3; ++tab) {
        pages.tabOptions->tabs()->setCurrentIndex(tab);
        if (tab == 1) {
            pages.lstKCommands->setCurrentRow(1);
            pages.lstKCommands_DblClick();
        }
        QTest::qWait(200);
        const QString path = out.filePath(QString::fromLatin1(files[tab]));
        if (!window.grab().save(path)) return 1;
        std::printf("%s\n", qPrintable(path));
    }
    return 0;
}
