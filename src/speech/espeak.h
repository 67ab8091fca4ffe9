#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace speech {

// espeak-ng keeps one global state per process; every use goes through here, under one lock.
class Espeak {
public:
    static Espeak& instance();

    bool isAvailable() const { return sampleRate_ > 0; }
    int sampleRate() const { return sampleRate_; }

    // espeak-ng's own phoneme mnemonics for `text` in US English: phonemes separated by "_",
    // words by " " (e.g. "v_'o@_l_I_k_s"). Empty when espeak-ng is unavailable.
    QString phonemes(const QString& text);

    // `text` spoken by `voice` at `wordsPerMinute`, as mono 16-bit PCM at sampleRate().
    QByteArray synthesize(const QString& text, const QString& voice = QStringLiteral("en-us"), int wordsPerMinute = 175,
                          int pitch = 50);

private:
    Espeak();
    int sampleRate_ = 0;
};

} // namespace speech
