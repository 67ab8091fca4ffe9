#include "app/frmsystem.h"

#include "app/desktopfiles.h"
#include "options/optionspages.h"
#include "options/voicetraining.h"
#include "speech/speechengine.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDebug>
#include <QDialog>
#include <QMenu>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {
// Edits reach the file this long after the last one, so a burst of keystrokes costs one save.
constexpr int kSaveDelayMs = 500;
// How often a deferred shutdown looks whether the handler it waits for has returned.
constexpr int kUnloadRetryMs = 20;
// Submenus up to this long are filled at once. Longer ones are filled when they open: a menu entry costs
// about a kilobyte, and adding one costs time in proportion to the entries already there, so tens of
// thousands took seconds and a hundred megabytes at every change of the command list.
constexpr int kEagerMenuEntries = 256;
} // namespace

frmSystem::frmSystem(FormServices services) : services_(std::move(services)), store_(services_.directory) {
    setWindowTitle(QStringLiteral("Vorlix Options"));
    setWindowIcon(TrayImageIcon(TrayImage::WindowIcon));
    if (!services_.messageBox) {
        services_.messageBox = [this](QMessageBox::Icon icon, const QString& text) {
            QMessageBox box(icon, QStringLiteral("Vorlix"), text, QMessageBox::Ok, isVisible() ? this : nullptr);
            box.exec();
        };
    }
    BuildTrayMenu();
    services_.tray->menu = mnuSysTray_;
    services_.tray->onOpen = [this] { mnuOptions_Click(); };

    timKeyWatch.setInterval(100);
    timKeyWatch.setTimerType(Qt::PreciseTimer);
    connect(&timKeyWatch, &QTimer::timeout, this, &frmSystem::timKeyWatch_Timer);

    saveSoon_.setSingleShot(true);
    saveSoon_.setInterval(kSaveDelayMs);
    connect(&saveSoon_, &QTimer::timeout, this, [this] { SaveNow(false); });

    unloadWhenSafe_.setInterval(kUnloadRetryMs);
    connect(&unloadWhenSafe_, &QTimer::timeout, this, [this] {
        if (!CanUnloadNow()) {
            CloseWaitingWindows();
            return;
        }
        unloadWhenSafe_.stop();
        Form_Unload(unloadInteractive_);
    });
}

frmSystem::~frmSystem() = default;

void frmSystem::BuildTrayMenu() {
    mnuSysTray_ = new QMenu(QStringLiteral("System Tray"), this);

    mnuComMain_ = mnuSysTray_->addMenu(QStringLiteral("&Commands"));
    mnuCom_.push_back(mnuComMain_->addAction(QStringLiteral("(Command)")));
    mnuCom_[0]->setVisible(false);
    mnuD_ = mnuComMain_->addSeparator();
    mnuComMain_->menuAction()->setEnabled(false);
    connect(mnuComMain_, &QMenu::aboutToShow, this, [this] {
        if (std::exchange(mnuComStale_, false))
            RebuildSubmenu(mnuComMain_, mnuD_, mnuCom_, Kind::MenuItem, [this](int i) { mnuCom_Click(i); });
    });
    mnuSysTray_->addSeparator();

    mnuVoiceMain_ = mnuSysTray_->addMenu(QStringLiteral("&Voice Commands"));
    mnuVoice_.push_back(mnuVoiceMain_->addAction(QStringLiteral("(Voice)")));
    mnuVoice_[0]->setVisible(false);
    mnuF_ = mnuVoiceMain_->addSeparator();
    mnuVoiceMain_->menuAction()->setEnabled(false);
    connect(mnuVoiceMain_, &QMenu::aboutToShow, this, [this] {
        if (std::exchange(mnuVoiceStale_, false))
            RebuildSubmenu(mnuVoiceMain_, mnuF_, mnuVoice_, Kind::VoiceCommand, [this](int i) { mnuVoice_Click(i); });
    });
    mnuSysTray_->addSeparator();

    QMenu* mnuB = mnuSysTray_->addMenu(QStringLiteral("&Agent"));
    connect(mnuB->addAction(QStringLiteral("&Options")), &QAction::triggered, this, &frmSystem::mnuOptions_Click);
    mnuLoginStart_ = mnuB->addAction(LoginStartCaption);
    mnuLoginStart_->setCheckable(true);
    connect(mnuLoginStart_, &QAction::triggered, this, &frmSystem::mnuLoginStart_Click);
    // The entry may have been added or removed outside the agent.
    connect(mnuB, &QMenu::aboutToShow, this, [this] { mnuLoginStart_->setChecked(LoginStart::IsOn()); });
    mnuB->addSeparator();
    mnuListening_ = mnuB->addAction(StopListeningCaption);
    mnuListening_->setShortcut(QKeySequence(QStringLiteral("Ctrl+L")));
    connect(mnuListening_, &QAction::triggered, this, &frmSystem::mnuListening_Click);
    mnuB->addSeparator();
    connect(mnuB->addAction(QStringLiteral("&Close Agent")), &QAction::triggered, this, &frmSystem::mnuExit_Click);
}

void frmSystem::Form_Load() {
    loading_ = true;
    // A model adapted to the user's voice is used only when it is whole; a damaged one is set aside
    // (reported once, below) and the shipped model is used.
    QString voiceModel, damage;
    if (!services_.voiceDirectory.isEmpty()) {
        speech::VoiceProfile profile(services_.voiceDirectory);
        profile.removeLeftovers();
        if (profile.state(&damage) == speech::VoiceProfile::State::Trained)
            voiceModel = profile.modelFolder();
        else if (!damage.isEmpty())
            profile.setAsideDamaged();
    }
    ZQSpeech = services_.createSpeech(voiceModel);
    connect(ZQSpeech.get(), &SpeechEngine::Recognized, this, &frmSystem::ZQSpeech_Recognized);
    agent_ = std::make_unique<Agent>(*this, *ZQSpeech, *services_.keyboard, *services_.programs);
    pages_ = new OptionsPages(*agent_, this);
    pages_->setSettingsFilePath(store_.SettingsFilePath());
    pages_->setKeyBackEnds(QString::fromStdString(services_.keyboard->sendsThrough()),
                           QString::fromStdString(services_.keyboard->watchesThrough()));
    pages_->setMessageSink([this](const QString& text) { Tell(QMessageBox::Information, text); });
    if (!services_.voiceDirectory.isEmpty()) {
        training_ = new VoiceTraining(services_.voiceDirectory, *ZQSpeech, this);
        training_->setTrained(!voiceModel.isEmpty() && ZQSpeech->VoiceModel() == voiceModel);
        // The recogniser is built aside: a model that passed its manifest may still fail to load there.
        connect(ZQSpeech.get(), &SpeechEngine::VoiceModelChanged, this, [this](const QString& folder) {
            training_->setTrained(!folder.isEmpty());
            if (folder.isEmpty())
                Tell(QMessageBox::Warning, tr("The voice training could not be loaded; the standard voice model is "
                                              "used. Train again on the Voice Setup page."));
        });
        pages_->setVoiceTraining(training_);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pages_);
    setFixedSize(pages_->sizeHint());
    // The window waits hidden, never minimised: a window created minimised carries an "iconic"
    // start hint, and a window manager that reads it before Qt clears it on the first showing maps
    // the window iconic, which sends it straight back to the tray.
    services_.tray->Add(TrayImage::NotListening, TrayTip::Loading);

    store_.report = [this](const QString& message) { Tell(QMessageBox::Warning, message); };
    store_.notice = [this](const QString& message) {
        qWarning().noquote() << message;
        if (!unloaded_) Tell(QMessageBox::Information, message);
    };
    store_.LoadSettings(agent_->settings, agent_->commands);

    pages_->InitOptions();
    store_.AcceptDefaults(agent_->settings);
    UpdateMenus();
    // Nothing to listen for, or nothing to listen with: the agent comes up not listening.
    if (!ZQSpeech->StartListen(RuleName) || !ZQSpeech->HasAudioInput()) mnuListening_Click();
    loading_ = false;
    // Asked to end while the load waited in a message box: the end comes next, without a greeting.
    if (unloadPending_) return;
    ZQSpeech->Speak(agent_->settings.StartupText);
    if (!damage.isEmpty())
        Notify(QStringLiteral("Vorlix voice training"),
               QStringLiteral("Your trained voice model cannot be used: %1. The standard voice model is used; "
                              "train again on the Voice Setup page.")
                   .arg(damage));
    timKeyWatch.start();
    if (optionsRequested_) mnuOptions_Click();
}

bool frmSystem::ShowOptionsRequested() {
    if (ExitRequested) return false;
    if (loading_)
        optionsRequested_ = true;
    else
        QMetaObject::invokeMethod(this, &frmSystem::mnuOptions_Click, Qt::QueuedConnection);
    return true;
}

void frmSystem::mnuOptions_Click() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    pages_->tabOptions_Click();
}

void frmSystem::mnuExit_Click() {
    ShutDown(true);
}

void frmSystem::mnuLoginStart_Click(bool on) {
    QString error;
    const QString program = on ? ProgramFilePath(&error) : QString();
    if (error.isEmpty()) error = LoginStart::Set(on, program);
    if (!error.isEmpty()) Tell(QMessageBox::Warning, error);
    mnuLoginStart_->setChecked(LoginStart::IsOn());
}

void frmSystem::ShutDown(bool interactive) {
    if (unloaded_) {
        // Already ending, perhaps waiting in the box that reports a failed save: a termination ends that wait.
        if (!interactive) CloseWaitingWindows();
        return;
    }
    ExitRequested = true;
    unloadInteractive_ = unloadInteractive_ || interactive;
    if (CanUnloadNow()) {
        unloadWhenSafe_.stop();
        Form_Unload(unloadInteractive_);
        return;
    }
    // A handler below this one waits in a nested event loop and goes on with the speech object, the
    // store and the pages when the wait ends: close what it waits for and end after it has returned.
    unloadPending_ = true;
    CloseWaitingWindows();
    unloadWhenSafe_.start();
}

bool frmSystem::CanUnloadNow() const {
    // The main event loop is level 1 (0 before it runs); a modal box or menu runs one more.
    return !loading_ && QThread::currentThread()->loopLevel() <= 1;
}

void frmSystem::CloseWaitingWindows() {
    for (int i = 0; i < 16 && QApplication::activePopupWidget(); ++i)
        QApplication::activePopupWidget()->close();
    mnuSysTray_->close();
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows)
        if (auto* dialog = qobject_cast<QDialog*>(window); dialog && dialog->isVisible()) dialog->reject();
}

void frmSystem::Tell(QMessageBox::Icon icon, const QString& text) {
    if (unloadPending_) {
        qWarning().noquote() << QString(text).replace(QLatin1String("\r\n"), QLatin1String(" - "));
        return;
    }
    services_.messageBox(icon, text);
}

void frmSystem::Form_Unload(bool interactive) {
    if (unloaded_) return;
    unloaded_ = true;
    unloadPending_ = false;
    timKeyWatch.stop();
    saveSoon_.stop();
    CloseWaitingWindows();
    hide();
    ModifyTrayIcon(TrayImage::WindowIcon, TrayTip::ShuttingDown);
    SaveNow(interactive);
    agent_->ReleaseSpeech();
    ZQSpeech.reset();
    services_.tray->Remove();
    emit unloaded();
}

bool frmSystem::SaveNow(bool interactive) {
    try {
        store_.SaveSettings(agent_->settings, agent_->commands);
        saveFailed_ = false;
        return true;
    } catch (const StoreError& error) {
        const QString message = SettingsStore::FormatError(error, QStringLiteral("SaveSettings"));
        qWarning().noquote() << QString(message).replace(QLatin1String("\r\n"), QLatin1String(" - "));
        // A failing autosave is told once, not at every keystroke; the save at the end always tells.
        if (interactive)
            Tell(QMessageBox::Warning, message);
        else if (!saveFailed_ && !unloaded_)
            Notify(QStringLiteral("Vorlix could not save its settings"), error.description);
        saveFailed_ = true;
        return false;
    }
}

void frmSystem::Form_QueryUnload(QCloseEvent* event) {
    if (!ExitRequested) {
        // Closing only sends the window back to the tray.
        // Only hidden: a minimised state set now reaches the window's properties later, and read
        // back after the window was shown again it hid the window at once.
        event->ignore();
        hide();
        return;
    }
    event->accept();
}

void frmSystem::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) Form_Resize();
}

void frmSystem::Form_Resize() {
    // Minimising sends the window back to the tray.
    if (isMinimized() && isVisible()) QMetaObject::invokeMethod(this, &QWidget::hide, Qt::QueuedConnection);
}

void frmSystem::RebuildSubmenu(QMenu* submenu, QAction* separator, std::vector<QAction*>& entries, const QString& kind,
                               const std::function<void(int)>& onClick) {
    separator->setVisible(true);
    for (size_t i = 1; i < entries.size(); ++i)
        entries[i]->setVisible(false);
    int k = 0;
    for (const KeyCommand& command : std::as_const(agent_->commands)) {
        if (command.ActionType != kind) continue;
        ++k;
        if (int(entries.size()) <= k) {
            auto* entry = new QAction(submenu);
            submenu->insertAction(separator, entry);
            connect(entry, &QAction::triggered, this, [onClick, k] { onClick(k); });
            entries.push_back(entry);
        }
        QAction* entry = entries[size_t(k)];
        entry->setText(command.Watch);
        entry->setSeparator(command.Watch == QLatin1String("-"));
        entry->setVisible(true);
    }
    separator->setVisible(k == 0);
    submenu->menuAction()->setEnabled(k != 0);
}

void frmSystem::UpdateSubmenu(QMenu* submenu, QAction* separator, std::vector<QAction*>& entries, const QString& kind,
                              bool& stale, const std::function<void(int)>& onClick) {
    const CommandList& commands = agent_->commands;
    const auto count = std::count_if(commands.begin(), commands.end(),
                                     [&](const KeyCommand& command) { return command.ActionType == kind; });
    stale = count > kEagerMenuEntries;
    if (stale)
        submenu->menuAction()->setEnabled(true);
    else
        RebuildSubmenu(submenu, separator, entries, kind, onClick);
}

void frmSystem::UpdateMenus() {
    UpdateSubmenu(mnuComMain_, mnuD_, mnuCom_, Kind::MenuItem, mnuComStale_, [this](int i) { mnuCom_Click(i); });
    UpdateSubmenu(mnuVoiceMain_, mnuF_, mnuVoice_, Kind::VoiceCommand, mnuVoiceStale_,
                  [this](int i) { mnuVoice_Click(i); });
}

void frmSystem::mnuCom_Click(int index) {
    agent_->RunMenuCommands(Kind::MenuItem, mnuCom_.at(size_t(index))->text());
}

void frmSystem::mnuVoice_Click(int index) {
    agent_->RunMenuCommands(Kind::VoiceCommand, mnuVoice_.at(size_t(index))->text());
}

void frmSystem::ModifyTrayIcon(TrayImage image, const QString& tip) {
    services_.tray->Modify(image, tip);
}

void frmSystem::PhrasesChanged(Phrases phrases) {
    ModifyTrayIcon(phrases == Phrases::ListenPhrases ? TrayImage::Waiting : TrayImage::Live, TrayTip::Running);
}

void frmSystem::ListeningChanged(bool listening) {
    mnuListening_->setText(listening ? StopListeningCaption : StartListeningCaption);
    if (!listening) ModifyTrayIcon(TrayImage::NotListening, TrayTip::NotListening);
}

void frmSystem::ShowMessage(const QString& text) {
    Tell(QMessageBox::Information, text);
}

void frmSystem::Notify(const QString& title, const QString& text) {
    qWarning().noquote() << title + QStringLiteral(": ") + text;
    services_.tray->ShowNotification(title, text);
}
