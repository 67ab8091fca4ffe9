// clsSpeech where no audio server can be reached: no devices, no crash, nothing heard or spoken.
#include "speech/clsspeech.h"

#include <QTest>

class TestSpeechNoAudio : public QObject {
    Q_OBJECT
private slots:
    void everythingWorksQuietlyWithoutAudio() {
        clsSpeech speech;
        QVERIFY(speech.GetDeviceList().isEmpty());
        speech.SetDevice(QStringLiteral("Microphone"));
        QVERIFY(!speech.HasAudioInput() && speech.CurrentDevice().isEmpty());
        speech.SetWords(QStringLiteral("ZQAgent"), QStringLiteral("open mail"));
        QVERIFY(speech.StartListen(QStringLiteral("ZQAgent")));
        speech.Speak(QStringLiteral("Hello"));
        QVERIFY(!speech.IsSpeaking());
        speech.StopListen(QStringLiteral("ZQAgent"));
    }
};

QTEST_GUILESS_MAIN(TestSpeechNoAudio)
#include "speech_noaudio_test.moc"
