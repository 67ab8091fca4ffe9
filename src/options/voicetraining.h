#pragma once

#include "speech/voicemodel.h"
#include "speech/voicetrainer.h"

#include <QObject>
#include <QString>

class SpeechEngine;

// The user's voice training as the options window sees it: the recordings and the adapted model in
// the user's data folder, the adaptation that runs in the background, and the speech engine that
// is handed the model. It lives as long as the agent, so an adaptation goes on when its window closes.
class VoiceTraining : public QObject {
    Q_OBJECT
public:
    VoiceTraining(const QString& directory, SpeechEngine& speech, QObject* parent = nullptr);

    speech::VoiceProfile& profile() { return profile_; }
    // False, with the reason for the user, when the training tools are not installed.
    bool available(QString* why) const;
    // Whether the speech engine uses a model adapted to the user's voice.
    bool isTrained() const { return trained_; }
    bool isAdapting() const { return trainer_.isRunning(); }
    // One line for the Voice Setup page.
    QString stateText() const;
    // Sentences recorded so far, by index into speech::trainingSentences().
    QList<int> recordedSentences() const;

    // Starts adapting on the recordings; false (and `why` set) when it cannot start.
    bool adapt(QString* why);
    // Back to the shipped model; the adapted model and the recordings are deleted.
    bool forget(QString* why);
    // While the user reads sentences, the agent's recogniser takes nothing for a command.
    void pauseAgent(bool paused);
    // Called once at start-up with the speech engine's model choice already made.
    void setTrained(bool trained) { trained_ = trained; }

signals:
    void changed();
    void progress(int done, int of);
    // The adaptation ended; `message` is for the user.
    void adapted(bool ok, const QString& message);

private:
    void onFinished(const speech::VoiceTrainer::Result& result);

    speech::VoiceProfile profile_;
    SpeechEngine& speech_;
    speech::VoiceTrainer trainer_;
    bool trained_ = false;
};

// The message for sentences the adaptation could not use: "4 of 30 sentences could not be used: say them again".
QString UnusableSentencesText(int unusable, int total);
