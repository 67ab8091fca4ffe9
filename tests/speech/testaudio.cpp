#include "speech/testaudio.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <random>

namespace testaudio {

namespace {

const QStringList RawOut = {"-t", "raw", "-r", "16000", "-e", "signed", "-b", "16", "-c", "1", "-"};

Samples toSamples(const QByteArray& bytes) {
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
    QProcess sox;
    sox.start("sox", QStringList{"-R", "-q", wav} + RawOut);
    sox.waitForFinished();
    return toSamples(sox.readAllStandardOutput());
}

Samples noise(const QString& kind, double seconds, double gain) {
    QProcess sox;
    // Repeatable: the same noise every run, so a test never depends on a lucky draw.
    QStringList args = {"-R", "-q", "-n"};
    args += RawOut;
    args += {"synth", QString::number(seconds)};
    args += kind.split(' ');
    args += {"vol", QString::number(gain)};
    sox.start("sox", args);
    sox.waitForFinished();
    return toSamples(sox.readAllStandardOutput());
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

} // namespace testaudio
