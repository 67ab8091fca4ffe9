#include "options/keyinfotext.h"
#include "options/listentime.h"
#include "options/optionspages.h"
#include "options/tabstrip.h"
#include "options/twips.h"
#include "options/ucline.h"
#include "support/fakes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QtTest>

namespace {

const QString EmptyNameMessage = QStringLiteral("You must enter a \"Command Name\"!");
const QString DuplicateMessage = QStringLiteral("You must enter in a new \"Command Name\".");
const QList<KeyCommand> ThreeCommands = {
    {"Mail", Kind::VoiceCommand, "open mail", Kind::SendKeys, "[ctrl]m"},
    {"Editor", Kind::MenuItem, "Editor", Kind::ExecuteProgram, "gedit"},
    {"Greet", Kind::KeyWatch, "[ctrl][alt]g", Kind::ShowMessage, "Hello"},
};

QStringList Entries(const QComboBox* list) {
    QStringList entries;
    for (int index = 0; index < list->count(); ++index)
        entries.append(list->itemText(index));
    return entries;
}

// The pages on a faked agent, set up, with their messages recorded instead of shown.
struct Fixture {
    explicit Fixture(const QList<KeyCommand>& commands = {}, const QStringList& devices = {},
                     const QString& deviceName = {}) {
        for (const KeyCommand& command : commands)
            fake.agent.commands.append(command);
        fake.speech.devices = devices;
        fake.agent.settings.DeviceName = deviceName;
        pages.setMessageSink([this](const QString& text) { messages.append(text); });
        pages.InitOptions();
        fake.host.edits = 0;
    }
    // The tray menus were rebuilt, and after them the recogniser got its phrases.
    bool phrasesFollowMenus() const {
        const QStringList& calls = fake.host.calls;
        const qsizetype menus = calls.lastIndexOf("menus");
        return menus >= 0 && calls.indexOf(QRegularExpression("phrases .*"), menus) > menus;
    }
    QStringList listed() const {
        QStringList names;
        for (int row = 0; row < pages.lstKCommands->count(); ++row)
            names.append(pages.lstKCommands->item(row)->text());
        return names;
    }
    QStringList names() const {
        QStringList result;
        for (const KeyCommand& command : fake.agent.commands)
            result.append(command.Name);
        return result;
    }
    void load(int row) {
        pages.lstKCommands->setCurrentRow(row);
        pages.lstKCommands_DblClick();
    }
    bool inAddMode() const {
        return pages.fraEditCommand->title() == QLatin1String("Add Command") && pages.txtKeyName->isEnabled() &&
               !pages.cmdKeyDelCom->isEnabled();
    }

    FakeAgent fake;
    QStringList messages;
    OptionsPages pages{fake.agent};
};

} // namespace

class TestOptionsPages : public QObject {
    Q_OBJECT

private slots:
    void setUpFillsTheEditorInAddMode() {
        Fixture f(ThreeCommands);
        QCOMPARE(f.listed(), f.names());
        QCOMPARE(Entries(f.pages.cmbKeyType), QStringList({"Key Watch", "Menu Item", "Voice Command"}));
        QCOMPARE(Entries(f.pages.cmbKeyCom),
                 QStringList({"Send Key(s)", "Execute Program", "Show Message", "Say Message"}));
        QVERIFY(!f.pages.cmbKeyType->isEditable() && !f.pages.cmbKeyCom->isEditable());
        QCOMPARE(f.pages.cmbKeyType->currentText() + f.pages.cmbKeyCom->currentText(), "Key WatchSend Key(s)");
        QVERIFY(f.inAddMode());
        QVERIFY(f.phrasesFollowMenus());

        QVERIFY(
            KeyInfoText.startsWith("Format for \"Key Watch\" and \"Send Key(s)\" :\r\n\r\nWhen using keys other then"));
        QVERIFY(KeyInfoText.endsWith("To use \"]\" key then use \"]]\"\r\n"));
        QCOMPARE(KeyInfoText.count("\r\n"), 59);
        QCOMPARE(KeyInfoText.count(" \r\n"), 3);
        QVERIFY(KeyInfoText.contains("\r\n\t[ctrl]y;[ctrl]x\r\n"));
    }

    void addTrimsAndRefusesBlankOrDuplicateNames() {
        Fixture f(ThreeCommands);
        f.pages.txtKeyName->setText("   ");
        f.pages.txtKeyWatch->setText("typed");
        f.pages.cmdKeySave_Click();
        QCOMPARE(f.messages, QStringList{EmptyNameMessage});
        QVERIFY(f.inAddMode() && f.pages.txtKeyWatch->text().isEmpty());

        f.pages.txtKeyName->setText(" Mail  ");
        f.pages.txtKeyWatch->setText("typed");
        f.pages.cmdKeySave_Click();
        QCOMPARE(f.messages.last(), DuplicateMessage);
        QVERIFY(f.inAddMode());
        QCOMPARE(f.pages.txtKeyName->text() + f.pages.txtKeyWatch->text(), " Mail  typed");
        QCOMPARE(f.fake.host.edits, 0);

        f.pages.txtKeyName->setText("  mail \t ");
        f.pages.cmbKeyType->setCurrentIndex(2);
        f.pages.txtKeyWatch->setText(" read mail ");
        f.pages.cmbKeyCom->setCurrentIndex(3);
        f.pages.txtKeyCom->setText(QString(10000, QChar(0x4E2D)) + " ");
        QTest::mouseClick(f.pages.cmdKeySave, Qt::LeftButton);
        QCOMPARE(f.messages.size(), 2);
        QCOMPARE(f.fake.agent.commands[4],
                 (KeyCommand{"mail \t", "Voice Command", "read mail", "Say Message", QString(10000, QChar(0x4E2D))}));
        QCOMPARE(f.listed(), f.names());
        QCOMPARE(f.fake.speech.words.join(QLatin1Char(',')), QStringLiteral("open mail,read mail"));
        QVERIFY(f.inAddMode() && f.phrasesFollowMenus());
        QCOMPARE(f.fake.host.edits, 1);
    }

    void doubleClickLoadsAndSaveKeepsToTheLoadedCommand() {
        Fixture f(ThreeCommands);
        QListWidget* list = f.pages.lstKCommands;
        f.pages.show();
        f.pages.tabOptions->tabs()->setCurrentIndex(1);
        QVERIFY(QTest::qWaitForWindowExposed(&f.pages));
        const QPoint at = list->visualItemRect(list->item(1)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(f.pages.fraEditCommand->title(), QStringLiteral("Edit Command"));
        QCOMPARE(f.pages.txtKeyName->text() + f.pages.txtKeyWatch->text() + f.pages.txtKeyCom->text(),
                 "EditorEditorgedit");
        QCOMPARE(f.pages.cmbKeyType->currentText() + f.pages.cmbKeyCom->currentText(), "Menu ItemExecute Program");
        QVERIFY(!f.pages.txtKeyName->isEnabled() && f.pages.cmdKeyDelCom->isEnabled());

        // A stray single click on another entry must not redirect the save.
        list->setCurrentRow(2);
        f.pages.txtKeyWatch->setText(" Text Editor ");
        f.pages.cmdKeySave_Click();
        QCOMPARE(f.fake.agent.commands[2],
                 (KeyCommand{"Editor", "Menu Item", "Text Editor", "Execute Program", "gedit"}));
        QCOMPARE(f.fake.agent.commands[3], ThreeCommands[2]);
        QVERIFY(f.inAddMode());
        QCOMPARE(f.fake.host.edits, 1);

        list->clearSelection();
        f.pages.lstKCommands_DblClick();
        QVERIFY(f.inAddMode());
    }

    void kindsTheListsDoNotOfferKeepThePreviousChoice() {
        Fixture f({{"Speak", Kind::MenuItem, "Speak", Kind::SayMessage, ""},
                   {"Click", "voice command", "click", Kind::MouseAction, ""}});
        f.load(0);
        f.load(1);
        QCOMPARE(f.pages.cmbKeyCom->currentText() + f.pages.cmbKeyType->currentText(), "Say MessageMenu Item");
        f.pages.cmdKeySave_Click();
        QCOMPARE(f.fake.agent.commands[2].Type + f.fake.agent.commands[2].ActionType, "Say MessageMenu Item");
    }

    void deleteRemovesTheLoadedCommandAndEntriesFollowTheSlots() {
        Fixture f(ThreeCommands);
        f.load(0);
        f.pages.lstKCommands->setCurrentRow(2);
        f.fake.host.calls.clear();
        QTest::mouseClick(f.pages.cmdKeyDelCom, Qt::LeftButton);
        QCOMPARE(f.names(), QStringList({"Editor", "Greet"}));
        QVERIFY(f.phrasesFollowMenus());
        QCOMPARE(f.listed(), f.names());
        f.load(1);
        QCOMPARE(f.pages.txtKeyCom->text(), QStringLiteral("Hello"));
        f.pages.cmdKeyDelCom_Click();
        f.load(0);
        f.pages.cmdKeyDelCom_Click();
        QVERIFY(f.fake.agent.commands.isEmpty() && f.pages.lstKCommands->count() == 0);
        QCOMPARE(f.fake.host.edits, 3);

        QList<KeyCommand> many;
        for (int slot = 1; slot <= 33000; ++slot)
            many.append({QString::number(slot), Kind::KeyWatch, {}, Kind::SendKeys, {}});
        Fixture big(many);
        big.load(32999);
        QCOMPARE(big.pages.txtKeyName->text(), QStringLiteral("33000"));
        QTest::mouseClick(big.pages.cmdKNewCom, Qt::LeftButton);
        QVERIFY(big.inAddMode() && big.pages.txtKeyName->text().isEmpty());
    }

    void messageBoxIsTitledVorlixWithOkOnly() {
        Fixture f;
        f.pages.setMessageSink(nullptr);
        QString seen;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                seen = QStringList{box->windowTitle(), box->text(), QString::number(box->icon()),
                                   QString::number(box->standardButtons())}
                           .join('|');
                box->accept();
            }
        });
        closer.start(10);
        f.pages.cmdKeySave_Click();
        QCOMPARE(seen, QStringList({"Vorlix", EmptyNameMessage, QString::number(QMessageBox::Information),
                                    QString::number(QMessageBox::Ok)})
                           .join('|'));
    }

    void deviceList_data() {
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("applied");
        QTest::newRow("other case") << QStringList{"Built-in", "USB Mic"} << "usb MIC"
                                    << QStringList{"(default)", "Built-in", "USB Mic"} << "USB Mic"
                                    << QStringList{"USB Mic"};
        QTest::newRow("empty name") << QStringList{"Built-in"} << "" << QStringList{"(default)", "Built-in"} << ""
                                    << QStringList{};
        QTest::newRow("no devices") << QStringList{} << "(none)" << QStringList{"(none)"} << "" << QStringList{};
        QTest::newRow("default") << QStringList{"Built-in"} << "(DEFAULT)" << QStringList{"(default)", "Built-in"}
                                 << "(default)" << QStringList{""};
        QTest::newRow("semicolon") << QStringList{"Mic", "Mic; Left"} << "mic; left"
                                   << QStringList{"(default)", "Mic", "Mic; Left"} << "Mic; Left"
                                   << QStringList{"Mic; Left"};
    }

    void deviceList() {
        QFETCH(QStringList, devices);
        QFETCH(QString, saved);
        QFETCH(QStringList, entries);
        QFETCH(QString, stored);
        QFETCH(QStringList, applied);
        Fixture f({}, devices, saved);
        QCOMPARE(Entries(f.pages.cmbInputDev), entries);
        QCOMPARE(f.pages.cmbInputDev->isEnabled(), !devices.isEmpty());
        QCOMPARE(f.pages.cmbInputDev->currentIndex() >= 0, !saved.isEmpty());
        QCOMPARE(f.fake.agent.settings.DeviceName, stored);
        QCOMPARE(f.fake.speech.devicesSet, applied);
        if (devices.isEmpty()) return;
        f.pages.cmbInputDev->setCurrentIndex(1);
        emit f.pages.cmbInputDev->activated(1);
        QCOMPARE(f.fake.agent.settings.DeviceName, entries[1]);
        QCOMPARE(f.fake.speech.devicesSet.last(), entries[1]);
        QCOMPARE(f.fake.host.edits, 1);
    }

    void boxesAndCheckBoxesFollowEveryEdit() {
        Fixture f;
        QCOMPARE(f.fake.agent.settings.ListenTime, 5);
        QCOMPARE(f.pages.txtListenTime->text(), QStringLiteral("5"));
        QVERIFY(!f.pages.chkResponse[0]->isChecked() && !f.pages.chkResponse[1]->isChecked());

        const int voiceUpdates = f.fake.host.phraseUpdates;
        QTest::keyClicks(f.pages.txtListenCom, " hey pc ");
        QCOMPARE(f.fake.agent.settings.ListenCommand, QStringLiteral("hey pc"));
        QCOMPARE(f.fake.speech.words, QStringList{"hey pc"});
        QCOMPARE(f.fake.host.phraseUpdates - voiceUpdates, 8);
        f.pages.txtResponse->setText("  Done  ");
        f.pages.txtStartup->setText(" Hi ");
        QCOMPARE(f.fake.agent.settings.Response + f.fake.agent.settings.StartupText, "DoneHi");
        // Only the five keystrokes that changed the trimmed listen command count as edits.
        QCOMPARE(f.fake.host.edits, 7);

        for (const auto& [typed, stored] : {std::pair{"abc", 0},
                                            {"1e99", kListenTimeBound},
                                            {"-5", -5},
                                            {"&HFFFFFFFF", kListenTimeBound},
                                            {"3.5", 4},
                                            {"1 0", 10}}) {
            f.pages.txtListenTime->clear();
            QTest::keyClicks(f.pages.txtListenTime, typed);
            QCOMPARE(f.fake.agent.settings.ListenTime, stored);
        }

        QTest::mouseClick(f.pages.chkResponse[0], Qt::LeftButton);
        QVERIFY(f.fake.agent.settings.ResponseListen && !f.fake.agent.settings.ResponseCommand);
        // Set-up ticks a box whose setting is on.
        Fixture ticked;
        ticked.fake.agent.settings.ResponseCommand = true;
        ticked.pages.InitOptions();
        QVERIFY(!ticked.pages.chkResponse[0]->isChecked() && ticked.pages.chkResponse[1]->isChecked());
        QTest::mouseClick(ticked.pages.chkResponse[1], Qt::LeftButton);
        QVERIFY(!ticked.fake.agent.settings.ResponseCommand && !ticked.fake.agent.settings.ResponseListen);
    }

    void tabsShowOnePageAtItsPlace() {
        Fixture f;
        QTabBar* tabs = f.pages.tabOptions->tabs();
        QCOMPARE(QStringList({tabs->tabText(0), tabs->tabText(1), tabs->tabText(2)}),
                 QStringList({"&Voice Setup", "&Commands", "&About"}));
        QCOMPARE(f.pages.sizeHint(), QSize(465, 353));
        const QList<QWidget*> pages = {f.pages.picVoice, f.pages.picKeyboard, f.pages.picAbout};
        for (int tab : {0, 1, 2, 0}) {
            pages[tab]->move(50, 60);
            tabs->setCurrentIndex(tab);
            f.pages.tabOptions_Click();
            for (int page = 0; page < 3; ++page) {
                QCOMPARE(pages[page]->isHidden(), page != tab);
                QCOMPARE(pages[page]->pos(), QPoint(8, 24));
            }
        }
        QCOMPARE(f.pages.ucLine2[1]->Caption() + f.pages.ucLine1[2]->Caption(), "Tigger CommandsCommand Help");
        QCOMPARE(f.pages.lblTitle->text(), QStringLiteral("Vorlix"));
        QVERIFY(QRegularExpression("^Version: (0|[1-9]\\d*)\\.(0|[1-9]\\d*)\\.(0|[1-9]\\d*)$")
                    .match(f.pages.lblVersion->text())
                    .hasMatch());
    }

    void voicePageControlsStandWhereGivenAndTheirTextsFit() {
        Fixture f;
        const Twips tw(96, 96);
        OptionsPages& p = f.pages;
        const std::pair<QWidget*, QRect> places[] = {
            {p.ucLine2[0], tw.rect(0, 120, 6735, 255)},         {p.Label2[0], tw.rect(480, 360, 1215, 255)},
            {p.cmbInputDev, tw.rect(1800, 360, 4695, 315)},     {p.ucLine2[1], tw.rect(0, 720, 6735, 255)},
            {p.Label2[1], tw.rect(240, 960, 1455, 255)},        {p.txtListenCom, tw.rect(1800, 960, 4695, 285)},
            {p.Label2[2], tw.rect(240, 1320, 1455, 255)},       {p.txtListenTime, tw.rect(1800, 1320, 495, 285)},
            {p.Label3, tw.rect(2400, 1320, 495, 255)},          {p.ucLine2[2], tw.rect(0, 1560, 6735, 255)},
            {p.Label2[3], tw.rect(0, 1800, 1695, 255)},         {p.txtResponse, tw.rect(1800, 1800, 4695, 285)},
            {p.chkResponse[0], tw.rect(1800, 2160, 1455, 255)}, {p.chkResponse[1], tw.rect(3360, 2160, 1935, 255)},
            {p.ucLine2[3], tw.rect(0, 2520, 6735, 255)},        {p.Label2[4], tw.rect(0, 2760, 1695, 255)},
            {p.txtStartup, tw.rect(1800, 2760, 4695, 285)},     {p.imgIcon, tw.rect(0, 360, 1320, 1320)},
            {p.lblTitle, tw.rect(1680, 240, 3885, 480)},        {p.lblDescription, tw.rect(1680, 2040, 4365, 570)},
        };
        for (const auto& [control, place] : places)
            QVERIFY2(control->geometry() == place, qPrintable(control->objectName()));
        QCOMPARE(Twips(192, 144).rect(120, 360, 6975, 5295), QRect(16, 36, 930, 530));

        QVERIFY(p.DialogFont().pointSizeF() <= 8);
        QList<QLabel*> labels(p.Label2.begin(), p.Label2.end());
        for (QLabel* label : p.lblKeyField)
            labels.append(label);
        for (QLabel* label : labels)
            QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->width(),
                     qPrintable(label->text()));
        for (QCheckBox* box : p.chkResponse)
            QVERIFY2(box->sizeHint().width() <= box->width(), qPrintable(box->text()));

        QStringList order;
        for (QWidget* w = p.cmbInputDev; order.size() < 7; w = w->nextInFocusChain())
            if ((w->focusPolicy() & Qt::TabFocus) && w->parentWidget() == p.picVoice) order.append(w->objectName());
        QCOMPARE(order, QStringList({"cmbInputDev", "txtListenCom", "txtListenTime", "txtResponse", "chkResponse(0)",
                                     "chkResponse(1)", "txtStartup"}));
    }
};

QTEST_MAIN(TestOptionsPages)
#include "optionspages_test.moc"
