#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <deque>

class QAudioSink;
class QBuffer;

namespace speech {

// Speaks texts one after another through the default output device: a text asked for while
// another is playing waits for it; nothing is dropped. A long text is synthesised a piece at a time,
// each when the one before has been played, so that an hour of speech costs neither an hour's audio
// in memory nor its synthesis up front.
class Synthesizer : public QObject {
    Q_OBJECT
public:
    explicit Synthesizer(QObject* parent = nullptr);
    ~Synthesizer() override;

    // Returns at once. Does nothing without an output device.
    void speak(const QString& text);
    bool isSpeaking() const { return sink_ != nullptr; }

signals:
    void speakingChanged(bool speaking);

private:
    bool startNext();
    void releaseSink();

    std::deque<QString> queue_;
    QAudioSink* sink_ = nullptr;
    QBuffer* buffer_ = nullptr;
    bool closing_ = false;
};

} // namespace speech
