#include "options/listentime.h"
#include "options/optionspages.h"
#include "options/tabstrip.h"
#include "options/ucline.h"
#include "support/fakes.h"

#include <QtTest>
#include <QtWidgets>
#include <locale>

namespace {

// The pages on a faked agent, set up, with their messages recorded instead of shown.
struct Fixture {
    explicit Fixture(const QList<KeyCommand>& commands = {}, const QStringList& devices = {}, QString device = {}) {
        for (const KeyCommand& command : commands)
            fake.agent.commands.append(command);
        fake.speech.devices = devices;
        fake.agent.settings.DeviceName = device;
        pages.setMessageSink([this](const QString& text) { messages.append(text); });
        pages.InitOptions();
        fake.host = {};
    }
    // EDITS edits so far, and since the last check the list shown, the menus, then the phrases followed.
    bool followed(int edits) {
        const qsizetype menus = fake.host.calls.indexOf("menus");
        const CommandList& commands = fake.agent.commands;
        bool listed = pages.lstKCommands->count() == commands.count();
        for (int row = 0; listed && row < commands.count(); ++row)
            listed = pages.lstKCommands->item(row)->text() == commands[row + 1].Name;
        const bool phrases = menus >= 0 && fake.host.calls.indexOf(QRegularExpression("phrases .*"), menus) > menus;
        fake.host.calls.clear();
        return fake.host.edits == edits && listed && phrases;
    }
    void load(int row) {
        pages.lstKCommands->setCurrentRow(row);
        pages.lstKCommands_DblClick();
    }
    bool inAddMode() const { return pages.txtKeyName->isEnabled() && !pages.cmdKeyDelCom->isEnabled(); }
    void enter(const QString& name, int type, const QString& watch, int action, const QString& value) {
        pages.txtKeyName->setText(name);
        pages.cmbKeyType->setCurrentIndex(type);
        pages.txtKeyWatch->setText(watch);
        pages.cmbKeyCom->setCurrentIndex(action);
        pages.txtKeyCom->setText(value);
        QTest::mouseClick(pages.cmdKeySave, Qt::LeftButton);
    }
    FakeAgent fake;
    QStringList messages;
    OptionsPages pages{fake.agent};
};

// Where a control draws: an etched line's box is taller than its line, a label's than its text.
QRect Drawn(QWidget* w) {
    if (auto* line = qobject_cast<ucLine*>(w)) return QRect(w->x(), w->y() + line->darkLineY(), w->width(), 2);
    auto* label = qobject_cast<QLabel*>(w);
    if (!label || !label->pixmap().isNull() || label->wordWrap()) return w->geometry();
    return QStyle::alignedRect(Qt::LeftToRight, label->alignment(), label->fontMetrics().size(0, label->text()),
                               w->geometry());
}

} // namespace

class TestOptionsPages : public QObject {
    Q_OBJECT

private slots:
    void addChangeAndDeleteFollowEveryEditOnce() {
        Fixture f({{"Mail", Kind::VoiceCommand, "open mail", Kind::SendKeys, "[ctrl]m"},
                   {"Editor", Kind::MenuItem, "Editor", Kind::ExecuteProgram, "gedit"},
                   {"Greet", Kind::KeyWatch, "[ctrl][alt]g", Kind::ShowMessage, "Hi"}});
        f.enter("   ", 0, "typed", 0, "");
        f.enter(" Mail  ", 0, "typed", 0, "");
        QCOMPARE(f.messages,
                 QStringList({"You must enter a \"Command Name\"!", "You must enter in a new \"Command Name\"."}));
        QCOMPARE(f.pages.txtKeyName->text(), " Mail  ");
        f.enter("  mail \t ", 2, " read mail ", 3, "Hi ");
        QCOMPARE(f.fake.agent.commands[4], (KeyCommand{"mail \t", "Voice Command", "read mail", "Say Message", "Hi"}));
        QCOMPARE(f.fake.speech.words, QStringList({"open mail", "read mail"}));
        QVERIFY(f.inAddMode() && f.followed(1) && f.messages.size() == 2);

        // A double-click loads; a stray click on another entry does not redirect the save or delete.
        f.pages.show();
        f.pages.tabOptions->tabs()->setCurrentIndex(1);
        QVERIFY(QTest::qWaitForWindowExposed(&f.pages));
        const QPoint at = f.pages.lstKCommands->visualItemRect(f.pages.lstKCommands->item(1)).center();
        QTest::mouseClick(f.pages.lstKCommands->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(f.pages.lstKCommands->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(f.pages.cmbKeyType->currentText() + f.pages.cmbKeyCom->currentText(), "Menu ItemExecute Program");
        QVERIFY(!f.inAddMode() && f.pages.fraEditCommand->title() == "Edit Command");
        f.pages.lstKCommands->setCurrentRow(2);
        f.pages.txtKeyWatch->setText(" Text Editor ");
        f.pages.cmdKeySave_Click();
        QCOMPARE(f.fake.agent.commands[2],
                 (KeyCommand{"Editor", "Menu Item", "Text Editor", "Execute Program", "gedit"}));
        QVERIFY(f.inAddMode() && f.followed(2));
        f.load(0);
        f.pages.lstKCommands->setCurrentRow(2);
        QTest::mouseClick(f.pages.cmdKeyDelCom, Qt::LeftButton);
        QCOMPARE(f.fake.agent.commands[1].Name + f.fake.agent.commands[3].Name, "Editormail \t");
        QVERIFY(f.followed(3));

        // Kinds the lists do not offer keep the previous choice.
        Fixture odd({{"Speak", Kind::MenuItem, "Speak", Kind::SayMessage, ""},
                     {"Click", "voice command", "", "Mouse Action", ""}});
        odd.load(0);
        odd.load(1);
        QCOMPARE(odd.pages.cmbKeyCom->currentText() + odd.pages.cmbKeyType->currentText(), "Say MessageMenu Item");
    }

    // The saved name chooses its entry in any case; a name with ";" is one device.
    void deviceListOffersTheDevicesAndAppliesTheChoice() {
        const struct {
            QStringList devices, applied; // applied: the names the engine was given
            QString saved, entries;
        } rows[] = {{{"Built-in", "USB Mic"}, {"USB Mic"}, "usb MIC", "(default)|Built-in|USB Mic"},
                    {{"Built-in"}, {}, "", "(default)|Built-in"},
                    {{}, {}, "(none)", "(none)"},
                    {{"Built-in"}, {""}, "(DEFAULT)", "(default)|Built-in"},
                    {{"Mic", "Mic; Left"}, {"Mic; Left"}, "mic; left", "(default)|Mic|Mic; Left"}};
        for (const auto& row : rows) {
            Fixture f({}, row.devices, row.saved);
            QStringList listed;
            for (int index = 0; index < f.pages.cmbInputDev->count(); ++index)
                listed << f.pages.cmbInputDev->itemText(index);
            QCOMPARE(listed.join('|'), row.entries);
            QCOMPARE(f.fake.speech.devicesSet, row.applied);
            if (row.devices.isEmpty()) continue;
            f.pages.cmbInputDev->setCurrentIndex(1);
            emit f.pages.cmbInputDev->activated(1);
            QCOMPARE(f.fake.agent.settings.DeviceName + f.fake.speech.devicesSet.last(), listed[1] + listed[1]);
            QCOMPARE(f.fake.host.edits, 1);
        }
    }

    void settingsFollowEveryEdit() {
        Fixture f;
        QCOMPARE(f.pages.txtListenTime->text(), "5");
        QTest::keyClicks(f.pages.txtListenCom, " hey pc ");
        QCOMPARE(f.fake.speech.words, QStringList{"hey pc"});
        f.pages.txtResponse->setText("  Done  ");
        f.pages.txtStartup->setText(" Hi ");
        QCOMPARE(f.fake.agent.settings.Response + f.fake.agent.settings.StartupText, "DoneHi");
        QCOMPARE(f.fake.host.edits, 7); // only the keystrokes that changed the trimmed listen command count
        QTest::mouseClick(f.pages.chkResponse[0], Qt::LeftButton);
        QVERIFY(f.fake.agent.settings.ResponseListen && !f.fake.agent.settings.ResponseCommand &&
                f.fake.host.edits == 8);
        f.fake.agent.settings.ResponseCommand = true;
        f.pages.InitOptions();
        QVERIFY(f.pages.chkResponse[1]->isChecked());

        // Halves round to even; blanks, tabs and line feeds count nowhere; a full-width digit is no digit;
        // a decimal point is a point whatever the user's locale says.
        struct CommaDecimal : std::numpunct<char> {
            char do_decimal_point() const override { return ','; }
        };
        const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
        const int max = kListenTimeBound;
        for (const auto& [text, seconds] :
             {std::pair{"abc", 0}, {"-5", -5},      {"2.5", 2},          {"3.5", 4},         {".7", 1},
              {"\t1\n0 .\t5", 10}, {"15 secs", 15}, {"1\r2", 1},         {"1.5E1", 15},      {"3 e +2", 300},
              {"4e", 4},           {"&H1F", 31},    {"&O178", 15},       {"&B101", 0},       {"-&H10", 0},
              {"\xef\xbc\x97", 0}, {"1e999", max},  {"&HFFFFFFFF", max}, {"214748365", max}, {"1e-400", 0}}) {
            f.pages.txtListenTime->setText(QString::fromUtf8(text));
            QVERIFY2(f.fake.agent.settings.ListenTime == seconds, text);
        }
        std::locale::global(previous);
    }

    // The caption, padded with a blank each side, stays centred over the etched line, shown where it is not.
    void etchedLineCentresItsCaption() {
        ucLine line;
        line.resize(300, 17);
        line.show();
        QLabel* label = line.captionLabel();
        const auto at = [&](int x) { return line.grab().toImage().pixel(x, line.darkLineY()); };
        const QRgb dark = line.palette().color(QPalette::Dark).rgb();
        line.setCaption(QString());
        QVERIFY(label->isHidden() && at(0) == dark && at(150) == dark && at(299) == dark);
        line.setCaption(QStringLiteral("Input Device"));
        QCOMPARE(label->text(), QStringLiteral(" Input Device "));
        for (int width : {200, 40, 600}) {
            line.resize(width, 17);
            QVERIFY(label->width() >= label->fontMetrics().horizontalAdvance(label->text()));
            QCOMPARE(label->x(), width / 2 - label->width() / 2);
        }
        QVERIFY(at(599) == dark && at(label->x() + 1) == line.palette().color(QPalette::Window).rgb());
    }

    void aboutNamesWhatKeysGoThroughAndComeFrom() {
        Fixture f;
        QCOMPARE(f.pages.lblKeys->text(), QStringLiteral("Keys typed through: none\nHeld keys read from: none"));
        f.pages.setKeyBackEnds(QStringLiteral("X11"), QStringLiteral("X11"));
        QCOMPARE(f.pages.lblKeys->text(), QStringLiteral("Keys typed through: X11\nHeld keys read from: X11"));
        const QString longName(300, QLatin1Char('x'));
        f.pages.setKeyBackEnds(longName, {});
        QVERIFY(f.pages.lblKeys->text().endsWith(QStringLiteral("\nHeld keys read from: none")));
        QVERIFY(f.pages.lblKeys->toolTip().contains(longName));
        QVERIFY(f.pages.lblKeys->fontMetrics().size(0, f.pages.lblKeys->text()).width() <= f.pages.lblKeys->width());
    }

    // Each tab shows its page alone; on every page the controls fit, overlap nowhere and show their texts.
    void pagesShowOneAtATimeAndTheirControlsFit() {
        Fixture f;
        f.pages.setSettingsFilePath(QStringLiteral("/home/user/.config/vorlix/settings.zqf"));
        f.pages.setKeyBackEnds(QStringLiteral("the Wayland virtual keyboard"),
                               QStringLiteral("the input devices (/dev/input)"));
        const QList<QWidget*> pages = {f.pages.picVoice, f.pages.picKeyboard, f.pages.picAbout};
        for (int tab : {2, 1, 0}) {
            f.pages.tabOptions->tabs()->setCurrentIndex(tab);
            for (int page = 0; page < 3; ++page)
                QCOMPARE(pages[page]->isHidden(), page != tab);
        }
        for (QWidget* box : pages + QList<QWidget*>{f.pages.Frame1, f.pages.fraEditCommand}) {
            const QRect room = pages.contains(box) ? QRect({}, f.pages.sizeHint()) : box->parentWidget()->rect();
            QVERIFY2(room.contains(box->geometry()), qPrintable(box->objectName()));
            const QList<QWidget*> controls = box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
            for (QWidget* a : controls) {
                QVERIFY2(box->rect().contains(a->geometry()) && a->geometry().contains(Drawn(a)),
                         qPrintable(a->objectName()));
                for (QWidget* b : controls) // twips rounded to pixels may touch by one
                    QVERIFY2(a == b || (Drawn(a) & Drawn(b)).height() <= 1,
                             qPrintable(a->objectName() + " " + b->objectName()));
                if (auto* check = qobject_cast<QCheckBox*>(a)) QVERIFY(check->sizeHint().width() <= check->width());
            }
        }
    }
};

QTEST_MAIN(TestOptionsPages)
#include "optionspages_test.moc"
