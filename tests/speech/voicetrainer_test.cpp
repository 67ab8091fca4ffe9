// Adapting the acoustic model with the real sphinxtrain tools on a handful of synthetic sentences,
// and what becomes of the model folder when the input, the disk or the run goes wrong.
#include "speech/clsspeech.h"
#include "speech/recognizer.h"
#include "speech/testaudio.h"
#include "speech/voicemodel.h"
#include "speech/voicetrainer.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

using speech::VoiceProfile;
using speech::VoiceTrainer;

namespace {

// Sentence `i` said by espeak-ng, saved as the profile's recording of it.
VoiceTrainer::Take record(const VoiceProfile& profile, int i, const testaudio::Samples& audio) {
    QDir().mkpath(profile.recordingsFolder());
    QString why;
    EXPECT_TRUE(testaudio::writeWav(profile.recordingFile(i), audio, &why)) << why.toStdString();
    return {i, speech::trainingSentences()[i], profile.recordingFile(i)};
}

testaudio::Samples said(int i) {
    testaudio::Samples s = testaudio::silence(0.3);
    testaudio::append(s, testaudio::speech(speech::trainingSentences()[i], "en+f3", 160));
    testaudio::append(s, testaudio::silence(0.3));
    testaudio::addNoiseFloor(s);
    return s;
}

VoiceTrainer::Result adapt(const VoiceProfile& profile, const QList<VoiceTrainer::Take>& takes, int cancelAtStep = -1) {
    VoiceTrainer trainer;
    VoiceTrainer::Result result;
    QEventLoop loop;
    bool done = false;
    QObject::connect(&trainer, &VoiceTrainer::finished, [&](const VoiceTrainer::Result& r) {
        result = r;
        done = true;
        loop.quit();
    });
    QObject::connect(&trainer, &VoiceTrainer::progress, [&](int step, int) {
        if (step == cancelAtStep) {
            trainer.cancel();
            loop.quit();
        }
    });
    EXPECT_TRUE(trainer.start(profile, takes));
    QTimer::singleShot(240000, &loop, &QEventLoop::quit);
    loop.exec();
    if (cancelAtStep < 0) {
        EXPECT_TRUE(done) << "the adaptation did not finish";
    }
    return result;
}

class VoiceTrainerTest : public ::testing::Test {
protected:
    void SetUp() override {
        QString why;
        if (!VoiceTrainer::toolsAvailable(&why)) GTEST_SKIP() << why.toStdString();
        if (!testaudio::toolsAvailable()) GTEST_SKIP() << "espeak-ng or sox is not installed";
    }
    QTemporaryDir dir;
};

// Six sentences and one take of noise: the model is adapted on the sentences, the noise is reported,
// the model is whole, loads in all three decoders, and only its means differ from the shipped model.
TEST_F(VoiceTrainerTest, AdaptsOnAHandfulOfSentencesAndReportsTheUnusable) {
    VoiceProfile profile(dir.filePath("data"));
    QList<VoiceTrainer::Take> takes;
    for (int i = 0; i < 6; ++i)
        takes << record(profile, i, said(i));
    takes << record(profile, 6, testaudio::noise("brownnoise", 3, 0.4));
    const VoiceTrainer::Result result = adapt(profile, takes);
    ASSERT_TRUE(result.ok) << result.message.toStdString();
    EXPECT_EQ(result.unusable, QList<int>{6});
    EXPECT_EQ(result.used, 6);
    EXPECT_EQ(result.total, 7);
    EXPECT_GT(result.modelBytes, 6'000'000);
    // The adapted means fit the sentences they were adapted on better than the shipped ones.
    EXPECT_GT(result.gain, 0);
    EXPECT_EQ(result.passes, result.gain >= VoiceTrainer::RealignGain ? 2 : 1);
    EXPECT_EQ(profile.state(), VoiceProfile::State::Trained);
    EXPECT_EQ(QDir(profile.directory()).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"voice-model", "voice-training"}));
    auto contents = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QString shipped = speech::shippedAcousticModel();
    EXPECT_NE(contents(profile.modelFolder() + "/means"), contents(shipped + "/means"));
    for (const char* kept : {"variances", "sendump", "mdef", "transition_matrices"})
        EXPECT_EQ(contents(profile.modelFolder() + "/" + kept), contents(shipped + "/" + kept)) << kept;
    speech::Recognizer recognizer(profile.modelFolder());
    EXPECT_TRUE(recognizer.isAvailable());
    clsSpeech engine(nullptr, profile.modelFolder());
    EXPECT_EQ(engine.VoiceModel(), profile.modelFolder());
    EXPECT_TRUE(engine.SetVoiceModel(QString()));
    EXPECT_TRUE(engine.VoiceModel().isEmpty());

    // Adapting again replaces the model whole.
    const VoiceTrainer::Result again = adapt(profile, takes.mid(0, 6));
    ASSERT_TRUE(again.ok) << again.message.toStdString();
    EXPECT_TRUE(again.unusable.isEmpty());
    EXPECT_EQ(profile.state(), VoiceProfile::State::Trained);
}

// Silence and noise only: a clear reason, and no model.
TEST_F(VoiceTrainerTest, SilenceAndNoiseGiveNoModel) {
    VoiceProfile profile(dir.filePath("data"));
    QList<VoiceTrainer::Take> takes;
    for (int i = 0; i < 6; ++i)
        takes << record(profile, i, i % 2 ? testaudio::noise("pinknoise", 3, 0.3) : testaudio::silence(3));
    const VoiceTrainer::Result result = adapt(profile, takes);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.message.startsWith("only 0 of 6 sentences could be used")) << result.message.toStdString();
    EXPECT_EQ(result.unusable.size(), 6);
    EXPECT_EQ(profile.state(), VoiceProfile::State::Untrained);
    EXPECT_EQ(QDir(profile.directory()).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"voice-training"}));

    const VoiceTrainer::Result few = adapt(profile, takes.mid(0, 2));
    EXPECT_FALSE(few.ok);
    EXPECT_EQ(few.message, "at least 5 recorded sentences are needed");
}

// The agent closed in the middle of an adaptation: nothing is installed and nothing half-built is
// left; a folder left by a killed agent is removed and never loaded.
TEST_F(VoiceTrainerTest, CancelledAdaptationLeavesNothing) {
    VoiceProfile profile(dir.filePath("data"));
    QList<VoiceTrainer::Take> takes;
    for (int i = 0; i < 5; ++i)
        takes << record(profile, i, said(i));
    adapt(profile, takes, 5);
    EXPECT_EQ(profile.state(), VoiceProfile::State::Untrained);
    QString why;
    const QString leftover = profile.makeBuildFolder(&why);
    ASSERT_FALSE(leftover.isEmpty());
    profile.removeLeftovers();
    EXPECT_FALSE(QFileInfo::exists(leftover));
    EXPECT_EQ(QDir(profile.directory()).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"voice-training"}));
}

// A data folder that cannot be written, and a disk that fills up: a clear reason, and no model.
TEST_F(VoiceTrainerTest, UnwritableAndFullDataFolders) {
    VoiceProfile recordings(dir.filePath("takes"));
    QList<VoiceTrainer::Take> takes;
    for (int i = 0; i < 5; ++i)
        takes << record(recordings, i, said(i));

    QFile blocker(dir.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    VoiceProfile underFile(dir.filePath("file/vorlix"));
    const VoiceTrainer::Result refused = adapt(underFile, takes);
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(refused.message.contains("cannot be created")) << refused.message.toStdString();

    if (geteuid() != 0) GTEST_SKIP() << "a full or read-only disk is made with a small tmpfs, which needs root";
    const QString small = dir.filePath("small");
    QDir().mkpath(small);
    if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=3m", "tmpfs", small}) != 0)
        GTEST_SKIP() << "tmpfs cannot be mounted here";
    VoiceProfile full(small + "/vorlix");
    const VoiceTrainer::Result noSpace = adapt(full, takes);
    EXPECT_FALSE(noSpace.ok);
    EXPECT_TRUE(noSpace.message.contains("No space left")) << noSpace.message.toStdString();
    EXPECT_EQ(full.state(), VoiceProfile::State::Untrained);
    EXPECT_EQ(QDir(full.directory()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());

    QProcess::execute("mount", {"-o", "remount,ro", small});
    const VoiceTrainer::Result readOnly = adapt(full, takes);
    EXPECT_FALSE(readOnly.ok);
    EXPECT_TRUE(readOnly.message.contains("nothing can be written")) << readOnly.message.toStdString();
    QProcess::execute("umount", {small});
}

// A damaged or partial model is never loaded: the profile calls it damaged, and the speech engine
// handed a folder it cannot load keeps the shipped model.
TEST_F(VoiceTrainerTest, DamagedModelIsRefused) {
    VoiceProfile profile(dir.filePath("data"));
    const QString model = profile.modelFolder();
    QDir().mkpath(model);
    for (const QString& name : QDir(speech::shippedAcousticModel()).entryList(QDir::Files))
        QFile::copy(speech::shippedAcousticModel() + "/" + name, model + "/" + name);
    QString why;
    EXPECT_EQ(profile.state(&why), VoiceProfile::State::Damaged) << "no manifest: written only at the end";
    ASSERT_TRUE(speech::writeManifest(model, &why));
    EXPECT_EQ(profile.state(), VoiceProfile::State::Trained);
    {
        QFile means(model + "/means");
        ASSERT_TRUE(means.open(QIODevice::ReadWrite));
        means.seek(5000);
        means.write("x");
    }
    EXPECT_EQ(profile.state(&why), VoiceProfile::State::Damaged);
    EXPECT_EQ(why, "its file means is missing or damaged");
    EXPECT_TRUE(profile.usableModel().isEmpty());
    EXPECT_FALSE(speech::sendumpToMixtureWeights(model + "/mdef", dir.filePath("x"), &why)) << "not a sendump";
    profile.setAsideDamaged();
    EXPECT_EQ(profile.state(), VoiceProfile::State::Untrained);

    const QString broken = dir.filePath("broken");
    QDir().mkpath(broken);
    QFile(broken + "/mdef").open(QIODevice::WriteOnly);
    clsSpeech engine(nullptr, broken);
    QString told = "(nothing)";
    QObject::connect(&engine, &SpeechEngine::VoiceModelChanged, [&](const QString& folder) { told = folder; });
    QDeadlineTimer deadline(30000);
    while (!engine.IsReady() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_TRUE(engine.IsReady());
    EXPECT_TRUE(engine.VoiceModel().isEmpty());
    EXPECT_EQ(told, QString()) << "the model that could not be loaded is said";
    EXPECT_FALSE(engine.SetVoiceModel(broken));
    EXPECT_TRUE(engine.VoiceModel().isEmpty());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
