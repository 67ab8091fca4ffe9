#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QList>
#include <QSet>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class VoiceTraining;
namespace speech {
class AudioInput;
}

// Training: the user reads the sentences aloud one at a time from the chosen input device, each
// take ends when they stop speaking and the next sentence follows; then the recogniser is adapted
// to their voice in the background.
class TrainingWindow : public QDialog {
    Q_OBJECT
public:
    // `deviceName`: the input device of the Voice Setup page ("(default)" or empty for the default).
    TrainingWindow(VoiceTraining& training, const QString& deviceName, QWidget* parent = nullptr);
    ~TrainingWindow() override;

    // The sentence being asked for (index into speech::trainingSentences()); -1 when all are done.
    int currentSentence() const { return current_; }
    bool isRecording() const { return audio_ != nullptr; }

    void cmdSayAgain_Click();
    void cmdSkip_Click();
    void cmdTrain_Click();

    QLabel* lblStep;
    QLabel* lblSentence;
    QProgressBar* pbLevel;
    QLabel* lblStatus;
    QPushButton* cmdSayAgain;
    QPushButton* cmdSkip;
    QPushButton* cmdTrain;
    QPushButton* cmdClose;
    QProgressBar* pbAdapt;

signals:
    // A sentence's recording was kept.
    void recorded(int sentence);

protected:
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;

private:
    void hear(const int16_t* samples, std::size_t count);
    void endTake();
    void showSentence();
    void moveOn();
    void startListening();
    void stopListening();
    void watch();
    void updateButtons();
    void setStatus(const QString& text);

    VoiceTraining& training_;
    QString deviceName_;
    std::unique_ptr<speech::AudioInput> audio_;
    int current_ = 0;
    int lastTaken_ = -1;
    QSet<int> skipped_;

    // A simple end-pointer: speech starts when the level rises well above the background and ends
    // after a pause; the background follows the quietest stretches.
    double floor_ = 0;
    int loudBlocks_ = 0;
    int quietBlocks_ = 0;
    bool inSpeech_ = false;
    std::vector<int16_t> preroll_;
    std::vector<int16_t> take_;
    QElapsedTimer sinceAudio_;
    QElapsedTimer sinceSpeech_;
    QTimer watchdog_;
    bool silentWarned_ = false;
    bool unplugged_ = false;
};
