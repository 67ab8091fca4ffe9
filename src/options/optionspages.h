#pragma once

#include <QFont>
#include <QString>
#include <QWidget>
#include <array>
#include <functional>

class Agent;
struct KeyCommand;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class TabStrip;
class TrainingWindow;
class VoiceTraining;
class ucLine;

// The client area of the options window frmSystem: the tab strip and its three pages, Voice Setup,
// Commands (the command editor) and About. Every edit goes through the agent's edit methods, which
// change its settings or command list and carry the change everywhere it matters at once.
// Controls are public so that the window and the tests can reach them by their given names.
class OptionsPages : public QWidget {
    Q_OBJECT

public:
    explicit OptionsPages(Agent& agent, QWidget* parent = nullptr);

    // Fills every page from the settings and the speech engine's device list; once, before listening starts.
    void InitOptions();
    // Refills the command list, clears the editor into Add mode, rebuilds the tray menus and phrases.
    void RefreshCommandEditor();
    // Shows the page of the selected tab; the window calls it after showing itself.
    void tabOptions_Click();

    // Voice Setup page.
    void cmbInputDev_Click();
    void chkResponse_Click(int Index);
    void txtListenCom_LostFocus();
    void txtListenTime_LostFocus();
    void txtResponse_LostFocus();
    void txtStartup_LostFocus();
    // Voice training: opens the training window; goes back to the shipped model.
    void cmdTrain_Click();
    void cmdForgetTraining_Click();
    // Where the user's voice training lives; without one the training buttons stay disabled.
    void setVoiceTraining(VoiceTraining* training);
    TrainingWindow* trainingWindow() const { return trainingWindow_; }

    // Commands page.
    void lstKCommands_DblClick();
    void cmdKNewCom_Click();
    void cmdKeySave_Click();
    void cmdKeyDelCom_Click();

    // Where the page's information messages go. By default a modal box titled "Vorlix" with an OK
    // button; tests and scripted runs put a recorder here.
    using MessageSink = std::function<void(const QString& text)>;
    void setMessageSink(MessageSink sink) { messageSink_ = std::move(sink); }

    // Names the settings file on the About page.
    void setSettingsFilePath(const QString& path);
    // Names on the About page what keys are typed through and what held keys are read from (empty: none).
    void setKeyBackEnds(const QString& typedThrough, const QString& readFrom);

    // "MS Sans Serif" at 8 points where the system has it. Otherwise the platform's dialog typeface,
    // at 8 points or as much smaller as it takes for the page texts to fit the places laid out for them.
    QFont DialogFont() const { return dialogFont_; }
    QSize sizeHint() const override;

    TabStrip* tabOptions;
    QWidget* picVoice;
    QWidget* picKeyboard;
    QWidget* picAbout;

    std::array<ucLine*, 4> ucLine2;
    std::array<QLabel*, 5> Label2;
    QComboBox* cmbInputDev;
    QLineEdit* txtListenCom;
    QLineEdit* txtListenTime;
    QLabel* Label3;
    QLineEdit* txtResponse;
    std::array<QCheckBox*, 2> chkResponse;
    QLineEdit* txtStartup;
    ucLine* ucLineTraining;
    QLabel* lblTrainingCaption;
    QLabel* lblTraining;
    QPushButton* cmdTrain;
    QPushButton* cmdForgetTraining;

    QGroupBox* Frame1;
    QListWidget* lstKCommands;
    QPushButton* cmdKNewCom;
    QGroupBox* fraEditCommand;
    std::array<ucLine*, 3> ucLine1;
    std::array<QLabel*, 5> lblKeyField;
    QLineEdit* txtKeyName;
    QComboBox* cmbKeyType;
    QLineEdit* txtKeyWatch;
    QComboBox* cmbKeyCom;
    QLineEdit* txtKeyCom;
    QPlainTextEdit* txtKeyInfo;
    QPushButton* cmdKeyDelCom;
    QPushButton* cmdKeySave;

    QLabel* imgIcon;
    QLabel* lblTitle;
    QLabel* lblVersion;
    QLabel* lblDescription;
    QLabel* lblSettingsFile;
    QLabel* lblKeys;

private:
    QFont ChooseDialogFont() const;
    void BuildVoicePage();
    void BuildCommandsPage();
    void BuildAboutPage();
    void ShowInfo(const QString& text);
    void UpdateTraining();
    int SelectedEntry() const;
    KeyCommand EditedCommand() const;
    // Refills the command list and clears the editor into Add mode.
    void ClearEditor();

    Agent& agent_;
    VoiceTraining* training_ = nullptr;
    TrainingWindow* trainingWindow_ = nullptr;
    MessageSink messageSink_;
    int editSlot_ = 0;
    QFont dialogFont_;
};
