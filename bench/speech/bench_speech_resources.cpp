// CPU and memory of a process running clsSpeech while it listens: to silence, and to speech
// played on the test speaker. Run it under scripts/with-desktop.sh.
#include "corpus.h"
#include "speech/clsspeech.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

namespace {

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void run(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    clsSpeech speech;
    if (speech.GetDeviceList().isEmpty() || qEnvironmentVariableIsEmpty("VORLIX_TEST_SPEAKER")) {
        std::printf("bench_speech_resources: no test audio server (run under scripts/with-desktop.sh)\n");
        return 0;
    }
    speech.SetDevice();
    speech.SetWords("ZQAgent", corpus::phrases().join(','));
    run(2000);

    const int seconds = 20;
    double cpu = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    run(seconds * 1000);
    std::printf("capturing, listening off: %.2f%% of one core over %d s\n",
                100.0 * (cpuSeconds() - cpu) / (wall.elapsed() / 1000.0), seconds);

    speech.StartListen("ZQAgent");
    cpu = cpuSeconds();
    wall.restart();
    run(seconds * 1000);
    std::printf("listening to silence: %.2f%% of one core over %d s\n",
                100.0 * (cpuSeconds() - cpu) / (wall.elapsed() / 1000.0), seconds);

    // Speech: phrases and sentences back to back, about one every two seconds.
    QTemporaryDir dir;
    testaudio::Samples talk;
    const QStringList texts = corpus::phrases() + QStringList{"what time is it", "please pass the salt"};
    for (const QString& t : texts) {
        testaudio::append(talk, testaudio::speech(t));
        testaudio::append(talk, testaudio::silence(0.8));
    }
    const QString raw = dir.filePath("talk.raw");
    QFile f(raw);
    f.open(QIODevice::WriteOnly);
    f.write(reinterpret_cast<const char*>(talk.data()), qint64(talk.size() * 2));
    f.close();
    int heard = 0;
    QObject::connect(&speech, &clsSpeech::Recognized, [&](const QString&, float) { ++heard; });
    cpu = cpuSeconds();
    wall.restart();
    QProcess play;
    play.start("pacat", {"--playback", "--device=" + qEnvironmentVariable("VORLIX_TEST_SPEAKER"), "--raw",
                         "--rate=16000", "--channels=1", "--format=s16le", raw});
    while (play.state() != QProcess::NotRunning)
        run(100);
    run(1000);
    const double talkSeconds = talk.size() / 16000.0;
    std::printf("listening to speech: %.2f%% of one core over %.0f s of speech and pauses (%d recognitions)\n",
                100.0 * (cpuSeconds() - cpu) / (wall.elapsed() / 1000.0), talkSeconds, heard);
    std::printf("resident memory: %ld kB now, %ld kB at most\n", corpus::statusKb("VmRSS:"),
                corpus::statusKb("VmHWM:"));
    return 0;
}
