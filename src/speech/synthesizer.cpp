#include "speech/synthesizer.h"

#include "speech/espeak.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QBuffer>
#include <QMediaDevices>

namespace speech {

Synthesizer::Synthesizer(QObject* parent) : QObject(parent) {}

Synthesizer::~Synthesizer() {
    queue_.clear();
    releaseSink();
}

void Synthesizer::speak(const QString& text) {
    if (QMediaDevices::defaultAudioOutput().isNull())
        return;
    QByteArray pcm = Espeak::instance().synthesize(text);
    if (pcm.isEmpty())
        return;
    queue_.push_back(std::move(pcm));
    if (!sink_ && startNext())
        emit speakingChanged(true);
}

bool Synthesizer::startNext() {
    while (!queue_.empty()) {
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull())
            break;
        QAudioFormat format;
        format.setSampleRate(Espeak::instance().sampleRate());
        format.setChannelCount(1);
        format.setSampleFormat(QAudioFormat::Int16);
        buffer_ = new QBuffer(this);
        buffer_->setData(queue_.front());
        queue_.pop_front();
        buffer_->open(QIODevice::ReadOnly);
        sink_ = new QAudioSink(device, format, this);
        sink_->setVolume(1.0);
        sink_->start(buffer_);
        if (sink_->error() == QAudio::NoError) {
            connect(sink_, &QAudioSink::stateChanged, this, [this](QAudio::State state) {
                // Idle: the whole text has gone to the audio server; Stopped: the device failed.
                if (state != QAudio::IdleState && state != QAudio::StoppedState)
                    return;
                releaseSink();
                if (!startNext())
                    emit speakingChanged(false);
            });
            return true;
        }
        releaseSink();
    }
    queue_.clear();
    return false;
}

void Synthesizer::releaseSink() {
    if (!sink_)
        return;
    sink_->disconnect(this);
    sink_->stop();
    sink_->deleteLater();
    buffer_->deleteLater();
    sink_ = nullptr;
    buffer_ = nullptr;
}

} // namespace speech
