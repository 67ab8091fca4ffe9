#include "speech/audioinput.h"

#include "speech/recognizer.h"

#include <QAudioDevice>
#include <QAudioSource>
#include <QDebug>
#include <QMediaDevices>

namespace speech {

namespace {

// 75 ms of audio: short enough that the end of speech is noticed quickly (median 225 ms from the
// last word to Recognized), long enough that capturing silence costs about 1% of a core.
constexpr qsizetype BufferBytes = Recognizer::SampleRate * 75 / 1000 * 2;

} // namespace

AudioInput::AudioInput(Consumer consumer, QObject* parent) : QObject(parent), consumer_(std::move(consumer)) {}

AudioInput::~AudioInput() {
    close();
}

QStringList AudioInput::deviceDescriptions() {
    QStringList names;
    for (const QAudioDevice& device : QMediaDevices::audioInputs())
        names << device.description();
    return names;
}

bool AudioInput::open(const QString& description) {
    close();
    const QList<QAudioDevice> devices = QMediaDevices::audioInputs();
    if (devices.isEmpty()) return false;
    QAudioDevice chosen = QMediaDevices::defaultAudioInput();
    const QString wanted = description.toLower();
    if (!wanted.isEmpty()) {
        for (const QAudioDevice& device : devices) {
            if (device.description().toLower() == wanted) {
                chosen = device;
                break;
            }
        }
    }
    if (chosen.isNull()) chosen = devices.first();

    QAudioFormat format;
    format.setSampleRate(Recognizer::SampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    source_ = new QAudioSource(chosen, format, this);
    source_->setBufferSize(BufferBytes);
    io_ = source_->start();
    if (!io_ || source_->error() != QAudio::NoError) {
        qWarning("speech: cannot capture from \"%s\"", qPrintable(chosen.description()));
        close();
        return false;
    }
    description_ = chosen.description();
    connect(io_, &QIODevice::readyRead, this, &AudioInput::readAvailable);
    return true;
}

void AudioInput::close() {
    if (source_) {
        source_->stop();
        delete source_;
    }
    source_ = nullptr;
    io_ = nullptr;
    description_.clear();
    pending_.clear();
}

void AudioInput::readAvailable() {
    if (!io_) return;
    pending_.append(io_->readAll());
    const qsizetype whole = pending_.size() & ~qsizetype(1);
    if (whole == 0) return;
    const QByteArray chunk = pending_.left(whole);
    pending_.remove(0, whole);
    consumer_(reinterpret_cast<const int16_t*>(chunk.constData()), std::size_t(whole / 2));
}

} // namespace speech
