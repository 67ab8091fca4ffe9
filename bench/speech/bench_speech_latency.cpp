// Latency from the last speech sample to Recognized, through the real audio path: the phrase is
// played on the test speaker, captured from the virtual microphone by Qt Multimedia, decoded and
// raised by clsSpeech. Run it under scripts/with-desktop.sh.
#include "corpus.h"
#include "speech/clsspeech.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

void writeWav(const QString& path, const testaudio::Samples& s) {
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    auto le32 = [&](quint32 v) { f.write(reinterpret_cast<const char*>(&v), 4); };
    auto le16 = [&](quint16 v) { f.write(reinterpret_cast<const char*>(&v), 2); };
    const quint32 bytes = quint32(s.size() * 2);
    f.write("RIFF");
    le32(36 + bytes);
    f.write("WAVEfmt ");
    le32(16);
    le16(1);
    le16(1);
    le32(16000);
    le32(32000);
    le16(2);
    le16(16);
    f.write("data");
    le32(bytes);
    f.write(reinterpret_cast<const char*>(s.data()), bytes);
}

// Position of the last sample that is clearly speech, in milliseconds.
double lastSpeechMs(const testaudio::Samples& s) {
    for (std::size_t i = s.size(); i-- > 0;)
        if (std::abs(int(s[i])) > 300) return i / 16.0;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    clsSpeech speech;
    if (speech.GetDeviceList().isEmpty() || qEnvironmentVariableIsEmpty("VORLIX_TEST_SPEAKER")) {
        std::printf("bench_speech_latency: no test audio server (run under scripts/with-desktop.sh)\n");
        return 0;
    }
    const QString speaker = qEnvironmentVariable("VORLIX_TEST_SPEAKER");
    speech.SetDevice();
    const QStringList phrases = corpus::phrases();
    speech.SetWords("ZQAgent", phrases.join(','));
    speech.StartListen("ZQAgent");

    QTemporaryDir dir;
    QElapsedTimer clock;
    clock.start();
    qint64 heardAt = -1;
    QObject::connect(&speech, &clsSpeech::Recognized, [&](const QString&, float) { heardAt = clock.elapsed(); });

    const char* voices[] = {"en-us", "en+f3", "en-gb-x-rp"};
    std::vector<double> latencies;
    int missed = 0;
    for (int round = 0; round < 30; ++round) {
        const QString text = phrases[round % phrases.size()];
        const testaudio::Samples audio = testaudio::speech(text, voices[round % 3]);
        const QString wav = dir.filePath(QStringLiteral("p%1.wav").arg(round));
        writeWav(wav, audio);
        heardAt = -1;
        QProcess play;
        const qint64 startedAt = clock.elapsed();
        play.start("paplay", {"--device=" + speaker, "--latency-msec=20", wav});
        play.waitForStarted();
        const double lastSpeech = startedAt + lastSpeechMs(audio);
        QEventLoop loop;
        QTimer::singleShot(audio.size() / 16 + 2000, &loop, &QEventLoop::quit);
        QObject::connect(&speech, &clsSpeech::Recognized, &loop, &QEventLoop::quit);
        loop.exec();
        play.waitForFinished();
        if (heardAt < 0) {
            ++missed;
            continue;
        }
        latencies.push_back(heardAt - lastSpeech);
        QEventLoop pause;
        QTimer::singleShot(300, &pause, &QEventLoop::quit);
        pause.exec();
    }
    std::sort(latencies.begin(), latencies.end());
    if (latencies.empty()) {
        std::printf("bench_speech_latency: nothing recognised (%d missed)\n", missed);
        return 0;
    }
    auto at = [&](double q) { return latencies[std::size_t(q * (latencies.size() - 1))]; };
    std::printf("latency from the last speech sample played to Recognized, %zu phrases (%d not recognised):\n",
                latencies.size(), missed);
    std::printf("  min %.0f ms, median %.0f ms, 90th percentile %.0f ms, max %.0f ms\n", latencies.front(), at(0.5),
                at(0.9), latencies.back());
    return 0;
}
