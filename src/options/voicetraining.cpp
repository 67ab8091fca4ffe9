#include "options/voicetraining.h"

#include "speech/speechengine.h"

#include <QDir>
#include <QFile>

QString UnusableSentencesText(int unusable, int total) {
    return QStringLiteral("%1 of %2 sentences could not be used: say them again").arg(unusable).arg(total);
}

VoiceTraining::VoiceTraining(const QString& directory, SpeechEngine& speech, QObject* parent)
    : QObject(parent), profile_(directory), speech_(speech) {
    connect(&trainer_, &speech::VoiceTrainer::progress, this, &VoiceTraining::progress);
    connect(&trainer_, &speech::VoiceTrainer::finished, this, &VoiceTraining::onFinished);
}

bool VoiceTraining::available(QString* why) const {
    return speech::VoiceTrainer::toolsAvailable(why);
}

QString VoiceTraining::stateText() const {
    if (isAdapting()) return QStringLiteral("Learning your voice...");
    if (trained_) return QStringLiteral("Trained on your voice.");
    return QStringLiteral("Not trained: the standard voice model is used.");
}

QList<int> VoiceTraining::recordedSentences() const {
    QList<int> recorded;
    for (int i = 0; i < speech::trainingSentences().size(); ++i)
        if (profile_.hasRecording(i)) recorded << i;
    return recorded;
}

void VoiceTraining::pauseAgent(bool paused) {
    speech_.PauseHearing(paused);
}

bool VoiceTraining::adapt(QString* why) {
    if (isAdapting()) {
        *why = QStringLiteral("Vorlix is already learning your voice.");
        return false;
    }
    QList<speech::VoiceTrainer::Take> takes;
    for (int i : recordedSentences())
        takes << speech::VoiceTrainer::Take{i, speech::trainingSentences()[i], profile_.recordingFile(i)};
    if (takes.size() < speech::VoiceTrainer::MinimumSentences) {
        *why = QStringLiteral("Record at least %1 sentences first.").arg(speech::VoiceTrainer::MinimumSentences);
        return false;
    }
    trainer_.start(profile_, takes);
    emit changed();
    return true;
}

bool VoiceTraining::forget(QString* why) {
    trainer_.cancel();
    speech_.SetVoiceModel(QString());
    trained_ = false;
    const bool ok = profile_.forget(why);
    emit changed();
    return ok;
}

void VoiceTraining::onFinished(const speech::VoiceTrainer::Result& result) {
    QString message;
    const QString unusable =
        result.unusable.isEmpty() ? QString() : UnusableSentencesText(int(result.unusable.size()), result.total) + '.';
    // Sentences the aligner could not use are recorded again the next time.
    for (int sentence : result.unusable)
        QFile::remove(profile_.recordingFile(sentence));
    if (result.ok) {
        if (speech_.SetVoiceModel(profile_.modelFolder())) {
            trained_ = true;
            message = QStringLiteral("Vorlix has learnt your voice from %1 sentences.").arg(result.used);
        } else {
            trained_ = false;
            message = QStringLiteral("The new voice model could not be loaded; the standard voice model is used.");
        }
        if (!unusable.isEmpty()) message += QLatin1Char(' ') + unusable;
    } else {
        message = QStringLiteral("Vorlix could not learn your voice: %1. The %2 voice model is still in use.")
                      .arg(result.message, trained_ ? QStringLiteral("previous") : QStringLiteral("standard"));
        if (!unusable.isEmpty() && !result.message.contains(QLatin1String("could be used")))
            message += QLatin1Char(' ') + unusable;
    }
    emit changed();
    emit adapted(result.ok && trained_, message);
}
