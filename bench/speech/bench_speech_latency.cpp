// Latency from the last speech sample to Recognized, through the real audio path: the phrase is
// played on the test speaker, captured from the virtual microphone by Qt Multimedia, decoded and
// raised by clsSpeech. Run it under scripts/with-desktop.sh.
#include "corpus.h"
#include "speech/clsspeech.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

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
    // Two phrases that longer ones continue, to see what their wait costs.
    const QStringList phrases = corpus::phrases() + QStringList{"scroll", "go"};
    speech.SetWords("ZQAgent", phrases.join(','));
    speech.StartListen("ZQAgent");

    QTemporaryDir dir;
    QElapsedTimer clock;
    clock.start();
    qint64 heardAt = -1;
    QObject::connect(&speech, &clsSpeech::Recognized, [&](const QString&, float) { heardAt = clock.elapsed(); });

    const char* voices[] = {"en-us", "en+f3", "en-gb-x-rp"};
    // A phrase that another one continues ("scroll" beside "scroll down") waits for the rest.
    auto goesOn = [&](const QString& text) {
        const QString start = text.toLower() + QLatin1Char(' ');
        return std::any_of(phrases.begin(), phrases.end(),
                           [&](const QString& p) { return p.toLower().startsWith(start); });
    };
    std::vector<double> latencies, waiting;
    int missed = 0;
    for (int round = 0; round < 32; ++round) {
        const QString text = phrases[round % phrases.size()];
        const testaudio::Samples audio = testaudio::speech(text, voices[round % 3]);
        const QString wav = dir.filePath(QStringLiteral("p%1.wav").arg(round));
        testaudio::writeWav(wav, audio);
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
        (goesOn(text) ? waiting : latencies).push_back(heardAt - lastSpeech);
        if (std::getenv("VORLIX_BENCH_VERBOSE"))
            std::printf("  %-20s %s %.0f ms\n", qPrintable(text), voices[round % 3], heardAt - lastSpeech);
        QEventLoop pause;
        QTimer::singleShot(300, &pause, &QEventLoop::quit);
        pause.exec();
    }
    auto print = [](const char* what, std::vector<double> v, int missed) {
        if (v.empty()) {
            std::printf("%s: none recognised (%d missed)\n", what, missed);
            return;
        }
        std::sort(v.begin(), v.end());
        auto at = [&](double q) { return v[std::size_t(q * double(v.size() - 1))]; };
        std::printf("%s, %zu phrases (%d not recognised):\n", what, v.size(), missed);
        std::printf("  min %.0f ms, median %.0f ms, 90th percentile %.0f ms, max %.0f ms\n", v.front(), at(0.5),
                    at(0.9), v.back());
    };
    print("latency from the last speech sample played to Recognized", latencies, missed);
    if (!waiting.empty()) print("the same for phrases that another phrase continues", waiting, 0);
    return 0;
}
