// The voice training flow through the real window: sentences said by espeak-ng into the test
// desktop's microphone, say again, skip, the microphone unplugged and back, then a real adaptation;
// and the Voice Setup page's buttons with and without the training tools.
#include "options/optionspages.h"
#include "options/trainingwindow.h"
#include "options/ucline.h"
#include "options/voicetraining.h"
#include "speech/audioinput.h"
#include "speech/testaudio.h"
#include "speech/voicemodel.h"
#include "speech/voicetrainer.h"
#include "support/fakes.h"

#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Takes the adapted model as loaded, and notes whether the agent's hearing is paused.
struct ModelSpeech : RecordingSpeech {
    QStringList models;
    bool paused = false;
    bool SetVoiceModel(const QString& folder) override {
        models << folder;
        return true;
    }
    void PauseHearing(bool on) override { paused = on; }
};

// Played while the event loop runs, as the window hears a person.
void play(const testaudio::Samples& samples, const QTemporaryDir& dir) {
    const QString wav = dir.filePath("play.wav");
    testaudio::writeWav(wav, samples);
    QProcess paplay;
    paplay.start("paplay", {"--device=" + qEnvironmentVariable("VORLIX_TEST_SPEAKER"), wav});
    (void)QTest::qWaitFor([&] { return paplay.state() == QProcess::NotRunning; }, 30000);
}

testaudio::Samples sentence(int i) {
    testaudio::Samples s = testaudio::speech(speech::trainingSentences()[i], "en+m3", 170);
    testaudio::append(s, testaudio::silence(1.2));
    return s;
}

// Says the sentence the window shows until it is taken, as a person says it again when a loaded
// machine lost the take; false when three tries were not taken.
bool sayShownSentence(TrainingWindow* window, const QTemporaryDir& dir) {
    const int shown = window->currentSentence();
    for (int attempt = 0; attempt < 3; ++attempt) {
        play(sentence(shown), dir);
        if (QTest::qWaitFor([&] { return window->currentSentence() != shown; }, 10000)) return true;
    }
    return false;
}

int pactl(const QStringList& args) {
    return QProcess::execute("pactl", args);
}

} // namespace

class TrainingWindowTest : public QObject {
    Q_OBJECT
private slots:
    void trainingFlowThroughTheWindow();
    void buttonsFollowTheToolsAndTheTraining();
};

void TrainingWindowTest::trainingFlowThroughTheWindow() {
    QString why;
    if (!speech::VoiceTrainer::toolsAvailable(&why)) QSKIP(qPrintable(why));
    if (!testaudio::toolsAvailable() || QStandardPaths::findExecutable("paplay").isEmpty())
        QSKIP("espeak-ng, sox or paplay is not installed");
    if (!speech::AudioInput::deviceDescriptions().contains("Microphone") ||
        qEnvironmentVariableIsEmpty("VORLIX_TEST_SPEAKER"))
        QSKIP("no test microphone: run under scripts/with-desktop.sh");

    QTemporaryDir dir;
    ModelSpeech speech;
    VoiceTraining training(dir.filePath("data"), speech);
    auto* window = new TrainingWindow(training, "Microphone");
    QPointer<TrainingWindow> alive(window);
    window->show();
    QVERIFY(speech.paused);
    QCOMPARE(window->currentSentence(), 0);
    QVERIFY(window->isRecording());
    QVERIFY(!window->cmdTrain->isEnabled());

    QVERIFY(sayShownSentence(window, dir));
    QCOMPARE(window->currentSentence(), 1);
    QVERIFY(training.profile().hasRecording(0));
    QCOMPARE(window->lblSentence->text(), speech::trainingSentences()[1]);

    // Say again: back to the sentence just recorded, which is taken anew.
    window->cmdSayAgain->click();
    QCOMPARE(window->currentSentence(), 0);
    QVERIFY(sayShownSentence(window, dir));
    QCOMPARE(window->currentSentence(), 1);

    // Skip leaves a sentence unrecorded.
    window->cmdSkip->click();
    QCOMPARE(window->currentSentence(), 2);
    QVERIFY(!training.profile().hasRecording(1));

    // The microphone unplugged: the window says so; plugged in again, recording goes on.
    QCOMPARE(pactl({"unload-module", "module-remap-source"}), 0);
    QTRY_VERIFY_WITH_TIMEOUT(window->lblStatus->text().startsWith("No sound arrives from the microphone"), 8000);
    QCOMPARE(pactl({"load-module", "module-remap-source", "master=spk.monitor", "source_name=mic", "channels=1",
                    "channel_map=mono", "source_properties=device.description=Microphone"}),
             0);
    pactl({"set-default-source", "mic"});
    QTRY_COMPARE_WITH_TIMEOUT(window->lblStatus->text(), QString("Listening..."), 10000);

    for (int i = 2; i < 6; ++i) {
        QTest::qWait(300);
        QCOMPARE(window->currentSentence(), i);
        QVERIFY(sayShownSentence(window, dir));
    }
    QCOMPARE(training.recordedSentences(), QList<int>({0, 2, 3, 4, 5}));
    QVERIFY(window->cmdTrain->isEnabled());
    QTest::qWait(200);
    window->grab().save(dir.filePath("recording.png"));

    // One take is noise: the aligner cannot use it, and the window asks for it again.
    QVERIFY(testaudio::writeWav(training.profile().recordingFile(3), testaudio::noise("pinknoise", 3, 0.3), &why));

    window->cmdTrain->click();
    QVERIFY(!window->isRecording());
    QVERIFY(window->pbAdapt->isVisible());
    QVERIFY(training.isAdapting());
    QTRY_VERIFY_WITH_TIMEOUT(!training.isAdapting(), 240000);
    // A sentence the aligner could not use (a take a loaded machine garbled) is asked for again;
    // said again, the training goes through.
    const QList<int> said{0, 2, 3, 4, 5};
    QVERIFY2(window->lblStatus->text().contains("say them again"), qPrintable(window->lblStatus->text()));
    QVERIFY(!training.profile().hasRecording(3));
    for (int round = 0; round < 3 && window->lblStatus->text().contains("say them again"); ++round) {
        for (int step = 0; step < 80 && training.recordedSentences() != said; ++step) {
            if (said.contains(window->currentSentence()))
                QVERIFY(sayShownSentence(window, dir));
            else
                window->cmdSkip->click();
        }
        QCOMPARE(training.recordedSentences(), said);
        window->cmdTrain->click();
        QTRY_VERIFY_WITH_TIMEOUT(!training.isAdapting(), 240000);
    }
    QCOMPARE(window->lblStatus->text(), QString("Vorlix has learnt your voice from 5 sentences."));
    QCOMPARE(speech.models.last(), training.profile().modelFolder());
    QVERIFY(training.isTrained());
    QCOMPARE(training.profile().state(), speech::VoiceProfile::State::Trained);
    if (qEnvironmentVariableIsSet("VORLIX_SHOTS"))
        window->grab().save(qEnvironmentVariable("VORLIX_SHOTS") + "/training.png");

    window->close();
    QTRY_VERIFY(alive.isNull());
    QVERIFY(!speech.paused);

    QVERIFY(training.forget(&why));
    QCOMPARE(speech.models.last(), QString());
    QVERIFY(!training.isTrained());
    QCOMPARE(training.profile().state(), speech::VoiceProfile::State::Untrained);
    QVERIFY(training.recordedSentences().isEmpty());
}

void TrainingWindowTest::buttonsFollowTheToolsAndTheTraining() {
    QTemporaryDir dir;
    FakeAgent fake;
    OptionsPages pages(fake.agent);
    QStringList shown;
    pages.setMessageSink([&](const QString& text) { shown << text; });
    pages.InitOptions();
    QVERIFY(!pages.cmdTrain->isEnabled());

    VoiceTraining training(dir.filePath("data"), fake.speech);
    const speech::VoiceTrainer::Tools real = speech::VoiceTrainer::tools();
    speech::VoiceTrainer::tools().sphinxtrain = dir.filePath("nowhere");
    pages.setVoiceTraining(&training);
    QVERIFY(!pages.cmdTrain->isEnabled());
    QVERIFY(pages.cmdTrain->toolTip().startsWith("Voice training needs the Debian packages sphinxtrain"));
    QVERIFY(pages.cmdTrain->toolTip().contains("bw, map_adapt, mk_s2sendump"));
    QCOMPARE(pages.lblTraining->text(), QString("Not trained: the standard voice model is used."));
    QVERIFY(!pages.cmdForgetTraining->isEnabled());
    speech::VoiceTrainer::tools() = real;

    QString why;
    if (!speech::VoiceTrainer::toolsAvailable(&why)) return;
    pages.setVoiceTraining(&training);
    QVERIFY(pages.cmdTrain->isEnabled());
    training.setTrained(true);
    pages.setVoiceTraining(&training);
    QCOMPARE(pages.lblTraining->text(), QString("Trained on your voice."));
    QVERIFY(pages.cmdForgetTraining->isEnabled());
    pages.cmdForgetTraining->click();
    QCOMPARE(shown, QStringList{"Vorlix has forgotten your voice: the standard voice model is used."});
    QCOMPARE(pages.lblTraining->text(), QString("Not trained: the standard voice model is used."));
}

QTEST_MAIN(TrainingWindowTest)
#include "trainingwindow_test.moc"
