#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

class QAudioSource;
class QIODevice;

namespace speech {

// Captures 16 kHz mono 16-bit audio from one input device and hands it on in ~20 ms pieces.
class AudioInput : public QObject {
    Q_OBJECT
public:
    using Consumer = std::function<void(const int16_t* samples, std::size_t count)>;

    explicit AudioInput(Consumer consumer, QObject* parent = nullptr);
    ~AudioInput() override;

    // Descriptions of the input devices, in the audio server's order; empty without a server.
    static QStringList deviceDescriptions();

    // Opens the first device whose description equals `description` ignoring letter case, or the
    // default device when it is empty or matches none. False when there is no device to open.
    bool open(const QString& description);
    void close();
    bool isOpen() const { return source_ != nullptr; }
    QString deviceDescription() const { return description_; }

private:
    void readAvailable();

    Consumer consumer_;
    QAudioSource* source_ = nullptr;
    QIODevice* io_ = nullptr;
    QString description_;
    QByteArray pending_;
};

} // namespace speech
