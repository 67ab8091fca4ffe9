#include "app/desktopfiles.h"
#include "app/frmsystem.h"
#include "options/optionspages.h"
#include "store/settingsstore.h"
#include "support/fakes.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Records the tray icon's life; at each call it also notes how many commands the file holds.
class RecordingTray : public TrayIcon {
public:
    explicit RecordingTray(QStringList& log, std::function<int()> fileCommands)
        : log_(log), fileCommands_(fileCommands) {}
    void Add(TrayImage image, const QString& tip) override { Note(QStringLiteral("add"), image, tip); }
    void Modify(TrayImage image, const QString& tip) override { Note(QStringLiteral("modify"), image, tip); }
    void Remove() override { log_ << QStringLiteral("remove (file: %1)").arg(fileCommands_()); }
    void ShowNotification(const QString& title, const QString&) override { log_ << QStringLiteral("notify ") + title; }

private:
    void Note(const QString& what, TrayImage image, const QString& tip) {
        log_ << QStringLiteral("%1 %2 %3 (file: %4)").arg(what).arg(int(image)).arg(tip).arg(fileCommands_());
    }
    QStringList& log_;
    std::function<int()> fileCommands_;
};

} // namespace

class FrmSystemTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    keys::testing::FakeKeyboard keyboard;
    RecordingPrograms programs;
    RecordingSpeech* speech = nullptr;
    bool speechReleased = false;
    bool withAudio = true;
    QStringList tray;
    QStringList boxes;

    int FileCommands() {
        if (!QFile::exists(dir->filePath("settings.zqf"))) return -1;
        AgentSettings settings;
        CommandList commands;
        SettingsStore(dir->path()).LoadSettings(settings, commands);
        return commands.count();
    }

    std::unique_ptr<frmSystem> MakeFormWithoutAudio() {
        withAudio = false;
        return MakeForm();
    }

    std::unique_ptr<frmSystem> MakeForm() {
        FormServices services;
        services.directory = dir->path();
        services.keyboard = &keyboard;
        services.programs = &programs;
        services.createSpeech = [this] {
            auto engine = std::make_unique<RecordingSpeech>();
            speech = engine.get();
            engine->audio = withAudio;
            connect(engine.get(), &QObject::destroyed, this, [this] { speechReleased = true; });
            return engine;
        };
        services.tray = std::make_unique<RecordingTray>(tray, [this] { return FileCommands(); });
        services.messageBox = [this](QMessageBox::Icon icon, const QString& text) {
            boxes << QStringLiteral("%1 %2").arg(int(icon)).arg(text);
        };
        return std::make_unique<frmSystem>(std::move(services));
    }

    void Store(CommandList commands, const AgentSettings& settings = {}) {
        SettingsStore(dir->path()).SaveSettings(settings, commands);
    }

    static QStringList VisibleCaptions(QMenu* menu) {
        QStringList captions;
        for (QAction* action : menu->actions())
            if (action->isVisible()) captions << (action->isSeparator() ? QStringLiteral("---") : action->text());
        return captions;
    }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        tray.clear();
        boxes.clear();
        speechReleased = false;
        withAudio = true;
    }

    void freshStartComesUpNotListening() {
        auto form = MakeForm();
        form->Form_Load();
        QCOMPARE(tray.value(0), QStringLiteral("add 3 Vorlix (Loading...) (file: -1)"));
        QCOMPARE(tray.last(), QStringLiteral("modify 3 Not Listening (file: 0)"));
        QCOMPARE(form->listeningAction()->text(), QStringLiteral("Start &Listening"));
        QCOMPARE(speech->spoken, QStringList{"Welcome To Vorlix"});
        QVERIFY(!form->commandsMenu()->menuAction()->isEnabled());
        QVERIFY(!form->voiceMenu()->menuAction()->isEnabled());
        QVERIFY(boxes.isEmpty());
        QVERIFY(!form->isVisible());
        QCOMPARE(form->agent().settings.ListenTime, 5);
        QCOMPARE(form->pages()->lblSettingsFile->toolTip(), dir->filePath("settings.zqf"));

        // Switched on, nothing to wait for: the voice commands are live.
        form->listeningAction()->trigger();
        QCOMPARE(form->listeningAction()->text(), QStringLiteral("Stop &Listening"));
        QCOMPARE(tray.last(), QStringLiteral("modify 2 Vorlix (file: 0)"));
    }

    void voiceCommandsStartListening() {
        CommandList commands;
        commands.append({"mail", "Voice Command", "open mail", "Send Key(s)", "[ctrl]m"});
        AgentSettings settings;
        settings.ListenCommand = "computer";
        settings.StartupText = "hello there";
        Store(commands, settings);
        auto form = MakeForm();
        form->Form_Load();
        QVERIFY(speech->active);
        QCOMPARE(speech->words, QStringList{"computer"});
        QCOMPARE(tray.last(), QStringLiteral("modify 1 Vorlix (file: 1)"));
        QCOMPARE(form->listeningAction()->text(), QStringLiteral("Stop &Listening"));
        QCOMPARE(speech->spoken, QStringList{"hello there"});
        QCOMPARE(VisibleCaptions(form->voiceMenu()), QStringList{"open mail"});

        // Recognitions reach the agent through the engine's signal; only high confidence acts.
        emit speech->Recognized("computer", 0.0f);
        QCOMPARE(speech->words, QStringList{"computer"});
        emit speech->Recognized("computer", 1.0f);
        QCOMPARE(speech->words, QStringList{"open mail"});
    }

    void withoutAudioInputTheAgentComesUpNotListening() {
        CommandList commands;
        commands.append({"mail", "Voice Command", "open mail", "Send Key(s)", "[ctrl]m"});
        Store(commands);
        auto form = MakeFormWithoutAudio();
        form->Form_Load();
        QVERIFY(!speech->active);
        QCOMPARE(form->listeningAction()->text(), QStringLiteral("Start &Listening"));
        QCOMPARE(tray.last(), QStringLiteral("modify 3 Not Listening (file: 1)"));
    }

    void menusFollowTheCommandList() {
        CommandList commands;
        commands.append({"a", "Menu Item", "Mail", "Show Message", "first"});
        commands.append({"b", "Menu Item", "-", "Show Message", "never"});
        commands.append({"c", "Menu Item", "Mail", "Show Message", "second"});
        commands.append({"d", "Menu Item", "&Browser", "Show Message", "third"});
        Store(commands);
        auto form = MakeForm();
        form->Form_Load();
        QCOMPARE(VisibleCaptions(form->commandsMenu()), (QStringList{"Mail", "---", "Mail", "&Browser"}));
        QVERIFY(form->commandsMenu()->menuAction()->isEnabled());
        QVERIFY(!form->voiceMenu()->menuAction()->isEnabled());

        // Either entry of a shared caption runs both commands, in list order.
        form->mnuCom_Click(3);
        form->mnuCom_Click(4);
        QCOMPARE(boxes, (QStringList{"1 first", "1 second", "1 third"}));

        form->agent().commands.remove(1);
        form->agent().commands.remove(1);
        form->UpdateMenus();
        QCOMPARE(VisibleCaptions(form->commandsMenu()), (QStringList{"Mail", "&Browser"}));
        // Surplus entries stay, hidden.
        QCOMPARE(form->commandsMenu()->actions().size(), 6);
        form->agent().commands.reset();
        form->UpdateMenus();
        QCOMPARE(VisibleCaptions(form->commandsMenu()), QStringList{"---"});
        QVERIFY(!form->commandsMenu()->menuAction()->isEnabled());

        // A long list is made into entries when the submenu opens, and then runs the same way.
        for (int i = 1; i <= 1000; ++i)
            form->agent().commands.append({"n", "Menu Item", QString::number(i), "Show Message", QString::number(i)});
        form->UpdateMenus();
        QVERIFY(form->commandsMenu()->menuAction()->isEnabled());
        QVERIFY(form->commandsMenu()->actions().size() < 1000);
        emit form->commandsMenu()->aboutToShow();
        const QStringList captions = VisibleCaptions(form->commandsMenu());
        QCOMPARE(captions.size(), 1000);
        QCOMPARE(captions.last(), QStringLiteral("1000"));
        boxes.clear();
        form->mnuCom_Click(1000);
        QCOMPARE(boxes, QStringList{"1 1000"});
    }

    void closingAndMinimisingOnlyHide() {
        auto form = MakeForm();
        form->Form_Load();
        QSignalSpy unloaded(form.get(), &frmSystem::unloaded);
        form->mnuOptions_Click();
        QVERIFY(form->isVisible());
        QVERIFY(!form->close());
        QVERIFY(!form->isVisible());
        form->mnuOptions_Click();
        QVERIFY(form->isVisible());
        form->showMinimized();
        QTRY_VERIFY(!form->isVisible());
        form->mnuOptions_Click();
        QVERIFY(form->isVisible());
        QVERIFY(!form->isMinimized());
        QCOMPARE(unloaded.count(), 0);
        QVERIFY(!speechReleased);
    }

    void closeAgentSavesThenReleasesThenRemovesTheIcon() {
        auto form = MakeForm();
        form->Form_Load();
        form->agent().commands.append({"new", "Menu Item", "New", "Show Message", "x"});
        form->agent().settings.StartupText = "changed";
        QSignalSpy unloaded(form.get(), &frmSystem::unloaded);
        tray.clear();
        form->mnuExit_Click();
        QCOMPARE(tray, (QStringList{"modify 0 Vorlix (Shutting Down...) (file: 0)", "remove (file: 1)"}));
        QVERIFY(speechReleased);
        QCOMPARE(unloaded.count(), 1);
        QVERIFY(!form->saveFailed());
        AgentSettings settings;
        CommandList commands;
        SettingsStore(dir->path()).LoadSettings(settings, commands);
        QCOMPARE(settings.StartupText, QStringLiteral("changed"));
    }

    void editsReachTheFileWithinASecond() {
        auto form = MakeForm();
        form->Form_Load();
        form->agent().addCommand({"quick", "Key Watch", "[ctrl]q", "Send Key(s)", "q"});
        QTRY_COMPARE_WITH_TIMEOUT(FileCommands(), 1, 1000);
    }

    void aFailedSaveAtCloseIsReported() {
        auto form = MakeForm();
        form->Form_Load();
        QVERIFY(dir->remove());
        form->mnuExit_Click();
        QVERIFY(form->saveFailed());
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].endsWith("\r\nSaveSettings"), qPrintable(boxes[0]));
        QVERIFY(tray.last().startsWith("remove"));
    }

    void startAtLoginWritesAndRemovesTheAutostartEntry() {
        qputenv("XDG_CONFIG_HOME", dir->filePath("config").toUtf8());
        const QString entry = dir->filePath("config/autostart/vorlix.desktop");
        auto form = MakeForm();
        form->Form_Load();
        QAction* login = form->loginStartAction();
        auto* agentMenu = qobject_cast<QMenu*>(login->parent());
        emit agentMenu->aboutToShow();
        QVERIFY(!login->isChecked());

        login->trigger();
        QVERIFY(login->isChecked());
        QFile written(entry);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QVERIFY(written.readAll().contains(
            "\nExec=" + LoginStart::ExecArgument(QCoreApplication::applicationFilePath()).toUtf8() + "\n"));
        // Removed behind the agent's back: the mark follows when the menu opens.
        QVERIFY(QFile::remove(entry));
        emit agentMenu->aboutToShow();
        QVERIFY(!login->isChecked());
        login->trigger();
        QVERIFY(QFile::exists(entry));
        login->trigger();
        QVERIFY(!QFile::exists(entry) && !login->isChecked());

        // A program path with every character the Exec line reserves.
        const QString program = QStringLiteral("/opt/my \"apps\"/$x`y\\z 100%/vorlix");
        QCOMPARE(LoginStart::ExecArgument(program),
                 QStringLiteral(R"("/opt/my \\"apps\\"/\\$x\\`y\\\\z 100%%/vorlix")"));
        QVERIFY(LoginStart::Set(true, program).isEmpty());
        if (!QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate")).isEmpty())
            QCOMPARE(QProcess::execute(QStringLiteral("desktop-file-validate"), {entry}), 0);
        qunsetenv("XDG_CONFIG_HOME");
        QVERIFY(boxes.isEmpty());
    }
};

QTEST_MAIN(FrmSystemTest)
#include "frmsystem_test.moc"
