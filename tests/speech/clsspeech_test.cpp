// clsSpeech on a real PulseAudio server: the virtual microphone hears the virtual speaker (with-desktop.sh).
#include "speech/clsspeech.h"
#include "speech/synthesizer.h"
#include "speech/testaudio.h"

#include <QAudioSink>

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

class TestClsSpeech : public QObject {
    Q_OBJECT

    const QString Rule = QStringLiteral("ZQAgent");
    QTemporaryDir dir;

    // Plays `text`, spoken by espeak-ng, on the virtual speaker; waits 1.2 s for the utterance to end.
    void say(const QString& text, int settle = 1200) {
        const QString wav = dir.filePath(QStringLiteral("say.wav"));
        QProcess::execute("espeak-ng", {"-v", "en-us", "-w", wav, text});
        QProcess::execute("paplay", {"--device=" + qEnvironmentVariable("VORLIX_TEST_SPEAKER"), wav});
        QTest::qWait(settle);
    }

private slots:
    void initTestCase() {
        if (!testaudio::toolsAvailable() || QStandardPaths::findExecutable("paplay").isEmpty())
            QSKIP("espeak-ng, sox or paplay is not installed");
        if (clsSpeech().GetDeviceList().isEmpty() || qEnvironmentVariableIsEmpty("VORLIX_TEST_SPEAKER"))
            QSKIP("no PulseAudio server with the test speaker is reachable (run under scripts/with-desktop.sh)");
    }

    void aRuleIsHeardOnItsDeviceUntilStoppedOrTheDeviceIsChosenAgain() {
        clsSpeech speech;
        QCOMPARE(speech.GetDeviceList(), QStringList{"Microphone"});
        QVERIFY(!speech.HasAudioInput());
        speech.SetDevice(QStringLiteral("MICROPHONE")); // descriptions in any letter case
        QCOMPARE(speech.CurrentDevice(), QStringLiteral("Microphone"));
        speech.SetDevice(QStringLiteral("no such device"));
        QVERIFY(speech.HasAudioInput() && speech.CurrentDevice() == "Microphone");
        speech.SetWords(Rule, QStringLiteral("computer"));
        QVERIFY(speech.StartListen(Rule));
        speech.SetWords(Rule, QStringLiteral("computer,Open Mail,close window")); // still listening
        QSignalSpy heard(&speech, &clsSpeech::Recognized);
        // Said again, as a person would, when not heard for certain (a fresh stream's first phrase may not be).
        for (int tries = 0; tries < 3 && (heard.isEmpty() || heard.last()[1].toFloat() < 1.0f); ++tries)
            say(QStringLiteral("open mail"), 2500);
        QCOMPARE(heard.value(heard.size() - 1), QVariantList({QStringLiteral("Open Mail"), 1.0f}));
        const qsizetype n = heard.size();
        speech.StopListen(Rule);
        say(QStringLiteral("close window"));
        // Choosing the device drops the rule until its words are set and listened to again.
        QVERIFY(speech.StartListen(Rule));
        speech.SetDevice(QStringLiteral("Microphone"));
        QVERIFY(!speech.StartListen(Rule));
        speech.SetWords(Rule, QStringLiteral("close window"));
        say(QStringLiteral("close window"));
        QCOMPARE(heard.size(), n);
        QVERIFY(speech.StartListen(Rule));
        say(QStringLiteral("close window"), 0);
        QTRY_COMPARE_WITH_TIMEOUT(heard.size(), n + 1, 3000);
        QCOMPARE(heard[n][0].toString(), QStringLiteral("close window"));
    }

    void ownVoiceIsNotHeardAndTextsQueue() {
        clsSpeech speech;
        speech.SetDevice();
        speech.SetWords(Rule, QStringLiteral("open mail"));
        QVERIFY(speech.StartListen(Rule));
        QSignalSpy heard(&speech, &clsSpeech::Recognized);
        const QString text = QStringLiteral("This is the first text: open mail.");
        QElapsedTimer one;
        one.start();
        speech.Speak(text);
        QTRY_VERIFY_WITH_TIMEOUT(!speech.IsSpeaking(), 8000);
        const qint64 first = one.elapsed();
        say(QStringLiteral("open mail")); // heard again after the tail
        QTRY_COMPARE_WITH_TIMEOUT(heard.size(), 1, 3000);
        // A second text waits for the first: none is cut short or dropped.
        one.restart();
        speech.Speak(text);
        speech.Speak(text);
        QVERIFY(speech.IsSpeaking());
        QTRY_VERIFY_WITH_TIMEOUT(!speech.IsSpeaking(), 15000);
        QVERIFY2(one.elapsed() > first * 17 / 10,
                 qPrintable(QStringLiteral("%1 ms, %2 ms").arg(first).arg(one.elapsed())));
        QTest::qWait(1200);
        QCOMPARE(heard.size(), 1);
    }

    // The recogniser is built only once the event loop runs; a command said meanwhile (just after the
    // agent came up) is kept and heard when it is ready.
    void aPhraseSaidBeforeTheRecogniserIsReadyIsHeard() {
        const QString wav = dir.filePath(QStringLiteral("early.wav"));
        QProcess::execute("espeak-ng", {"-v", "en-us", "-w", wav, "close window"});
        clsSpeech speech;
        speech.SetDevice();
        speech.SetWords(Rule, QStringLiteral("open mail,close window"));
        QVERIFY(speech.StartListen(Rule));
        QSignalSpy heard(&speech, &clsSpeech::Recognized);
        // The loop is held while the phrase plays: the server keeps what the microphone hears.
        QProcess::execute("paplay", {"--device=" + qEnvironmentVariable("VORLIX_TEST_SPEAKER"), wav});
        QThread::msleep(600);
        QVERIFY(!speech.IsReady());
        QTRY_VERIFY_WITH_TIMEOUT(speech.IsReady(), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(heard.size(), 1, 3000);
        QCOMPARE(heard[0][0].toString(), QStringLiteral("close window"));
    }

    // The engine may go away at any point of its texts (the agent quitting while it speaks): before
    // one has started, during one, between two, or just after the last.
    // The agent may be closed in the moment between a text's end and the voice's release of the
    // sound device: an event of high priority runs before that release, as a signal handled first would.
    void goingAwayAsATextEndsIsSafe() {
        for (int round = 0; round < 3; ++round) {
            auto* voice = new speech::Synthesizer;
            voice->speak(QStringLiteral("ok"));
            auto* sink = voice->findChild<QAudioSink*>();
            QVERIFY(sink);
            bool ended = false;
            QObject closer;
            connect(sink, &QAudioSink::stateChanged, &closer, [&](QAudio::State state) {
                if (state != QAudio::IdleState || ended) return;
                ended = true;
                auto* close = new Closer([&voice] {
                    delete voice;
                    voice = nullptr;
                });
                QCoreApplication::postEvent(close, new QEvent(QEvent::User), Qt::HighEventPriority);
            });
            QTRY_VERIFY_WITH_TIMEOUT(voice == nullptr, 20000);
            QTest::qWait(50);
        }
    }

private:
    // Runs its action on the first event it receives, then goes.
    class Closer : public QObject {
    public:
        explicit Closer(std::function<void()> action) : action_(std::move(action)) {}
        bool event(QEvent* e) override {
            if (e->type() != QEvent::User) return QObject::event(e);
            action_();
            deleteLater();
            return true;
        }

    private:
        std::function<void()> action_;
    };
};

QTEST_GUILESS_MAIN(TestClsSpeech)
#include "clsspeech_test.moc"
