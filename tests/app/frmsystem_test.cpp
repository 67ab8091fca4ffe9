#include "app/desktopfiles.h"
#include "app/frmsystem.h"
#include "speech/voicemodel.h"
#include "support/fakes.h"

#include <QtTest>
#include <QtWidgets>

namespace {

struct RecordingTray : TrayIcon {
    std::function<void(const QString&)> note;
    void Add(TrayImage image, const QString& tip) override { note(QStringLiteral("add %1 ").arg(int(image)) + tip); }
    void Modify(TrayImage i, const QString& tip) override { note(QStringLiteral("modify %1 ").arg(int(i)) + tip); }
    void Remove() override { note("remove"); }
    void ShowNotification(const QString& title, const QString&) override { note("notify " + title); }
};

QStringList VisibleCaptions(QMenu* menu) {
    QStringList captions;
    for (QAction* action : menu->actions())
        if (action->isVisible()) captions << (action->isSeparator() ? "---" : action->text());
    return captions;
}

} // namespace

class FrmSystemTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    keys::testing::FakeKeyboard keyboard;
    RecordingPrograms programs;
    QPointer<RecordingSpeech> speech; // null once released
    QStringList tray, boxes;
    QString voiceDirectory;       // handed to the window; empty: no voice training
    QStringList voiceModelsGiven; // what the speech engine was created with

    int FileCommands() {
        if (!QFile::exists(dir->filePath("settings.zqf"))) return -1;
        AgentSettings settings;
        CommandList commands;
        SettingsStore(dir->path()).LoadSettings(settings, commands);
        return commands.count();
    }

    std::unique_ptr<frmSystem> Load(const QList<KeyCommand>& commands = {}, AgentSettings settings = {},
                                    bool audio = true) {
        CommandList list;
        for (const KeyCommand& command : commands)
            list.append(command);
        if (!commands.isEmpty()) SettingsStore(dir->path()).SaveSettings(settings, list);
        auto icon = std::make_unique<RecordingTray>(); // each call also notes how many commands the file holds
        icon->note = [this](const QString& what) { tray << QString("%1 (file: %2)").arg(what).arg(FileCommands()); };
        FormServices services{dir->path(), &keyboard, &programs, {}, std::move(icon), {}, {}};
        services.voiceDirectory = voiceDirectory;
        services.createSpeech = [this, audio](const QString& voiceModel) {
            voiceModelsGiven << voiceModel;
            auto engine = std::make_unique<RecordingSpeech>();
            (speech = engine.get())->audio = audio;
            return engine;
        };
        services.messageBox = [this](QMessageBox::Icon i, const QString& t) { boxes << QString::number(i) + ' ' + t; };
        auto form = std::make_unique<frmSystem>(std::move(services));
        form->Form_Load();
        return form;
    }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        tray = boxes = {};
        voiceDirectory.clear();
        voiceModelsGiven.clear();
    }

    // A whole adapted model is handed to the speech engine; a damaged one is set aside, reported once
    // in the tray, and the shipped model is used.
    void voiceModelIsUsedOnlyWhenWhole() {
        voiceDirectory = dir->filePath("data");
        const speech::VoiceProfile profile(voiceDirectory);
        QDir().mkpath(profile.modelFolder());
        for (const QString& name : QDir(speech::shippedAcousticModel()).entryList(QDir::Files))
            QFile::copy(speech::shippedAcousticModel() + "/" + name, profile.modelFolder() + "/" + name);
        QString why;
        QVERIFY(speech::writeManifest(profile.modelFolder(), &why));
        Load().reset();
        QCOMPARE(voiceModelsGiven, QStringList{profile.modelFolder()});
        QVERIFY(!tray.join('|').contains("notify"));

        QFile::remove(profile.modelFolder() + "/variances");
        tray.clear();
        Load().reset();
        QCOMPARE(voiceModelsGiven.last(), QString());
        QCOMPARE(tray.filter("notify").size(), 1);
        QCOMPARE(profile.state(), speech::VoiceProfile::State::Untrained);
        tray.clear();
        Load().reset();
        QVERIFY(tray.filter("notify").isEmpty());
    }

    void loadListensOnlyWithSomethingToHear() {
        auto form = Load(); // the icon shows before the file is read
        QCOMPARE(tray.first() + tray.last(), "add 3 Vorlix (Loading...) (file: -1)modify 3 Not Listening (file: 0)");
        QVERIFY(boxes.isEmpty() && !form->isVisible());
        AgentSettings settings;
        settings.ListenCommand = "computer";
        for (bool audio : {false, true}) {
            form.reset();
            form = Load({{"mail", "Voice Command", "open mail", "Send Key(s)", "[ctrl]m"}}, settings, audio);
            QCOMPARE(speech->active, audio);
            QCOMPARE(tray.last(), audio ? "modify 1 Vorlix (file: 1)" : "modify 3 Not Listening (file: 1)");
            QCOMPARE(form->listeningAction()->text(), audio ? StopListeningCaption : StartListeningCaption);
            QCOMPARE(VisibleCaptions(form->voiceMenu()), QStringList{"open mail"});
        }
        // Recognitions reach the agent through the engine's signal; only high confidence acts.
        emit speech->Recognized("computer", 0.0f);
        QCOMPARE(speech->words, QStringList{"computer"});
        emit speech->Recognized("computer", 1.0f);
        QCOMPARE(speech->words, QStringList{"open mail"});
    }

    void menusFollowTheCommandList() {
        auto form = Load({{"a", "Menu Item", "Mail", "Show Message", "first"},
                          {"b", "Menu Item", "-", "Show Message", "never"},
                          {"c", "Menu Item", "Mail", "Show Message", "second"},
                          {"d", "Menu Item", "&Browser", "Show Message", "third"}});
        QCOMPARE(VisibleCaptions(form->commandsMenu()), QStringList({"Mail", "---", "Mail", "&Browser"}));
        form->mnuCom_Click(3); // either entry of a shared caption runs both, in list order
        form->mnuCom_Click(4);
        QCOMPARE(boxes, QStringList({"1 first", "1 second", "1 third"}));
        form->agent().removeCommand(1);
        form->agent().removeCommand(1);
        QCOMPARE(VisibleCaptions(form->commandsMenu()), QStringList({"Mail", "&Browser"}));
        QCOMPARE(form->commandsMenu()->actions().size(), 6); // surplus entries stay, hidden
        form->agent().commands.reset();
        form->UpdateMenus();
        QVERIFY(!form->commandsMenu()->menuAction()->isEnabled());

        // A long list is made into entries when the submenu opens, and then runs the same way.
        for (int i = 1; i <= 1000; ++i)
            form->agent().commands.append({"n", "Menu Item", QString::number(i), "Show Message", QString::number(i)});
        form->UpdateMenus();
        QVERIFY(form->commandsMenu()->actions().size() < 1000);
        emit form->commandsMenu()->aboutToShow();
        QCOMPARE(VisibleCaptions(form->commandsMenu()).size(), 1000);
        form->mnuCom_Click(1000);
        QCOMPARE(boxes.last(), "1 1000");
    }

    void closingAndMinimisingOnlyHideExitSaves() {
        auto form = Load();
        QSignalSpy unloaded(form.get(), &frmSystem::unloaded);
        form->mnuOptions_Click();
        QVERIFY(form->isVisible() && !form->close() && !form->isVisible());
        form->mnuOptions_Click();
        form->showMinimized();
        QTRY_VERIFY(!form->isVisible());
        form->mnuOptions_Click();
        QVERIFY(form->isVisible() && !form->isMinimized() && unloaded.isEmpty() && speech);

        // Edits are saved soon (see e2e_options) and at the close: then the speech goes, then the icon.
        form->agent().commands.append({"new", "Menu Item", "New", "Show Message", "x"});
        tray.clear();
        form->mnuExit_Click();
        QCOMPARE(tray, QStringList({"modify 0 Vorlix (Shutting Down...) (file: 0)", "remove (file: 1)"}));
        QVERIFY(!speech && unloaded.count() == 1 && !form->saveFailed() && boxes.isEmpty());

        init(); // a fresh folder, then gone before the close
        auto failing = Load();
        QVERIFY(dir->remove());
        failing->mnuExit_Click();
        QVERIFY(failing->saveFailed() && tray.last().startsWith("remove"));
        QVERIFY2(boxes.size() == 1 && boxes[0].endsWith("\r\nSaveSettings"), qPrintable(boxes.join('|')));
    }

    void loginStartQuotesEveryCharacterTheExecLineReserves() {
        QCOMPARE(LoginStart::ExecArgument("/opt/my \"apps\"/$x`y\\z 100%/vorlix"),
                 R"("/opt/my \\"apps\\"/\\$x\\`y\\\\z 100%%/vorlix")");
    }

    // Real entries under a temporary configuration: an entry switched off by the session's tools reads as
    // off, and switching it on or off keeps what others wrote in it.
    void loginStartReadsTheEntryAsTheSessionDoes() {
        QTemporaryDir config, system;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(system.path()));
        const QString entry = config.filePath("autostart/vorlix.desktop");
        const auto write = [](const QString& path, const QByteArray& text) {
            QDir().mkpath(QFileInfo(path).path());
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
        };
        const auto read = [&] {
            QFile file(entry);
            return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString("(none)");
        };
        const QByteArray theirs = "[Desktop Entry]\nType=Application\nName=Vorlix\nExec=/old/vorlix\n"
                                  "X-Their-Key = kept\n# their note\n[Desktop Action x]\nHidden=true\n";
        for (const QByteArray& off : {QByteArray("Hidden=true\n"), QByteArray("X-GNOME-Autostart-enabled=false\n")}) {
            write(entry, "[Desktop Entry]\n" + off + theirs.mid(16));
            QVERIFY2(!LoginStart::IsOn(), off.constData());
            QCOMPARE(LoginStart::Set(true, "/opt/vorlix"), QString());
            QVERIFY(LoginStart::IsOn());
            const QString on = read();
            QVERIFY2(on.contains("Exec=\"/opt/vorlix\"\n") && !on.contains("/old/") &&
                         on.contains("X-Their-Key = kept\n") &&
                         on.contains("# their note\n[Desktop Action x]\nHidden=true\n") &&
                         !on.contains("Hidden=true\nType") && !on.contains("enabled=false"),
                     qPrintable(on));
            // Switched off, an entry holding keys of others stays, switched off.
            QCOMPARE(LoginStart::Set(false, {}), QString());
            QVERIFY(!LoginStart::IsOn() && read().contains("X-Their-Key = kept\n"));
        }
        // The agent's own entry goes when switched off; a system entry is switched off by one of the user's.
        QVERIFY(QFile::remove(entry));
        QCOMPARE(LoginStart::Set(true, "/opt/vorlix"), QString());
        QCOMPARE(LoginStart::Set(false, {}), QString());
        QCOMPARE(read(), "(none)");
        write(system.filePath("autostart/vorlix.desktop"), "[Desktop Entry]\nType=Application\nExec=vorlix\n");
        QVERIFY(LoginStart::IsOn());
        QCOMPARE(LoginStart::Set(false, {}), QString());
        QVERIFY(!LoginStart::IsOn() && read().contains("Hidden=true\n"));
        QCOMPARE(LoginStart::Set(true, "/opt/vorlix"), QString());
        QVERIFY(LoginStart::IsOn());

        // Switched on or off outside the agent, the entry shows as it is when the menu opens.
        auto form = Load();
        auto* menu = qobject_cast<QMenu*>(form->loginStartAction()->parent());
        QVERIFY(menu);
        for (const bool on : {false, true}) {
            QCOMPARE(LoginStart::Set(on, "/opt/vorlix"), QString());
            emit menu->aboutToShow();
            QCOMPARE(form->loginStartAction()->isChecked(), on);
        }

        // A configuration folder that no text can name is refused, never replaced by another.
        QVERIFY(QFile::remove(system.filePath("autostart/vorlix.desktop")));
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8() + "/caf\xe9");
        QVERIFY(!LoginStart::IsOn());
        QVERIFY(LoginStart::Set(true, "/opt/vorlix").contains("not valid UTF-8"));
        QString why;
        QVERIFY(UserSettingsPath(&why).isEmpty() && why.contains("XDG_CONFIG_HOME"));
        qunsetenv("XDG_CONFIG_HOME");
        qunsetenv("XDG_CONFIG_DIRS");
    }
};

QTEST_MAIN(FrmSystemTest)
#include "frmsystem_test.moc"
