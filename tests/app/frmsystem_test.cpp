#include "app/desktopfiles.h"
#include "app/frmsystem.h"
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
        FormServices services{dir->path(), &keyboard, &programs, {}, std::move(icon), {}};
        services.createSpeech = [this, audio] {
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
};

QTEST_MAIN(FrmSystemTest)
#include "frmsystem_test.moc"
