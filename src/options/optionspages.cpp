#include "options/optionspages.h"

#include "commands/agent.h"
#include "options/keyinfotext.h"
#include "options/listentime.h"
#include "options/tabstrip.h"
#include "options/trainingwindow.h"
#include "options/twips.h"
#include "options/ucline.h"
#include "options/voicetraining.h"
#include "speech/speechengine.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QSvgRenderer>
#include <QTabBar>
#include <algorithm>
#include <limits>

namespace {

const QString AddCaption = QStringLiteral("Add Command");
const QString EditCaption = QStringLiteral("Edit Command");
const QString NoDevice = QStringLiteral("(none)");

// The settings store keeps texts of any length, so the boxes must not cut them.
constexpr int kUnlimitedText = std::numeric_limits<int>::max();

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text, const QRect& geometry,
                  Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    label->setAlignment(alignment);
    return label;
}

QLineEdit* MakeTextBox(QWidget* parent, const QString& name, const QString& text, const QRect& geometry) {
    auto* box = new QLineEdit(text, parent);
    box->setObjectName(name);
    box->setMaxLength(kUnlimitedText);
    box->setGeometry(geometry);
    return box;
}

// Entries only: a stored kind or device is always one the list offers, or the previous choice.
QComboBox* MakeList(QWidget* parent, const QString& name, const QRect& geometry) {
    auto* list = new QComboBox(parent);
    list->setObjectName(name);
    list->setEditable(false);
    list->setGeometry(geometry);
    return list;
}

QWidget* MakePage(QWidget* parent, const QString& name, const QSize& size) {
    auto* page = new QWidget(parent);
    page->setObjectName(name);
    page->resize(size);
    return page;
}

QString Indexed(const char* name, int index) {
    return QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(index);
}

} // namespace

OptionsPages::OptionsPages(Agent& agent, QWidget* parent) : QWidget(parent), agent_(agent) {
    dialogFont_ = ChooseDialogFont();
    setFont(dialogFont_);
    const Twips tw(this);

    tabOptions = new TabStrip(this);
    tabOptions->setObjectName(QStringLiteral("tabOptions"));
    tabOptions->setGeometry(tw.rect(0, 0, 6975, 5295));
    tabOptions->addTab(QStringLiteral("&Voice Setup"));
    tabOptions->addTab(QStringLiteral("&Commands"));
    tabOptions->addTab(QStringLiteral("&About"));

    BuildVoicePage();
    BuildCommandsPage();
    BuildAboutPage();

    connect(tabOptions->tabs(), &QTabBar::currentChanged, this, &OptionsPages::tabOptions_Click);
    resize(sizeHint());
    tabOptions_Click();
}

QFont OptionsPages::ChooseDialogFont() const {
    const QString classic = QStringLiteral("MS Sans Serif");
    if (QFontDatabase::families().contains(classic, Qt::CaseInsensitive)) return QFont(classic, 8);

    // The widest texts of the pages and the widths in twips that the layout gives them.
    const Twips tw(this);
    const std::pair<QString, int> labels[] = {
        {QStringLiteral("Command Response :"), tw.x(1695)},
        {QStringLiteral("Listen Command :"), tw.x(1455)},
        {QStringLiteral("Command Value : "), tw.x(1455)},
    };
    const std::pair<QString, int> checkBoxes[] = {
        {QStringLiteral("Say with Listen"), tw.x(1455)},
        {QStringLiteral("Say with Command"), tw.x(1935)},
    };
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    QCheckBox probe;
    for (qreal points = 8; points > 6; points -= 0.25) {
        font.setPointSizeF(points);
        probe.setFont(font);
        const QFontMetricsF metrics(font);
        const bool labelsFit = std::all_of(std::begin(labels), std::end(labels), [&](const auto& fit) {
            return metrics.horizontalAdvance(fit.first) <= fit.second;
        });
        const bool boxesFit = std::all_of(std::begin(checkBoxes), std::end(checkBoxes), [&](const auto& fit) {
            probe.setText(fit.first);
            return probe.sizeHint().width() <= fit.second;
        });
        if (labelsFit && boxesFit) break;
    }
    return font;
}

QSize OptionsPages::sizeHint() const {
    return tabOptions->geometry().size();
}

void OptionsPages::BuildVoicePage() {
    const Twips tw(this);
    picVoice = MakePage(this, QStringLiteral("picVoice"), QSize(tw.x(6735), tw.y(4815)));
    QWidget* page = picVoice;
    const auto right = Qt::AlignRight | Qt::AlignVCenter;
    auto divider = [&](int index, int top) {
        ucLine2[index] = new ucLine(page);
        ucLine2[index]->setObjectName(Indexed("ucLine2", index));
        ucLine2[index]->setGeometry(tw.rect(0, top, 6735, 255));
    };

    divider(0, 120);
    Label2[0] =
        MakeLabel(page, Indexed("Label2", 0), QStringLiteral("Input Device :"), tw.rect(480, 360, 1215, 255), right);
    cmbInputDev = MakeList(page, QStringLiteral("cmbInputDev"), tw.rect(1800, 360, 4695, 315));
    divider(1, 720);
    Label2[1] =
        MakeLabel(page, Indexed("Label2", 1), QStringLiteral("Listen Command :"), tw.rect(240, 960, 1455, 255), right);
    txtListenCom =
        MakeTextBox(page, QStringLiteral("txtListenCom"), QStringLiteral("Vorlix"), tw.rect(1800, 960, 4695, 285));
    Label2[2] =
        MakeLabel(page, Indexed("Label2", 2), QStringLiteral("Listen Timeout :"), tw.rect(240, 1320, 1455, 255), right);
    txtListenTime = MakeTextBox(page, QStringLiteral("txtListenTime"),
                                QString::number(AgentSettings::DefaultListenTime), tw.rect(1800, 1320, 495, 285));
    Label3 = MakeLabel(page, QStringLiteral("Label3"), QStringLiteral("secs."), tw.rect(2400, 1320, 495, 255));
    divider(2, 1560);
    Label2[3] =
        MakeLabel(page, Indexed("Label2", 3), QStringLiteral("Command Response :"), tw.rect(0, 1800, 1695, 255), right);
    txtResponse = MakeTextBox(page, QStringLiteral("txtResponse"), QStringLiteral("Command Understood"),
                              tw.rect(1800, 1800, 4695, 285));
    const QStringList checkCaptions = {QStringLiteral("Say with Listen"), QStringLiteral("Say with Command")};
    const QRect checkPlaces[] = {tw.rect(1800, 2160, 1455, 255), tw.rect(3360, 2160, 1935, 255)};
    for (int index = 0; index < 2; ++index) {
        chkResponse[index] = new QCheckBox(checkCaptions[index], page);
        chkResponse[index]->setObjectName(Indexed("chkResponse", index));
        chkResponse[index]->setGeometry(checkPlaces[index]);
        connect(chkResponse[index], &QCheckBox::toggled, this, [this, index] { chkResponse_Click(index); });
    }
    divider(3, 2520);
    Label2[4] =
        MakeLabel(page, Indexed("Label2", 4), QStringLiteral("Startup Phrase :"), tw.rect(0, 2760, 1695, 255), right);
    txtStartup = MakeTextBox(page, QStringLiteral("txtStartup"), QStringLiteral("Welcome to Vorlix"),
                             tw.rect(1800, 2760, 4695, 285));

    // Training the recogniser on the user's voice, below the page's own settings.
    ucLineTraining = new ucLine(page);
    ucLineTraining->setObjectName(QStringLiteral("ucLineTraining"));
    ucLineTraining->setGeometry(tw.rect(0, 3240, 6735, 255));
    lblTrainingCaption = MakeLabel(page, QStringLiteral("lblTrainingCaption"), QStringLiteral("Your Voice :"),
                                   tw.rect(0, 3480, 1695, 255), right);
    lblTraining = MakeLabel(page, QStringLiteral("lblTraining"), QString(), tw.rect(1800, 3480, 4695, 255));
    cmdTrain = new QPushButton(QStringLiteral("&Train..."), page);
    cmdTrain->setObjectName(QStringLiteral("cmdTrain"));
    cmdTrain->setGeometry(tw.rect(1800, 3840, 1455, 375));
    cmdForgetTraining = new QPushButton(QStringLiteral("&Forget Training"), page);
    cmdForgetTraining->setObjectName(QStringLiteral("cmdForgetTraining"));
    cmdForgetTraining->setGeometry(tw.rect(3360, 3840, 1935, 375));
    cmdForgetTraining->setToolTip(
        QStringLiteral("Go back to the standard voice model and delete the recordings of your voice"));
    connect(cmdTrain, &QPushButton::clicked, this, &OptionsPages::cmdTrain_Click);
    connect(cmdForgetTraining, &QPushButton::clicked, this, &OptionsPages::cmdForgetTraining_Click);
    UpdateTraining();

    connect(cmbInputDev, &QComboBox::activated, this, &OptionsPages::cmbInputDev_Click);
    // Each box's change runs its lost-focus handling, so a setting follows the text at every keystroke.
    const std::pair<QLineEdit*, void (OptionsPages::*)()> boxes[] = {
        {txtListenCom, &OptionsPages::txtListenCom_LostFocus},
        {txtListenTime, &OptionsPages::txtListenTime_LostFocus},
        {txtResponse, &OptionsPages::txtResponse_LostFocus},
        {txtStartup, &OptionsPages::txtStartup_LostFocus},
    };
    for (const auto& [box, lostFocus] : boxes) {
        connect(box, &QLineEdit::textChanged, this, lostFocus);
        connect(box, &QLineEdit::editingFinished, this, lostFocus);
    }
}

void OptionsPages::BuildCommandsPage() {
    const Twips tw(this);
    picKeyboard = MakePage(this, QStringLiteral("picKeyboard"), QSize(tw.x(6735), tw.y(4815)));

    Frame1 = new QGroupBox(QStringLiteral("Commands"), picKeyboard);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(tw.rect(0, 0, 2295, 4815));
    lstKCommands = new QListWidget(Frame1);
    lstKCommands->setObjectName(QStringLiteral("lstKCommands"));
    lstKCommands->setGeometry(tw.rect(120, 240, 2055, 3975));
    lstKCommands->setSelectionMode(QAbstractItemView::SingleSelection);
    // One row height for all entries keeps a refill of thousands of commands fast.
    lstKCommands->setUniformItemSizes(true);
    cmdKNewCom = new QPushButton(QStringLiteral("&Add New Command"), Frame1);
    cmdKNewCom->setObjectName(QStringLiteral("cmdKNewCom"));
    cmdKNewCom->setGeometry(tw.rect(120, 4320, 2055, 375));

    fraEditCommand = new QGroupBox(AddCaption, picKeyboard);
    fraEditCommand->setObjectName(QStringLiteral("fraEditCommand"));
    fraEditCommand->setGeometry(tw.rect(2400, 0, 4335, 4815));
    QWidget* frame = fraEditCommand;
    const int dividerTops[] = {240, 1560, 2520};
    for (int index = 0; index < 3; ++index) {
        ucLine1[index] = new ucLine(frame);
        ucLine1[index]->setObjectName(Indexed("ucLine1", index));
        ucLine1[index]->setGeometry(tw.rect(60, dividerTops[index], 4215, 255));
    }
    const QStringList fieldLabels = {QStringLiteral("Command Name : "), QStringLiteral("Command Type : "),
                                     QStringLiteral("Command Value : "), QStringLiteral("Action Type : "),
                                     QStringLiteral("Action Value : ")};
    const int fieldTops[] = {480, 840, 1200, 1800, 2160};
    for (int index = 0; index < 5; ++index)
        lblKeyField[index] = MakeLabel(frame, Indexed("lblKeyField", index), fieldLabels[index],
                                       tw.rect(60, fieldTops[index], 1455, 255), Qt::AlignRight | Qt::AlignVCenter);
    txtKeyName = MakeTextBox(frame, QStringLiteral("txtKeyName"), QString(), tw.rect(1560, fieldTops[0], 2655, 285));
    cmbKeyType = MakeList(frame, QStringLiteral("cmbKeyType"), tw.rect(1560, fieldTops[1], 2655, 315));
    txtKeyWatch = MakeTextBox(frame, QStringLiteral("txtKeyWatch"), QString(), tw.rect(1560, fieldTops[2], 2655, 285));
    cmbKeyCom = MakeList(frame, QStringLiteral("cmbKeyCom"), tw.rect(1560, fieldTops[3], 2655, 315));
    txtKeyCom = MakeTextBox(frame, QStringLiteral("txtKeyCom"), QString(), tw.rect(1560, fieldTops[4], 2655, 285));

    txtKeyInfo = new QPlainTextEdit(frame);
    txtKeyInfo->setObjectName(QStringLiteral("txtKeyInfo"));
    txtKeyInfo->setGeometry(tw.rect(120, 2760, 4095, 1455));
    txtKeyInfo->setReadOnly(true);
    txtKeyInfo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    txtKeyInfo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The text box shows lines; the CR of each CR LF line end would show as a stray character.
    txtKeyInfo->setPlainText(QString(KeyInfoText).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));

    cmdKeyDelCom = new QPushButton(QStringLiteral("&Delete Command"), frame);
    cmdKeyDelCom->setObjectName(QStringLiteral("cmdKeyDelCom"));
    cmdKeyDelCom->setGeometry(tw.rect(120, 4320, 1935, 375));
    cmdKeyDelCom->setEnabled(false);
    cmdKeySave = new QPushButton(QStringLiteral("&Save Command"), frame);
    cmdKeySave->setObjectName(QStringLiteral("cmdKeySave"));
    cmdKeySave->setGeometry(tw.rect(2280, 4320, 1935, 375));

    connect(lstKCommands, &QListWidget::itemDoubleClicked, this, &OptionsPages::lstKCommands_DblClick);
    connect(cmdKNewCom, &QPushButton::clicked, this, &OptionsPages::cmdKNewCom_Click);
    connect(cmdKeySave, &QPushButton::clicked, this, &OptionsPages::cmdKeySave_Click);
    connect(cmdKeyDelCom, &QPushButton::clicked, this, &OptionsPages::cmdKeyDelCom_Click);
}

void OptionsPages::BuildAboutPage() {
    const Twips tw(this);
    picAbout = MakePage(this, QStringLiteral("picAbout"), QSize(tw.x(6375), tw.y(2775)));

    imgIcon = MakeLabel(picAbout, QStringLiteral("imgIcon"), QString(), tw.rect(0, 360, 1320, 1320));
    const qreal ratio = devicePixelRatioF();
    QPixmap icon(imgIcon->size() * ratio);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    QSvgRenderer(QStringLiteral(":/options/vorlix.svg")).render(&painter);
    painter.end();
    icon.setDevicePixelRatio(ratio);
    imgIcon->setPixmap(icon);

    // The About texts keep their sizes in proportion to the 8 points of the other pages.
    auto boldFont = [this](qreal points) {
        QFont font = dialogFont_;
        font.setBold(true);
        font.setPointSizeF(points * dialogFont_.pointSizeF() / 8);
        return font;
    };
    lblTitle = MakeLabel(picAbout, QStringLiteral("lblTitle"), QString(), tw.rect(1680, 240, 3885, 480));
    lblTitle->setFont(boldFont(13.5));
    lblVersion = MakeLabel(picAbout, QStringLiteral("lblVersion"), QString(), tw.rect(1680, 600, 3885, 345));
    lblVersion->setFont(boldFont(12));
    lblDescription =
        MakeLabel(picAbout, QStringLiteral("lblDescription"),
                  QStringLiteral("Vorlix allows you to use voice to interact and start programs on your PC."),
                  tw.rect(1680, 2040, 4365, 570), Qt::AlignLeft | Qt::AlignTop);
    lblDescription->setFont(boldFont(9.75));
    lblDescription->setWordWrap(true);
    // In the free band between the version and the description: two lines each.
    lblSettingsFile = MakeLabel(picAbout, QStringLiteral("lblSettingsFile"), QString(), tw.rect(1680, 1020, 4365, 480),
                                Qt::AlignLeft | Qt::AlignTop);
    lblSettingsFile->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblKeys = MakeLabel(picAbout, QStringLiteral("lblKeys"), QString(), tw.rect(1680, 1515, 4365, 480),
                        Qt::AlignLeft | Qt::AlignTop);
    lblKeys->setTextInteractionFlags(Qt::TextSelectableByMouse);
    setKeyBackEnds({}, {});
}

void OptionsPages::setKeyBackEnds(const QString& typedThrough, const QString& readFrom) {
    const QString typed = QStringLiteral("Keys typed through: "), read = QStringLiteral("Held keys read from: ");
    const QFontMetrics metrics = lblKeys->fontMetrics();
    const auto shown = [&](const QString& caption, const QString& name) {
        return caption + (name.isEmpty() ? QStringLiteral("none")
                                         : metrics.elidedText(name, Qt::ElideMiddle,
                                                              lblKeys->width() - metrics.horizontalAdvance(caption)));
    };
    lblKeys->setText(shown(typed, typedThrough) + QLatin1Char('\n') + shown(read, readFrom));
    lblKeys->setToolTip(typed + (typedThrough.isEmpty() ? QStringLiteral("none") : typedThrough) + QLatin1Char('\n') +
                        read + (readFrom.isEmpty() ? QStringLiteral("none") : readFrom));
}

void OptionsPages::setSettingsFilePath(const QString& path) {
    const QString shown = QDir::toNativeSeparators(path);
    lblSettingsFile->setText(
        QStringLiteral("Settings file:\n") +
        lblSettingsFile->fontMetrics().elidedText(shown, Qt::ElideMiddle, lblSettingsFile->width()));
    lblSettingsFile->setToolTip(shown);
}

void OptionsPages::InitOptions() {
    for (ucLine* divider : ucLine1)
        divider->setCaptionFont(fraEditCommand->font());
    ucLine1[0]->setCaption(QStringLiteral("Command Setup"));
    ucLine1[1]->setCaption(QStringLiteral("Action Setup"));
    ucLine1[2]->setCaption(QStringLiteral("Command Help"));
    ucLine2[0]->setCaption(QStringLiteral("Input Device"));
    ucLine2[1]->setCaption(QStringLiteral("Tigger Commands"));
    ucLine2[2]->setCaption(QStringLiteral("Acknowledgment"));
    ucLine2[3]->setCaption(QStringLiteral("Miscellaneous"));
    ucLineTraining->setCaption(QStringLiteral("Voice Training"));

    lblTitle->setText(QStringLiteral("Vorlix"));
    lblVersion->setText(QStringLiteral("Version: %1.%2.%3")
                            .arg(VORLIX_VERSION_MAJOR)
                            .arg(VORLIX_VERSION_MINOR)
                            .arg(VORLIX_VERSION_PATCH));

    cmbKeyCom->clear();
    cmbKeyCom->addItems({Kind::SendKeys, Kind::ExecuteProgram, Kind::ShowMessage, Kind::SayMessage});
    cmbKeyType->clear();
    cmbKeyType->addItems({Kind::KeyWatch, Kind::MenuItem, Kind::VoiceCommand});

    RefreshCommandEditor();

    cmbInputDev->clear();
    const QStringList devices = agent_.speech().GetDeviceList();
    if (!devices.isEmpty()) {
        cmbInputDev->addItem(AgentSettings::DefaultDevice);
        cmbInputDev->addItems(devices);
        cmbInputDev->setEnabled(true);
    } else {
        cmbInputDev->addItem(NoDevice);
        cmbInputDev->setEnabled(false);
    }
    // A filled list selects its first entry by itself; only a matching saved name may select one.
    cmbInputDev->setCurrentIndex(-1);
    const QString savedDevice = agent_.settings.DeviceName.toLower();
    for (int index = 0; index < cmbInputDev->count(); ++index) {
        if (cmbInputDev->itemText(index).toLower() == savedDevice) {
            cmbInputDev->setCurrentIndex(index);
            cmbInputDev_Click();
            break;
        }
    }

    txtListenCom->setText(agent_.settings.ListenCommand);
    agent_.useDefaultListenTime();
    txtListenTime->setText(QString::number(agent_.settings.ListenTime));
    txtResponse->setText(agent_.settings.Response);
    txtStartup->setText(agent_.settings.StartupText);
    if (agent_.settings.ResponseListen) chkResponse[0]->setChecked(true);
    if (agent_.settings.ResponseCommand) chkResponse[1]->setChecked(true);
}

void OptionsPages::tabOptions_Click() {
    const Twips tw(this);
    for (QWidget* page : {picVoice, picKeyboard, picAbout}) {
        page->move(tw.x(120), tw.y(360));
        page->hide();
    }
    const QString caption = tabOptions->SelectedCaption();
    if (caption == QLatin1String("&About"))
        picAbout->show();
    else if (caption == QLatin1String("&Commands"))
        picKeyboard->show();
    else if (caption == QLatin1String("&Voice Setup"))
        picVoice->show();
}

void OptionsPages::chkResponse_Click(int Index) {
    if (Index == 0)
        agent_.setResponseListen(chkResponse[0]->isChecked());
    else if (Index == 1)
        agent_.setResponseCommand(chkResponse[1]->isChecked());
}

void OptionsPages::cmbInputDev_Click() {
    if (cmbInputDev->currentIndex() < 0) return;
    const QString entry = cmbInputDev->currentText();
    agent_.setDevice(entry == NoDevice ? QString() : entry);
}

void OptionsPages::txtListenCom_LostFocus() {
    agent_.setListenCommand(TrimBlanks(txtListenCom->text()));
}

void OptionsPages::txtListenTime_LostFocus() {
    agent_.setListenTime(ReadListenTime(txtListenTime->text()));
}

void OptionsPages::txtResponse_LostFocus() {
    agent_.setResponse(TrimBlanks(txtResponse->text()));
}

void OptionsPages::txtStartup_LostFocus() {
    agent_.setStartupText(TrimBlanks(txtStartup->text()));
}

void OptionsPages::setVoiceTraining(VoiceTraining* training) {
    training_ = training;
    if (training_) {
        connect(training_, &VoiceTraining::changed, this, &OptionsPages::UpdateTraining);
        connect(training_, &VoiceTraining::progress, this, [this](int done, int of) {
            lblTraining->setText(QStringLiteral("Learning your voice: step %1 of %2").arg(done + 1).arg(of));
        });
        connect(training_, &VoiceTraining::adapted, this, [this](bool, const QString& message) {
            UpdateTraining();
            // The training window tells it when it is open.
            if (!trainingWindow_) ShowInfo(message);
        });
    }
    UpdateTraining();
}

void OptionsPages::UpdateTraining() {
    QString why;
    if (!training_) {
        lblTraining->setText(QStringLiteral("Not trained: the standard voice model is used."));
        cmdTrain->setEnabled(false);
        cmdTrain->setToolTip(QStringLiteral("Voice training is not available here."));
        cmdForgetTraining->setEnabled(false);
        return;
    }
    lblTraining->setText(training_->stateText());
    const bool tools = training_->available(&why);
    cmdTrain->setEnabled(tools);
    cmdTrain->setToolTip(tools ? QStringLiteral("Read sentences aloud so that Vorlix learns your voice") : why);
    cmdForgetTraining->setEnabled(training_->isTrained() || training_->isAdapting() ||
                                  !training_->recordedSentences().isEmpty());
}

void OptionsPages::cmdTrain_Click() {
    if (!training_ || !cmdTrain->isEnabled()) return;
    if (!trainingWindow_) {
        trainingWindow_ = new TrainingWindow(*training_, agent_.settings.DeviceName, window());
        connect(trainingWindow_, &QObject::destroyed, this, [this] {
            trainingWindow_ = nullptr;
            UpdateTraining();
        });
        connect(trainingWindow_, &TrainingWindow::recorded, this, &OptionsPages::UpdateTraining);
    }
    trainingWindow_->show();
    trainingWindow_->raise();
    trainingWindow_->activateWindow();
}

void OptionsPages::cmdForgetTraining_Click() {
    if (!training_) return;
    if (trainingWindow_) trainingWindow_->close();
    QString why;
    if (training_->forget(&why))
        ShowInfo(QStringLiteral("Vorlix has forgotten your voice: the standard voice model is used."));
    else
        ShowInfo(QStringLiteral("The standard voice model is used, but %1.").arg(why));
    UpdateTraining();
}

void OptionsPages::RefreshCommandEditor() {
    ClearEditor();
    agent_.refreshCommands();
}

void OptionsPages::ClearEditor() {
    QStringList names;
    names.reserve(agent_.commands.count());
    for (const KeyCommand& command : std::as_const(agent_.commands))
        names.append(command.Name);
    lstKCommands->clear();
    lstKCommands->addItems(names);

    txtKeyCom->clear();
    txtKeyName->clear();
    txtKeyWatch->clear();
    txtKeyName->setEnabled(true);
    cmdKeyDelCom->setEnabled(false);
    if (cmbKeyType->count() > 0) cmbKeyType->setCurrentIndex(0);
    if (cmbKeyCom->count() > 0) cmbKeyCom->setCurrentIndex(0);
    fraEditCommand->setTitle(AddCaption);
    editSlot_ = 0;
}

int OptionsPages::SelectedEntry() const {
    const QModelIndexList selected = lstKCommands->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void OptionsPages::lstKCommands_DblClick() {
    const int entry = SelectedEntry();
    if (entry < 0) return;
    const KeyCommand& command = std::as_const(agent_.commands)[entry + 1];
    txtKeyCom->setText(command.Value);
    txtKeyName->setText(command.Name);
    txtKeyWatch->setText(command.Watch);
    // A kind the list does not offer leaves the list at its previous choice.
    for (int index = 0; index < cmbKeyCom->count(); ++index)
        if (cmbKeyCom->itemText(index) == command.Type) cmbKeyCom->setCurrentIndex(index);
    for (int index = 0; index < cmbKeyType->count(); ++index)
        if (cmbKeyType->itemText(index) == command.ActionType) cmbKeyType->setCurrentIndex(index);

    txtKeyName->setEnabled(false);
    cmdKeyDelCom->setEnabled(true);
    fraEditCommand->setTitle(EditCaption);
    // Save and delete act on this command even if another entry is clicked in the meantime.
    editSlot_ = entry + 1;
    txtKeyWatch->setFocus();
}

void OptionsPages::cmdKNewCom_Click() {
    RefreshCommandEditor();
    txtKeyName->setFocus();
}

KeyCommand OptionsPages::EditedCommand() const {
    KeyCommand command;
    command.Name = TrimBlanks(txtKeyName->text());
    command.Watch = TrimBlanks(txtKeyWatch->text());
    command.Type = TrimBlanks(cmbKeyCom->currentText());
    command.Value = TrimBlanks(txtKeyCom->text());
    command.ActionType = TrimBlanks(cmbKeyType->currentText());
    return command;
}

void OptionsPages::cmdKeySave_Click() {
    const QString name = TrimBlanks(txtKeyName->text());
    if (name.isEmpty()) {
        ShowInfo(QStringLiteral("You must enter a \"Command Name\"!"));
        RefreshCommandEditor();
        return;
    }
    if (fraEditCommand->title() == AddCaption) {
        for (const KeyCommand& command : std::as_const(agent_.commands)) {
            if (TrimBlanks(command.Name) == name) {
                ShowInfo(QStringLiteral("You must enter in a new \"Command Name\"."));
                return;
            }
        }
        agent_.addCommand(EditedCommand());
    } else {
        if (!agent_.changeCommand(editSlot_, EditedCommand())) return;
    }
    ClearEditor();
}

void OptionsPages::cmdKeyDelCom_Click() {
    if (agent_.removeCommand(editSlot_)) ClearEditor();
}

void OptionsPages::ShowInfo(const QString& text) {
    if (messageSink_) {
        messageSink_(text);
        return;
    }
    QMessageBox box(QMessageBox::Information, QStringLiteral("Vorlix"), text, QMessageBox::Ok, this);
    box.exec();
}
