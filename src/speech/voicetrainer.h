#pragma once

#include "speech/voicemodel.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QProcess;

namespace speech {

// Adapts the shipped acoustic model to one speaker with Debian's sphinxtrain: features of the
// recordings (sphinx_fe), an alignment of each recording with its sentence (bw), then a MAP
// estimate of the Gaussian means (map_adapt). Variances and mixture weights stay as shipped:
// estimated again from a few dozen sentences they overfit and lose phrases to sound-alikes.
// Every step runs as its own process or off the user-interface thread; the finished model is
// verified, then renamed into place.
class VoiceTrainer : public QObject {
    Q_OBJECT
public:
    // Where the tools live; tests point it elsewhere to stand for a machine without them.
    struct Tools {
        QString sphinxtrain = QStringLiteral("/usr/lib/sphinxtrain");
        QString bin = QStringLiteral("/usr/bin");
    };
    static Tools& tools();
    // False, with the reason, when a tool is missing.
    static bool toolsAvailable(QString* why);

    // Fewer usable sentences than this adapt too little to be worth a new model.
    static constexpr int MinimumSentences = 5;

    struct Take {
        int sentence = 0; // index into trainingSentences(), or the caller's own numbering
        QString text;
        QString file; // 16 kHz mono 16-bit WAV
    };
    struct Result {
        bool ok = false;
        QString message;         // for the user, success or failure
        QList<int> unusable;     // sentences that could not be aligned with their text
        int used = 0, total = 0; // sentences adapted on, sentences given
        qint64 milliseconds = 0; // wall-clock time of the whole adaptation
        qint64 modelBytes = 0;   // size of the adapted model
        int passes = 0;          // adaptation passes made (a second where the first moved the model far)
        double gain = 0;         // how much better per frame the first pass fits the sentences
    };

    explicit VoiceTrainer(QObject* parent = nullptr);
    ~VoiceTrainer() override;

    // Adapts the model on `takes` and installs it in `profile`'s model folder. Returns at once;
    // progress and finished follow. False when an adaptation is already running.
    bool start(const VoiceProfile& profile, const QList<Take>& takes);
    // Stops the adaptation; nothing is installed and finished is not emitted.
    void cancel();
    bool isRunning() const { return running_; }

    // How much better per frame (log likelihood) the first adapted model must fit the training
    // sentences than the shipped one did before they are aligned and adapted on again.
    static constexpr double RealignGain = 10.0;

    // Steps of an adaptation, for progress.
    static constexpr int Steps = 10;

signals:
    void progress(int done, int of);
    void finished(const speech::VoiceTrainer::Result& result);

private:
    using Step = std::function<void()>;
    void next();
    void run(const QString& program, const QStringList& arguments, std::function<bool(const QString& output)> check);
    void runHere(std::function<QString()> work);
    void fail(const QString& why);
    QString tooFew() const;
    void finish();
    void cleanUp();

    bool running_ = false;
    int generation_ = 0;
    QList<Step> steps_;
    int step_ = 0;
    QPointer<QProcess> process_;
    VoiceProfile profile_{QString()};
    QList<Take> takes_;
    QString build_;
    QString means_;         // the newest adapted means
    double shippedFit_ = 0; // log likelihood per frame of the sentences with the shipped model
    Result result_;
    QElapsedTimer clock_;
};

// The shipped mixture weights, which come only quantised (sendump), written as the float mixture
// weight file that bw and map_adapt read. False, with the reason, on a file of another shape.
bool sendumpToMixtureWeights(const QString& sendump, const QString& mixtureWeights, QString* why);

// Reads a WAV file of 16 kHz mono 16-bit samples; empty on any other kind.
QByteArray readWavSamples(const QString& path);
// Writes 16 kHz mono 16-bit samples as a WAV file, through a temporary file renamed into place.
bool writeWav(const QString& path, const QByteArray& samples, QString* why);

} // namespace speech
