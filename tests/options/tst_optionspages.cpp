#include "fakes.h"
#include "options/keyinfotext.h"
#include "options/listentime.h"
#include "options/optionspages.h"
#include "options/tabstrip.h"
#include "options/twips.h"
#include "options/ucline.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QtTest>

namespace {

// The pages on a faked agent, with the messages they show recorded instead of shown.
struct Fixture {
    explicit Fixture(const QList<KeyCommand>& commands = {}, const QString& devices = QString()) {
        for (const KeyCommand& command : commands)
            fake.agent.commands.append(command);
        fake.speech.deviceList = devices;
        pages.setMessageSink([this](const QString& text) { messages.append(text); });
    }
    void init() {
        pages.InitOptions();
        fake.edits = 0;
    }
    QStringList listed() const {
        QStringList names;
        for (int row = 0; row < pages.lstKCommands->count(); ++row)
            names.append(pages.lstKCommands->item(row)->text());
        return names;
    }
    void load(int row) {
        pages.lstKCommands->setCurrentRow(row);
        pages.lstKCommands_DblClick();
    }
    QStringList names() const {
        QStringList result;
        for (const KeyCommand& command : fake.agent.commands)
            result.append(command.Name);
        return result;
    }

    FakeAgent fake;
    int menuRebuilds = 0;
    // The phrase list has to be handed over after the menus are rebuilt.
    int wordsAtLastRebuild = -1;
    QStringList messages;
    OptionsPages pages{fake.agent, [this] {
                           ++menuRebuilds;
                           wordsAtLastRebuild = fake.speech.setWordsCalls;
                       }};
};

const QList<KeyCommand> ThreeCommands = {
    MakeCommand(QStringLiteral("Mail"), Kind::VoiceCommand, QStringLiteral("open mail"), Kind::SendKeys,
                QStringLiteral("[ctrl]m")),
    MakeCommand(QStringLiteral("Editor"), Kind::MenuItem, QStringLiteral("Editor"), Kind::ExecuteProgram,
                QStringLiteral("gedit")),
    MakeCommand(QStringLiteral("Greet"), Kind::KeyWatch, QStringLiteral("[ctrl][alt]g"), Kind::ShowMessage,
                QStringLiteral("Hello")),
};

const QString EmptyNameMessage = QStringLiteral("You must enter a \"Command Name\"!");
const QString DuplicateMessage = QStringLiteral("You must enter in a new \"Command Name\".");

QStringList Entries(const QComboBox* list) {
    QStringList entries;
    for (int index = 0; index < list->count(); ++index)
        entries.append(list->itemText(index));
    return entries;
}

} // namespace

class TestOptionsPages : public QObject {
    Q_OBJECT

private slots:
    // Command editor.

    void setUpFillsTheEditorInAddMode() {
        Fixture f(ThreeCommands);
        f.init();
        QCOMPARE(f.listed(), f.names());
        QCOMPARE(Entries(f.pages.cmbKeyType), QStringList({"Key Watch", "Menu Item", "Voice Command"}));
        QCOMPARE(Entries(f.pages.cmbKeyCom),
                 QStringList({"Send Key(s)", "Execute Program", "Show Message", "Say Message"}));
        QVERIFY(!f.pages.cmbKeyType->isEditable() && !f.pages.cmbKeyCom->isEditable());
        QCOMPARE(f.pages.cmbKeyType->currentText(), QStringLiteral("Key Watch"));
        QCOMPARE(f.pages.cmbKeyCom->currentText(), QStringLiteral("Send Key(s)"));
        QCOMPARE(f.pages.fraEditCommand->title(), QStringLiteral("Add Command"));
        QVERIFY(f.pages.txtKeyName->isEnabled());
        QVERIFY(!f.pages.cmdKeyDelCom->isEnabled());
        QVERIFY(f.menuRebuilds >= 1);
        QVERIFY(f.fake.speech.setWordsCalls > f.wordsAtLastRebuild);
        QVERIFY(f.pages.txtKeyInfo->isReadOnly());
        QVERIFY(
            f.pages.txtKeyInfo->toPlainText().contains(QStringLiteral("numbers besure to enclose the key's name \n")));
        QVERIFY(f.pages.txtKeyInfo->toPlainText().contains(QStringLiteral("\n\t[ctrl]y;[ctrl]x\n")));
    }

    void helpTextIsKeptVerbatim() {
        QVERIFY(KeyInfoText.startsWith(QStringLiteral("Format for \"Key Watch\" and \"Send Key(s)\" :\r\n\r\n")));
        QVERIFY(KeyInfoText.endsWith(QStringLiteral("To use \"]\" key then use \"]]\"\r\n")));
        QCOMPARE(KeyInfoText.count(QStringLiteral("\r\n")), 59);
        QCOMPARE(KeyInfoText.count(QStringLiteral(" \r\n")), 3);
        QCOMPARE(KeyInfoText.count(QLatin1Char('\n')), KeyInfoText.count(QStringLiteral("\r\n")));
        QVERIFY(KeyInfoText.contains(QStringLiteral("\r\n\t[ctrl]y;[ctrl]x\r\n")));
    }

    void addStoresTrimmedFieldsAndTakesEffect() {
        Fixture f(ThreeCommands);
        f.init();
        const int rebuilds = f.menuRebuilds;
        f.pages.txtKeyName->setText(QStringLiteral("  Close Tab \t "));
        f.pages.cmbKeyType->setCurrentIndex(2);
        f.pages.txtKeyWatch->setText(QStringLiteral(" close tab "));
        f.pages.cmbKeyCom->setCurrentIndex(0);
        f.pages.txtKeyCom->setText(QStringLiteral("[ctrl]w "));
        QTest::mouseClick(f.pages.cmdKeySave, Qt::LeftButton);

        QCOMPARE(f.fake.agent.commands.count(), 4);
        QCOMPARE(f.fake.agent.commands[4],
                 (KeyCommand{"Close Tab \t", "Voice Command", "close tab", "Send Key(s)", "[ctrl]w"}));
        QCOMPARE(f.listed().last(), QStringLiteral("Close Tab \t"));
        QVERIFY(f.messages.isEmpty());
        QCOMPARE(f.fake.edits, 1);
        QCOMPARE(f.menuRebuilds, rebuilds + 1);
        QVERIFY(f.fake.speech.setWordsCalls > f.wordsAtLastRebuild);
        QCOMPARE(f.fake.speech.words, QStringLiteral("open mail,close tab"));
        QCOMPARE(f.pages.txtKeyName->text(), QString());
        QCOMPARE(f.pages.fraEditCommand->title(), QStringLiteral("Add Command"));
    }

    void blankNameIsRefusedAndClearsTheEditor() {
        Fixture f(ThreeCommands);
        f.init();
        f.pages.txtKeyName->setText(QStringLiteral("   "));
        f.pages.txtKeyWatch->setText(QStringLiteral("something typed"));
        f.pages.cmbKeyCom->setCurrentIndex(3);
        f.pages.cmdKeySave_Click();
        QCOMPARE(f.messages, QStringList{EmptyNameMessage});
        QCOMPARE(f.fake.agent.commands.count(), 3);
        QCOMPARE(f.pages.txtKeyWatch->text(), QString());
        QCOMPARE(f.pages.cmbKeyCom->currentIndex(), 0);
        QCOMPARE(f.pages.fraEditCommand->title(), QStringLiteral("Add Command"));
        QCOMPARE(f.fake.edits, 0);
    }

    void duplicateNameIsRefusedButOtherCaseIsNot() {
        Fixture f(ThreeCommands);
        f.init();
        f.pages.txtKeyName->setText(QStringLiteral(" Mail  "));
        f.pages.txtKeyWatch->setText(QStringLiteral("typed"));
        f.pages.cmdKeySave_Click();
        QCOMPARE(f.messages, QStringList{DuplicateMessage});
        QCOMPARE(f.fake.agent.commands.count(), 3);
        QCOMPARE(f.pages.txtKeyName->text(), QStringLiteral(" Mail  "));
        QCOMPARE(f.pages.txtKeyWatch->text(), QStringLiteral("typed"));
        QCOMPARE(f.pages.fraEditCommand->title(), QStringLiteral("Add Command"));
        QCOMPARE(f.fake.edits, 0);

        f.pages.txtKeyName->setText(QStringLiteral("MAIL"));
        f.pages.cmdKeySave_Click();
        QCOMPARE(f.messages.size(), 1);
        QCOMPARE(f.names(), QStringList({"Mail", "Editor", "Greet", "MAIL"}));
    }

    void doubleClickLoadsTheEntryForEditing() {
        Fixture f(ThreeCommands);
        f.init();
        QListWidget* list = f.pages.lstKCommands;
        f.pages.show();
        f.pages.tabOptions->tabs()->setCurrentIndex(1);
        QVERIFY(QTest::qWaitForWindowExposed(&f.pages));
        // A real double-click: the first click selects, the second press arrives as a double-click.
        const QPoint at = list->visualItemRect(list->item(1)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);

        QCOMPARE(f.pages.fraEditCommand->title(), QStringLiteral("Edit Command"));
        QCOMPARE(f.pages.txtKeyName->text(), QStringLiteral("Editor"));
        QCOMPARE(f.pages.txtKeyWatch->text(), QStringLiteral("Editor"));
        QCOMPARE(f.pages.txtKeyCom->text(), QStringLiteral("gedit"));
        QCOMPARE(f.pages.cmbKeyType->currentText(), QStringLiteral("Menu Item"));
        QCOMPARE(f.pages.cmbKeyCom->currentText(), QStringLiteral("Execute Program"));
        QVERIFY(!f.pages.txtKeyName->isEnabled());
        QVERIFY(f.pages.cmdKeyDelCom->isEnabled());
        QCOMPARE(f.pages.editedSlot(), 2);
    }

    void doubleClickWithoutSelectionDoesNothing() {
        Fixture f(ThreeCommands);
        f.init();
        f.pages.lstKCommands_DblClick();
        QCOMPARE(f.pages.fraEditCommand->title(), QStringLiteral("Add Command"));
        QCOMPARE(f.pages.editedSlot(), 0);
    }

    void editSavesTheLoadedCommandDespiteAStrayClick() {
        Fixture f(ThreeCommands);
        f.init();
        f.load(0);
        f.pages.lstKCommands->setCurrentRow(2);
        f.pages.txtKeyWatch->setText(QStringLiteral(" read mail "));
        f.pages.cmbKeyCom->setCurrentIndex(3);
        f.pages.cmdKeySave_Click();

        QCOMPARE(f.fake.agent.commands[1],
                 (KeyCommand{"Mail", "Voice Command", "read mail", "Say Message", "[ctrl]m"}));
        QCOMPARE(f.fake.agent.commands[3], ThreeCommands[2]);
        QCOMPARE(f.fake.edits, 1);
        QCOMPARE(f.fake.speech.words, QStringLiteral("read mail"));
        QCOMPARE(f.pages.fraEditCommand->title(), QStringLiteral("Add Command"));
        QVERIFY(f.pages.txtKeyName->isEnabled());
    }

    void deleteRemovesTheLoadedCommandAndKeepsTheOrder() {
        Fixture f(ThreeCommands);
        f.init();
        f.load(0);
        f.pages.lstKCommands->setCurrentRow(2);
        QTest::mouseClick(f.pages.cmdKeyDelCom, Qt::LeftButton);
        QCOMPARE(f.names(), QStringList({"Editor", "Greet"}));
        QCOMPARE(f.listed(), f.names());
        QCOMPARE(f.fake.edits, 1);
        QVERIFY(!f.pages.cmdKeyDelCom->isEnabled());

        // Entry k still loads command k + 1 after the shift.
        f.load(1);
        QCOMPARE(f.pages.txtKeyCom->text(), QStringLiteral("Hello"));
        f.pages.cmdKeyDelCom_Click();
        QCOMPARE(f.names(), QStringList({"Editor"}));
        f.load(0);
        f.pages.cmdKeyDelCom_Click();
        QVERIFY(f.fake.agent.commands.isEmpty());
        QCOMPARE(f.pages.lstKCommands->count(), 0);
        QCOMPARE(f.fake.edits, 3);
    }

    void newCommandButtonLeavesEditMode() {
        Fixture f(ThreeCommands);
        f.init();
        f.load(2);
        QTest::mouseClick(f.pages.cmdKNewCom, Qt::LeftButton);
        QCOMPARE(f.pages.fraEditCommand->title(), QStringLiteral("Add Command"));
        QCOMPARE(f.pages.txtKeyName->text(), QString());
        QVERIFY(f.pages.txtKeyName->isEnabled());
        QCOMPARE(f.pages.editedSlot(), 0);
        QCOMPARE(f.fake.edits, 0);
    }

    void kindsTheListsDoNotOfferKeepThePreviousChoice() {
        Fixture f({MakeCommand(QStringLiteral("Speak"), Kind::MenuItem, QStringLiteral("Speak"), Kind::SayMessage),
                   MakeCommand(QStringLiteral("Click"), QStringLiteral("voice command"), QStringLiteral("click"),
                               Kind::MouseAction)});
        f.init();
        f.load(0);
        f.load(1);
        QCOMPARE(f.pages.cmbKeyCom->currentText(), QStringLiteral("Say Message"));
        QCOMPARE(f.pages.cmbKeyType->currentText(), QStringLiteral("Menu Item"));
        f.pages.cmdKeySave_Click();
        QCOMPARE(f.fake.agent.commands[2].Type, QStringLiteral("Say Message"));
        QCOMPARE(f.fake.agent.commands[2].ActionType, QStringLiteral("Menu Item"));
    }

    void longAndUnicodeTextsAreKeptWhole() {
        Fixture f;
        f.init();
        const QString name = QString::fromUtf8("Größe 😀 ") + QString(10000, QChar(0x4E2D));
        const QString value = QString(10000, QLatin1Char('x'));
        f.pages.txtKeyName->setText(name);
        f.pages.txtKeyCom->setText(value);
        f.pages.cmdKeySave_Click();
        QCOMPARE(f.fake.agent.commands.count(), 1);
        QCOMPARE(f.fake.agent.commands[1].Name, name);
        QCOMPARE(f.fake.agent.commands[1].Value, value);
        f.load(0);
        QCOMPARE(f.pages.txtKeyName->text(), name);
    }

    void entriesBeyond32767MapToTheirCommands() {
        QList<KeyCommand> many;
        for (int slot = 1; slot <= 33000; ++slot)
            many.append(KeyCommand{QString::number(slot), Kind::KeyWatch, {}, Kind::SendKeys, {}});
        Fixture f(many);
        f.init();
        QCOMPARE(f.pages.lstKCommands->count(), 33000);
        f.load(32999);
        QCOMPARE(f.pages.txtKeyName->text(), QStringLiteral("33000"));
        f.pages.cmdKeyDelCom_Click();
        QCOMPARE(f.fake.agent.commands.count(), 32999);
        QCOMPARE(f.pages.lstKCommands->item(32998)->text(), QStringLiteral("32999"));
    }

    void messageBoxIsTitledVorlixWithOkOnly() {
        Fixture f;
        f.init();
        f.pages.setMessageSink(nullptr);
        QString seen;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            seen = QStringLiteral("%1|%2|%3|%4")
                       .arg(box->windowTitle(), box->text())
                       .arg(box->icon() == QMessageBox::Information)
                       .arg(box->standardButtons() == QMessageBox::Ok);
            box->accept();
        });
        closer.start(10);
        f.pages.cmdKeySave_Click();
        QCOMPARE(seen, QStringLiteral("Vorlix|%1|1|1").arg(EmptyNameMessage));
    }

    // Voice Setup page.

    void devicesAreListedAndASavedNameInOtherCaseIsApplied() {
        Fixture f({}, QStringLiteral("Built-in Audio;USB Mic"));
        f.fake.agent.settings.DeviceName = QStringLiteral("usb MIC");
        f.pages.InitOptions();
        QCOMPARE(Entries(f.pages.cmbInputDev), QStringList({"(default)", "Built-in Audio", "USB Mic"}));
        QVERIFY(f.pages.cmbInputDev->isEnabled());
        QVERIFY(!f.pages.cmbInputDev->isEditable());
        QCOMPARE(f.pages.cmbInputDev->currentText(), QStringLiteral("USB Mic"));
        QCOMPARE(f.fake.agent.settings.DeviceName, QStringLiteral("USB Mic"));
        QCOMPARE(f.fake.speech.devicesSet, QStringList{"USB Mic"});
        QVERIFY(f.fake.edits >= 1);
    }

    void noDevicesLeavesADisabledNoneEntry() {
        Fixture f;
        f.fake.agent.settings.DeviceName = QStringLiteral("(none)");
        f.init();
        QCOMPARE(Entries(f.pages.cmbInputDev), QStringList{"(none)"});
        QVERIFY(!f.pages.cmbInputDev->isEnabled());
        // "(none)" matches the saved text, and choosing it stores the empty name and attaches nothing.
        QCOMPARE(f.fake.agent.settings.DeviceName, QString());
        QVERIFY(f.fake.speech.devicesSet.isEmpty());
    }

    void emptySavedNameSelectsAndAppliesNothing() {
        Fixture f({}, QStringLiteral("Built-in Audio"));
        f.init();
        QCOMPARE(f.pages.cmbInputDev->currentIndex(), -1);
        QVERIFY(f.fake.speech.devicesSet.isEmpty());
        QCOMPARE(f.fake.agent.settings.DeviceName, QString());
    }

    void choosingAnEntryStoresAndAttachesIt() {
        Fixture f({}, QStringLiteral("Mic; Left;Other"));
        f.init();
        QCOMPARE(Entries(f.pages.cmbInputDev), QStringList({"(default)", "Mic", " Left", "Other"}));
        QComboBox* list = f.pages.cmbInputDev;
        list->setCurrentIndex(0);
        emit list->activated(0);
        QCOMPARE(f.fake.agent.settings.DeviceName, QStringLiteral("(default)"));
        list->setCurrentIndex(2);
        emit list->activated(2);
        QCOMPARE(f.fake.agent.settings.DeviceName, QStringLiteral(" Left"));
        QCOMPARE(f.fake.speech.devicesSet, QStringList({"", " Left"}));
        QCOMPARE(f.fake.edits, 2);
    }

    void setUpPutsTheSettingsIntoTheBoxes() {
        Fixture f;
        AgentSettings& s = f.fake.agent.settings;
        s.ListenCommand = QStringLiteral("computer");
        s.Response = QStringLiteral("Yes?");
        s.StartupText = QStringLiteral("Hello there");
        f.init();
        QCOMPARE(s.ListenTime, 5);
        QCOMPARE(f.pages.txtListenTime->text(), QStringLiteral("5"));
        QCOMPARE(f.pages.txtListenCom->text(), QStringLiteral("computer"));
        QCOMPARE(f.pages.txtResponse->text(), QStringLiteral("Yes?"));
        QCOMPARE(f.pages.txtStartup->text(), QStringLiteral("Hello there"));
        QCOMPARE(f.fake.speech.words, QStringLiteral("computer"));
        QCOMPARE(f.pages.ucLine2[1]->Caption(), QStringLiteral("Tigger Commands"));
        QCOMPARE(f.pages.ucLine1[2]->Caption(), QStringLiteral("Command Help"));
        QCOMPARE(f.pages.ucLine1[0]->captionLabel()->font().family(), f.pages.fraEditCommand->font().family());
        QCOMPARE(f.pages.lblTitle->text(), QStringLiteral("Vorlix"));
        QVERIFY(QRegularExpression(QStringLiteral("^Version: (0|[1-9][0-9]*)\\.(0|[1-9][0-9]*)\\.(0|[1-9][0-9]*)$"))
                    .match(f.pages.lblVersion->text())
                    .hasMatch());
    }

    void boxesFollowEveryKeystroke() {
        Fixture f;
        f.init();
        f.pages.txtListenCom->clear();
        const int voiceUpdatesBefore = f.fake.host.trayUpdates;
        QTest::keyClicks(f.pages.txtListenCom, QStringLiteral(" hey pc "));
        QCOMPARE(f.fake.agent.settings.ListenCommand, QStringLiteral("hey pc"));
        QCOMPARE(f.fake.speech.words, QStringLiteral("hey pc"));
        QCOMPARE(f.fake.host.trayUpdates - voiceUpdatesBefore, 8);

        f.pages.txtResponse->setText(QStringLiteral("  Done  "));
        f.pages.txtStartup->setText(QStringLiteral(" Hi "));
        QCOMPARE(f.fake.agent.settings.Response, QStringLiteral("Done"));
        QCOMPARE(f.fake.agent.settings.StartupText, QStringLiteral("Hi"));
        // Five keystrokes changed the trimmed listen command; blanks at its ends did not.
        QCOMPARE(f.fake.edits, 7);
    }

    void timeoutTextsGiveValidSettings_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("stored");
        QTest::newRow("abc") << "abc" << 0;
        QTest::newRow("1e99") << "1e99" << kListenTimeBound;
        QTest::newRow("-5") << "-5" << -5;
        QTest::newRow("&HFFFFFFFF") << "&HFFFFFFFF" << kListenTimeBound;
        QTest::newRow("3.5") << "3.5" << 4;
        QTest::newRow("1 0") << "1 0" << 10;
    }

    void timeoutTextsGiveValidSettings() {
        QFETCH(QString, typed);
        QFETCH(int, stored);
        Fixture f;
        f.init();
        f.pages.txtListenTime->clear();
        QTest::keyClicks(f.pages.txtListenTime, typed);
        QCOMPARE(f.fake.agent.settings.ListenTime, stored);
        QCOMPARE(f.pages.txtListenTime->text(), typed);
    }

    void checkBoxesShowAndSwitchOnlyTheirSetting() {
        Fixture unset;
        QVERIFY(!unset.pages.chkResponse[0]->isChecked() && !unset.pages.chkResponse[1]->isChecked());
        unset.init();
        QVERIFY(!unset.pages.chkResponse[0]->isChecked() && !unset.pages.chkResponse[1]->isChecked());

        Fixture f;
        f.fake.agent.settings.ResponseCommand = true;
        f.init();
        QVERIFY(!f.pages.chkResponse[0]->isChecked());
        QVERIFY(f.pages.chkResponse[1]->isChecked());
        QTest::mouseClick(f.pages.chkResponse[0], Qt::LeftButton);
        QVERIFY(f.fake.agent.settings.ResponseListen);
        QVERIFY(f.fake.agent.settings.ResponseCommand);
        QTest::mouseClick(f.pages.chkResponse[1], Qt::LeftButton);
        QVERIFY(f.fake.agent.settings.ResponseListen);
        QVERIFY(!f.fake.agent.settings.ResponseCommand);
        QCOMPARE(f.fake.edits, 2);
        f.pages.chkResponse_Click(2);
        QCOMPARE(f.fake.edits, 2);
    }

    void focusFollowsTheTableOrder() {
        Fixture f;
        QStringList order;
        for (QWidget* w = f.pages.cmbInputDev; order.size() < 7; w = w->nextInFocusChain())
            if ((w->focusPolicy() & Qt::TabFocus) && w->parentWidget() == f.pages.picVoice)
                order.append(w->objectName());
        QCOMPARE(order, QStringList({"cmbInputDev", "txtListenCom", "txtListenTime", "txtResponse", "chkResponse(0)",
                                     "chkResponse(1)", "txtStartup"}));
    }

    // Tabs and positions.

    void tabsSwitchPagesAndPlaceThem() {
        Fixture f;
        f.init();
        QTabBar* tabs = f.pages.tabOptions->tabs();
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(tabs->tabText(0), QStringLiteral("&Voice Setup"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("&Commands"));
        QCOMPARE(tabs->tabText(2), QStringLiteral("&About"));
        QCOMPARE(f.pages.tabOptions->geometry(), QRect(0, 0, 465, 353));
        QCOMPARE(f.pages.sizeHint(), QSize(465, 353));

        auto shown = [&] {
            QStringList names;
            for (QWidget* page : {f.pages.picVoice, f.pages.picKeyboard, f.pages.picAbout})
                if (!page->isHidden()) names.append(page->objectName());
            return names;
        };
        QCOMPARE(shown(), QStringList{"picVoice"});
        f.pages.picKeyboard->move(50, 60);
        tabs->setCurrentIndex(1);
        QCOMPARE(shown(), QStringList{"picKeyboard"});
        tabs->setCurrentIndex(2);
        QCOMPARE(shown(), QStringList{"picAbout"});
        f.pages.tabOptions_Click();
        QCOMPARE(shown(), QStringList{"picAbout"});
        for (QWidget* page : {f.pages.picVoice, f.pages.picKeyboard, f.pages.picAbout})
            QCOMPARE(page->pos(), QPoint(8, 24));
        QCOMPARE(f.pages.picVoice->size(), QSize(449, 321));
        QCOMPARE(f.pages.picAbout->size(), QSize(425, 185));
    }

    void voicePageControlsStandWhereGiven() {
        Fixture f;
        const Twips tw(96, 96);
        const std::pair<QWidget*, QRect> places[] = {
            {f.pages.ucLine2[0], tw.rect(0, 120, 6735, 255)},
            {f.pages.Label2[0], tw.rect(480, 360, 1215, 255)},
            {f.pages.cmbInputDev, tw.rect(1800, 360, 4695, 315)},
            {f.pages.ucLine2[1], tw.rect(0, 720, 6735, 255)},
            {f.pages.Label2[1], tw.rect(240, 960, 1455, 255)},
            {f.pages.txtListenCom, tw.rect(1800, 960, 4695, 285)},
            {f.pages.Label2[2], tw.rect(240, 1320, 1455, 255)},
            {f.pages.txtListenTime, tw.rect(1800, 1320, 495, 285)},
            {f.pages.Label3, tw.rect(2400, 1320, 495, 255)},
            {f.pages.ucLine2[2], tw.rect(0, 1560, 6735, 255)},
            {f.pages.Label2[3], tw.rect(0, 1800, 1695, 255)},
            {f.pages.txtResponse, tw.rect(1800, 1800, 4695, 285)},
            {f.pages.chkResponse[0], tw.rect(1800, 2160, 1455, 255)},
            {f.pages.chkResponse[1], tw.rect(3360, 2160, 1935, 255)},
            {f.pages.ucLine2[3], tw.rect(0, 2520, 6735, 255)},
            {f.pages.Label2[4], tw.rect(0, 2760, 1695, 255)},
            {f.pages.txtStartup, tw.rect(1800, 2760, 4695, 285)},
            {f.pages.imgIcon, tw.rect(0, 360, 1320, 1320)},
            {f.pages.lblTitle, tw.rect(1680, 240, 3885, 480)},
            {f.pages.lblVersion, tw.rect(1680, 600, 3885, 345)},
            {f.pages.lblDescription, tw.rect(1680, 2040, 4365, 570)},
        };
        for (const auto& [control, place] : places)
            QVERIFY2(control->geometry() == place, qPrintable(control->objectName()));
        for (QLabel* label : f.pages.Label2)
            QVERIFY(label->alignment() & Qt::AlignRight);
        QCOMPARE(f.pages.txtListenCom->text(), QStringLiteral("Vorlix"));
        QCOMPARE(f.pages.txtResponse->text(), QStringLiteral("Command Understood"));
        QCOMPARE(f.pages.txtStartup->text(), QStringLiteral("Welcome to Vorlix"));
        QCOMPARE(f.pages.lblTitle->font().pointSizeF(), 13.5 * f.pages.DialogFont().pointSizeF() / 8);
        QVERIFY(f.pages.lblDescription->font().bold() && f.pages.lblDescription->wordWrap());
    }

    void textsFitTheirPlaces() {
        Fixture f;
        QVERIFY(f.pages.DialogFont().pointSizeF() <= 8);
        QList<QLabel*> labels(f.pages.Label2.begin(), f.pages.Label2.end());
        for (QLabel* label : f.pages.lblKeyField)
            labels.append(label);
        for (QLabel* label : labels)
            QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->width(),
                     qPrintable(label->text()));
        for (QCheckBox* box : f.pages.chkResponse)
            QVERIFY2(box->sizeHint().width() <= box->width(), qPrintable(box->text()));
    }

    void twipsFollowTheScreenDpi() {
        const Twips twice(192, 192);
        QCOMPARE(twice.rect(120, 360, 6975, 5295), QRect(16, 48, 930, 706));
        const Twips wide(144, 120);
        QCOMPARE(wide.x(1440), 144);
        QCOMPARE(wide.y(1440), 120);
    }
};

QTEST_MAIN(TestOptionsPages)
#include "tst_optionspages.moc"
