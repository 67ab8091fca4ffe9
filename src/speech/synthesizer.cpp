#include "speech/synthesizer.h"

#include "speech/espeak.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QBuffer>
#include <QCoreApplication>
#include <QMediaDevices>
#include <QPointer>

namespace speech {

namespace {

// About half a minute of speech: synthesised in a few milliseconds, a few hundred kilobytes of audio.
constexpr qsizetype PieceChars = 400;

// Cuts after the last sentence end, line break or blank before PieceChars, so that the voice pauses
// where the text does; a text without any is cut where it must be, never inside a surrogate pair.
QStringList pieces(const QString& text) {
    QStringList out;
    qsizetype start = 0;
    while (text.size() - start > PieceChars) {
        qsizetype cut = -1, blank = -1;
        for (qsizetype i = start + PieceChars - 1; i > start && cut < 0; --i) {
            const QChar c = text.at(i);
            if (c == QLatin1Char('.') || c == QLatin1Char('!') || c == QLatin1Char('?') || c == QLatin1Char('\n'))
                cut = i + 1;
            else if (blank < 0 && c.isSpace())
                blank = i + 1;
        }
        if (cut < 0)
            cut = blank > 0 ? blank : start + PieceChars - (text.at(start + PieceChars - 1).isHighSurrogate() ? 1 : 0);
        out << text.mid(start, cut - start);
        start = cut;
    }
    out << text.mid(start);
    return out;
}

} // namespace

Synthesizer::Synthesizer(QObject* parent) : QObject(parent) {}

Synthesizer::~Synthesizer() {
    // A sink's destructor runs the event loop for a moment, which may deliver the queued release
    // below: the sinks go while this object is still whole, and that release then does nothing.
    closing_ = true;
    queue_.clear();
    if (sink_) {
        sink_->disconnect(this);
        sink_->stop();
    }
    // Sinks before the buffers they read from.
    QList<QPointer<QObject>> parts;
    for (QAudioSink* sink : findChildren<QAudioSink*>(Qt::FindDirectChildrenOnly))
        parts << sink;
    for (QObject* child : children())
        parts << child;
    for (const QPointer<QObject>& part : parts)
        delete part.data();
    sink_ = nullptr;
    buffer_ = nullptr;
    QCoreApplication::removePostedEvents(this);
}

void Synthesizer::speak(const QString& text) {
    if (QMediaDevices::defaultAudioOutput().isNull() || text.trimmed().isEmpty()) return;
    for (const QString& piece : pieces(text))
        queue_.push_back(piece);
    if (!sink_ && startNext()) emit speakingChanged(true);
}

bool Synthesizer::startNext() {
    while (!queue_.empty()) {
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull()) break;
        const QByteArray pcm = Espeak::instance().synthesize(queue_.front());
        queue_.pop_front();
        if (pcm.isEmpty()) continue;
        QAudioFormat format;
        format.setSampleRate(Espeak::instance().sampleRate());
        format.setChannelCount(1);
        format.setSampleFormat(QAudioFormat::Int16);
        buffer_ = new QBuffer(this);
        buffer_->setData(pcm);
        buffer_->open(QIODevice::ReadOnly);
        sink_ = new QAudioSink(device, format, this);
        sink_->setVolume(1.0);
        sink_->start(buffer_);
        if (sink_->error() == QAudio::NoError) {
            connect(sink_, &QAudioSink::stateChanged, this, [this](QAudio::State state) {
                // Idle: the whole text has gone to the audio server; Stopped: the device failed.
                if (state != QAudio::IdleState && state != QAudio::StoppedState) return;
                // Released after the sink's own signal has returned: stopping and releasing it
                // inside the signal crashed the agent now and then when the sink was deleted.
                sink_->disconnect(this);
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        if (closing_) return;
                        releaseSink();
                        if (!startNext()) emit speakingChanged(false);
                    },
                    Qt::QueuedConnection);
            });
            return true;
        }
        releaseSink();
    }
    queue_.clear();
    return false;
}

void Synthesizer::releaseSink() {
    if (!sink_) return;
    sink_->disconnect(this);
    sink_->stop();
    sink_->deleteLater();
    buffer_->deleteLater();
    sink_ = nullptr;
    buffer_ = nullptr;
}

} // namespace speech
