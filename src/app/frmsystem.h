#pragma once

#include "app/trayicon.h"
#include "commands/agent.h"
#include "commands/programstarter.h"
#include "store/settingsstore.h"

#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QAction;
class QMenu;
class SpeechEngine;
class OptionsPages;
class VoiceTraining;

// The listening switch's captions: the one to stop while listening is on, the one to start while it is off.
inline const QString StopListeningCaption = QStringLiteral("Stop &Listening");
inline const QString StartListeningCaption = QStringLiteral("Start &Listening");
// Not "Start at &Login": "Stop &Listening" has the L, and a shared access key only selects.
inline const QString LoginStartCaption = QStringLiteral("&Start at Login");

// What the main window is built from: the desktop services behind their interfaces.
struct FormServices {
    QString directory;                  // where the settings file lives
    keys::Keyboard* keyboard = nullptr; // never null
    ProgramStarter* programs = nullptr; // never null
    // Called once, at load, with the folder of the user's adapted voice model (empty: the shipped one).
    std::function<std::unique_ptr<SpeechEngine>(const QString& voiceModel)> createSpeech;
    std::unique_ptr<TrayIcon> tray;
    // Shows a modal message box titled "Vorlix" with an OK button; replaced in tests.
    std::function<void(QMessageBox::Icon, const QString&)> messageBox;
    // Where the user's voice training is kept; empty: no training.
    QString voiceDirectory;
};

// The agent's one window: hidden until the options are asked for, owner of the tray icon and menu,
// the key-watch timer, the speech object and the option pages.
class frmSystem : public QWidget, public AgentHost {
    Q_OBJECT
public:
    explicit frmSystem(FormServices services);
    ~frmSystem() override;

    // Start-up: loads the settings and brings the agent up in the tray.
    void Form_Load();
    void mnuOptions_Click();
    // Writes or removes the entry that starts the agent with the user's session.
    void mnuLoginStart_Click(bool on);
    // "&Close Agent": the only way the agent ends.
    void mnuExit_Click();
    // The same orderly end for a session that ends or a termination signal; reports go to stderr.
    // Asked for while a handler waits in a nested event loop (a message box, the start-up load), it
    // closes what waits and ends once that handler has returned.
    void ShutDown(bool interactive);
    // Another start with the same settings file handed over: show the options, once start-up is done.
    // False when the agent is ending and will not show them.
    bool ShowOptionsRequested();

    void UpdateMenus();
    void ZQSpeech_Recognized(const QString& text, float confidence) { agent_->onRecognized(text, confidence); }
    void mnuListening_Click() { agent_->toggleListening(); }
    void timKeyWatch_Timer() { agent_->tick(); }
    void mnuCom_Click(int index);
    void mnuVoice_Click(int index);

    Agent& agent() { return *agent_; }
    QMenu* trayMenu() const { return mnuSysTray_; }
    QAction* listeningAction() const { return mnuListening_; }
    QAction* loginStartAction() const { return mnuLoginStart_; }
    QMenu* commandsMenu() const { return mnuComMain_; }
    QMenu* voiceMenu() const { return mnuVoiceMain_; }
    SettingsStore& store() { return store_; }
    bool saveFailed() const { return saveFailed_; }
    OptionsPages* pages() const { return pages_; }

    // AgentHost: the window picks the tray image and tip and the switch's caption for what the agent reports.
    void PhrasesChanged(Phrases phrases) override;
    void ListeningChanged(bool listening) override;
    void CommandsChanged() override { UpdateMenus(); }
    void Edited() override { saveSoon_.start(); }
    void ShowMessage(const QString& text) override;
    void Notify(const QString& title, const QString& text) override;

    // Writes the settings now; false (reported) when the file could not be written.
    bool SaveNow(bool interactive);

signals:
    void unloaded();

protected:
    void closeEvent(QCloseEvent* event) override { Form_QueryUnload(event); }
    void changeEvent(QEvent* event) override;

private:
    void BuildTrayMenu();
    void ModifyTrayIcon(TrayImage image, const QString& tip);
    void Form_QueryUnload(QCloseEvent* event);
    void Form_Resize();
    void Form_Unload(bool interactive);
    bool CanUnloadNow() const;
    void CloseWaitingWindows();
    // Every message box of the agent goes through here; none opens once the agent is ending.
    void Tell(QMessageBox::Icon icon, const QString& text);
    void UpdateSubmenu(QMenu* submenu, QAction* separator, std::vector<QAction*>& entries, const QString& kind,
                       bool& stale, const std::function<void(int)>& onClick);
    void RebuildSubmenu(QMenu* submenu, QAction* separator, std::vector<QAction*>& entries, const QString& kind,
                        const std::function<void(int)>& onClick);

    FormServices services_;
    SettingsStore store_;
    std::unique_ptr<SpeechEngine> ZQSpeech;
    std::unique_ptr<Agent> agent_;
    OptionsPages* pages_ = nullptr;
    VoiceTraining* training_ = nullptr;
    QTimer timKeyWatch;
    QTimer saveSoon_;
    QTimer unloadWhenSafe_;
    bool ExitRequested = false;
    bool loading_ = false;
    bool unloadPending_ = false;
    bool unloadInteractive_ = false;
    bool optionsRequested_ = false;
    bool unloaded_ = false;
    bool saveFailed_ = false;

    QMenu* mnuSysTray_ = nullptr;
    QMenu* mnuComMain_ = nullptr;
    QMenu* mnuVoiceMain_ = nullptr;
    QAction* mnuD_ = nullptr;
    QAction* mnuF_ = nullptr;
    QAction* mnuListening_ = nullptr;
    QAction* mnuLoginStart_ = nullptr;
    std::vector<QAction*> mnuCom_;
    std::vector<QAction*> mnuVoice_;
    // A long submenu is filled when it opens; until then it is stale.
    bool mnuComStale_ = false;
    bool mnuVoiceStale_ = false;
};
