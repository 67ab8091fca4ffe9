#include "speech/testaudio.h"
#include "speech/voicetrainer.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace testaudio {

namespace {

// sox reading `input` (a file, or -n before a synth effect) and writing 16 kHz mono 16-bit samples.
Samples sox(const QStringList& input, const QStringList& effects = {}) {
    QProcess sox;
    sox.start("sox", QStringList{"-R", "-q"} + input +
                         QStringList{"-t", "raw", "-r", "16000", "-e", "signed", "-b", "16", "-c", "1", "-"} + effects);
    sox.waitForFinished();
    const QByteArray bytes = sox.readAllStandardOutput();
    Samples s(std::size_t(bytes.size() / 2));
    std::memcpy(s.data(), bytes.constData(), s.size() * 2);
    return s;
}

} // namespace

bool toolsAvailable() {
    return !QStandardPaths::findExecutable("espeak-ng").isEmpty() && !QStandardPaths::findExecutable("sox").isEmpty();
}

Samples speech(const QString& text, const QString& voice, int wpm, int pitch) {
    QTemporaryDir dir;
    const QString wav = dir.filePath("speech.wav");
    QProcess::execute("espeak-ng",
                      {"-v", voice, "-s", QString::number(wpm), "-p", QString::number(pitch), "-w", wav, text});
    return sox({wav});
}

// Repeatable (-R): the same noise every run, so a test never depends on a lucky draw.
Samples noise(const QString& kind, double seconds, double gain) {
    return sox({"-n"}, QStringList{"synth", QString::number(seconds)} + kind.split(' ') +
                           QStringList{"vol", QString::number(gain)});
}

Samples silence(double seconds) {
    return Samples(std::size_t(seconds * 16000), 0);
}

void append(Samples& a, const Samples& b) {
    a.insert(a.end(), b.begin(), b.end());
}

void addNoiseFloor(Samples& s, int amplitude, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(-amplitude, amplitude);
    for (int16_t& v : s)
        v = int16_t(std::clamp(int(v) + d(rng), -32768, 32767));
}

double rms(const Samples& s) {
    double sum = 0;
    for (int16_t v : s)
        sum += double(v) * v;
    return std::sqrt(sum / std::max<std::size_t>(1, s.size()));
}

void addRoomNoise(Samples& s, double speechRms) {
    const Samples fan = noise("pinknoise", double(s.size()) / 16000 + 0.1, 0.5);
    const double scale = speechRms / std::pow(10.0, 15.0 / 20) / std::max(1.0, rms(fan));
    for (std::size_t i = 0; i < s.size() && i < fan.size(); ++i)
        s[i] = int16_t(std::clamp(int(std::lround(s[i] + fan[i] * scale)), -32768, 32767));
}

bool writeWav(const QString& path, const Samples& s, QString* why) {
    QString reason;
    const bool ok =
        speech::writeWav(path, QByteArray(reinterpret_cast<const char*>(s.data()), qsizetype(s.size() * 2)), &reason);
    if (why) *why = reason;
    return ok;
}

} // namespace testaudio
