// clsSpeech on a real PulseAudio server: the virtual microphone hears what is played on the
// virtual speaker (tests/support/with-desktop.sh).
#include "speech/clsspeech.h"
#include "speech/testaudio.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Rule = QStringLiteral("ZQAgent");

} // namespace

class TestClsSpeech : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    // Plays `text`, spoken by espeak-ng, on the virtual speaker and waits until it has been played.
    void say(const QString& text) {
        const QString wav = dir.filePath(QStringLiteral("say.wav"));
        QProcess::execute("espeak-ng", {"-v", "en-us", "-w", wav, text});
        QProcess::execute("paplay", {"--device=" + qEnvironmentVariable("VORLIX_TEST_SPEAKER", "spk"), wav});
    }

    // Lets queued audio reach the recogniser and the utterance end.
    static void settle(int ms = 1200) { QTest::qWait(ms); }

private slots:
    void initTestCase() {
        if (!testaudio::toolsAvailable() || QStandardPaths::findExecutable("paplay").isEmpty())
            QSKIP("espeak-ng, sox or paplay is not installed");
        clsSpeech probe;
        if (probe.GetDeviceList().isEmpty() || qEnvironmentVariableIsEmpty("VORLIX_TEST_SPEAKER"))
            QSKIP("no PulseAudio server with the test speaker is reachable (run under tests/support/with-desktop.sh)");
    }

    void devicesAreNamedByDescriptionInAnyLetterCase() {
        clsSpeech speech;
        QCOMPARE(speech.GetDeviceList(), QStringList{"Microphone"});
        QVERIFY(!speech.HasAudioInput());
        speech.SetDevice(QStringLiteral("MICROPHONE"));
        QVERIFY(speech.HasAudioInput());
        QCOMPARE(speech.CurrentDevice(), QStringLiteral("Microphone"));
        speech.SetDevice(QStringLiteral("no such device"));
        QCOMPARE(speech.CurrentDevice(), QStringLiteral("Microphone"));
    }

    void aRuleIsHeardUntilStoppedOrTheDeviceIsChosenAgain() {
        clsSpeech speech;
        speech.SetDevice();
        speech.SetWords(Rule, QStringLiteral("computer"));
        QVERIFY(speech.StartListen(Rule));
        // New words keep the rule listening.
        speech.SetWords(Rule, QStringLiteral("computer,Open Mail,close window"));
        QSignalSpy heard(&speech, &clsSpeech::Recognized);
        say(QStringLiteral("open mail"));
        QTRY_COMPARE_WITH_TIMEOUT(heard.size(), 1, 3000);
        QCOMPARE(heard[0][0].toString(), QStringLiteral("Open Mail"));
        QCOMPARE(heard[0][1].toFloat(), 1.0f);
        speech.StopListen(Rule);
        say(QStringLiteral("close window"));
        settle();
        QCOMPARE(heard.size(), 1);
        // Choosing the device drops the rule until its words are set and listened to again.
        QVERIFY(speech.StartListen(Rule));
        speech.SetDevice(QStringLiteral("Microphone"));
        QVERIFY(!speech.StartListen(Rule));
        speech.SetWords(Rule, QStringLiteral("close window"));
        say(QStringLiteral("close window"));
        settle();
        QCOMPARE(heard.size(), 1);
        QVERIFY(speech.StartListen(Rule));
        say(QStringLiteral("close window"));
        QTRY_COMPARE_WITH_TIMEOUT(heard.size(), 2, 3000);
        QCOMPARE(heard[1][0].toString(), QStringLiteral("close window"));
    }

    void ownVoiceIsNotTakenForACommand() {
        clsSpeech speech;
        speech.SetDevice();
        speech.SetWords(Rule, QStringLiteral("open mail"));
        QVERIFY(speech.StartListen(Rule));
        QSignalSpy heard(&speech, &clsSpeech::Recognized);
        speech.Speak(QStringLiteral("open mail"));
        QVERIFY(speech.IsSpeaking());
        QTRY_VERIFY_WITH_TIMEOUT(!speech.IsSpeaking(), 5000);
        settle();
        QCOMPARE(heard.size(), 0);
        // Listening again after the tail.
        say(QStringLiteral("open mail"));
        QTRY_COMPARE_WITH_TIMEOUT(heard.size(), 1, 3000);
    }

    void twoTextsAreSpokenOneAfterTheOther() {
        clsSpeech speech;
        QElapsedTimer one;
        one.start();
        speech.Speak(QStringLiteral("This is the first text."));
        QTRY_VERIFY_WITH_TIMEOUT(!speech.IsSpeaking(), 8000);
        const qint64 first = one.elapsed();

        QElapsedTimer both;
        both.start();
        speech.Speak(QStringLiteral("This is the first text."));
        speech.Speak(QStringLiteral("This is the first text."));
        QVERIFY(speech.IsSpeaking());
        QTRY_VERIFY_WITH_TIMEOUT(!speech.IsSpeaking(), 15000);
        QVERIFY2(both.elapsed() > first * 17 / 10,
                 qPrintable(QStringLiteral("one text took %1 ms, two %2 ms").arg(first).arg(both.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestClsSpeech)
#include "clsspeech_test.moc"
