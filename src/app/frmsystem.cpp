#include "app/frmsystem.h"

#include "options/optionspages.h"
#include "speech/speechengine.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QVBoxLayout>

#include <QDebug>

namespace {
// Edits reach the file this long after the last one, so a burst of keystrokes costs one save.
constexpr int kSaveDelayMs = 500;
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
    services_.tray->onDoubleClick = [this] { mnuOptions_Click(); };

    timKeyWatch.setInterval(100);
    timKeyWatch.setTimerType(Qt::PreciseTimer);
    connect(&timKeyWatch, &QTimer::timeout, this, [this] { agent_->timKeyWatch_Timer(); });

    saveSoon_.setSingleShot(true);
    saveSoon_.setInterval(kSaveDelayMs);
    connect(&saveSoon_, &QTimer::timeout, this, [this] { SaveNow(false); });
}

frmSystem::~frmSystem() = default;

void frmSystem::BuildTrayMenu() {
    mnuSysTray_ = new QMenu(QStringLiteral("System Tray"), this);

    mnuComMain_ = mnuSysTray_->addMenu(QStringLiteral("&Commands"));
    mnuCom_.push_back(mnuComMain_->addAction(QStringLiteral("(Command)")));
    mnuCom_[0]->setVisible(false);
    mnuD_ = mnuComMain_->addSeparator();
    mnuComMain_->menuAction()->setEnabled(false);
    mnuSysTray_->addSeparator();

    mnuVoiceMain_ = mnuSysTray_->addMenu(QStringLiteral("&Voice Commands"));
    mnuVoice_.push_back(mnuVoiceMain_->addAction(QStringLiteral("(Voice)")));
    mnuVoice_[0]->setVisible(false);
    mnuF_ = mnuVoiceMain_->addSeparator();
    mnuVoiceMain_->menuAction()->setEnabled(false);
    mnuSysTray_->addSeparator();

    QMenu* mnuB = mnuSysTray_->addMenu(QStringLiteral("&Agent"));
    connect(mnuB->addAction(QStringLiteral("&Options")), &QAction::triggered, this, &frmSystem::mnuOptions_Click);
    mnuB->addSeparator();
    mnuListening_ = mnuB->addAction(StopListeningCaption);
    mnuListening_->setShortcut(QKeySequence(QStringLiteral("Ctrl+L")));
    connect(mnuListening_, &QAction::triggered, this, [this] { agent_->mnuListening_Click(); });
    mnuB->addSeparator();
    connect(mnuB->addAction(QStringLiteral("&Close Agent")), &QAction::triggered, this, &frmSystem::mnuExit_Click);
}

void frmSystem::Form_Load() {
    ZQSpeech = services_.createSpeech();
    connect(ZQSpeech.get(), &SpeechEngine::Recognized, this, &frmSystem::ZQSpeech_Recognized);
    agent_ = std::make_unique<Agent>(*this, *ZQSpeech, *services_.keyboard, *services_.programs);
    agent_->onEdited = [this] { saveSoon_.start(); };
    pages_ = new OptionsPages(*agent_, [this] { UpdateMenus(); }, this);
    pages_->setMessageSink([this](const QString& text) { services_.messageBox(QMessageBox::Information, text); });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pages_);
    setFixedSize(pages_->sizeHint());
    setWindowState(Qt::WindowMinimized);
    services_.tray->Add(TrayImage::NotListening, TrayTip::Loading);

    store_.report = [this](const QString& message) { services_.messageBox(QMessageBox::Warning, message); };
    store_.LoadSettings(agent_->settings, agent_->commands);

    pages_->InitOptions();
    UpdateMenus();
    // Nothing to listen for, or nothing to listen with: the agent comes up not listening.
    if (!ZQSpeech->StartListen(RuleName) || !ZQSpeech->HasAudioInput())
        agent_->mnuListening_Click();
    ZQSpeech->Speak(agent_->settings.StartupText);
    timKeyWatch.start();
}

void frmSystem::mnuOptions_Click() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    pages_->tabOptions_Click();
}

void frmSystem::mnuExit_Click() { ShutDown(true); }

void frmSystem::ShutDown(bool interactive) {
    if (unloaded_)
        return;
    ExitRequested = true;
    Form_Unload(interactive);
}

void frmSystem::Form_Unload(bool interactive) {
    if (unloaded_)
        return;
    unloaded_ = true;
    timKeyWatch.stop();
    saveSoon_.stop();
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
            services_.messageBox(QMessageBox::Warning, message);
        else if (!saveFailed_ && !unloaded_)
            Notify(QStringLiteral("Vorlix could not save its settings"), error.description);
        saveFailed_ = true;
        return false;
    }
}

void frmSystem::Form_QueryUnload(QCloseEvent* event) {
    if (!ExitRequested) {
        // Closing only sends the window back to the tray.
        event->ignore();
        setWindowState(windowState() | Qt::WindowMinimized);
        hide();
        return;
    }
    event->accept();
}

void frmSystem::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void frmSystem::Form_Resize() {
    // Minimising sends the window back to the tray.
    if (isMinimized() && isVisible())
        QMetaObject::invokeMethod(this, &QWidget::hide, Qt::QueuedConnection);
}

void frmSystem::RebuildSubmenu(QMenu* submenu, QAction* separator, std::vector<QAction*>& entries,
                               const QString& kind, const std::function<void(int)>& onClick) {
    separator->setVisible(true);
    for (size_t i = 1; i < entries.size(); ++i)
        entries[i]->setVisible(false);
    int k = 0;
    for (const KeyCommand& command : agent_->commands) {
        if (command.ActionType != kind)
            continue;
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

void frmSystem::UpdateMenus() {
    RebuildSubmenu(mnuComMain_, mnuD_, mnuCom_, Kind::MenuItem, [this](int i) { mnuCom_Click(i); });
    RebuildSubmenu(mnuVoiceMain_, mnuF_, mnuVoice_, Kind::VoiceCommand, [this](int i) { mnuVoice_Click(i); });
}

void frmSystem::mnuCom_Click(int index) { agent_->RunMenuCommands(Kind::MenuItem, mnuCom_.at(size_t(index))->text()); }

void frmSystem::mnuVoice_Click(int index) {
    agent_->RunMenuCommands(Kind::VoiceCommand, mnuVoice_.at(size_t(index))->text());
}

void frmSystem::ModifyTrayIcon(TrayImage image, const QString& tip) { services_.tray->Modify(image, tip); }

void frmSystem::SetListeningCaption(const QString& caption) { mnuListening_->setText(caption); }

void frmSystem::ShowMessage(const QString& text) { services_.messageBox(QMessageBox::Information, text); }

void frmSystem::Notify(const QString& title, const QString& text) {
    qWarning().noquote() << title + QStringLiteral(": ") + text;
    services_.tray->ShowNotification(title, text);
}
