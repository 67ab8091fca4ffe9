#include "speech/voicemodel.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

namespace speech {

namespace {

const QString ManifestName = QStringLiteral("vorlix-model.txt");
const QString ManifestHeader = QStringLiteral("vorlix adapted acoustic model 1");
// The files pocketsphinx reads from an acoustic model folder.
const QStringList ModelFiles = {QStringLiteral("feat.params"), QStringLiteral("mdef"),
                                QStringLiteral("means"),       QStringLiteral("noisedict"),
                                QStringLiteral("sendump"),     QStringLiteral("transition_matrices"),
                                QStringLiteral("variances")};
const QString BuildPrefix = QStringLiteral(".voice-model.build-");
const QString OldPrefix = QStringLiteral(".voice-model.old-");

QByteArray checksum(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file)) return {};
    return hash.result().toHex();
}

QString uniqueName(const QString& prefix) {
    return prefix + QString::number(QRandomGenerator::global()->generate64(), 36);
}

} // namespace

QString shippedAcousticModel() {
    return QStringLiteral(VORLIX_SPEECH_MODEL_DIR "/en-us/en-us");
}

QString shippedDictionary() {
    return QStringLiteral(VORLIX_SPEECH_MODEL_DIR "/en-us/cmudict-en-us.dict");
}

// Every word is in the model's dictionary; together they cover each of its phones several times.
const QStringList& trainingSentences() {
    static const QStringList sentences = {
        QStringLiteral("A gentle breeze carried the smell of fresh bread across the village square."),
        QStringLiteral("My brother fixed the squeaky hinge on the garage door with a drop of oil."),
        QStringLiteral("Thousands of yellow leaves covered the path beside the quiet river."),
        QStringLiteral("The judge asked both witnesses to speak clearly and slowly."),
        QStringLiteral("She measured the flour, poured the milk, and whisked in three eggs."),
        QStringLiteral("Our neighbour's puppy chewed a hole through my favourite boot."),
        QStringLiteral("The pilot announced a short delay because of thick fog over the airport."),
        QStringLiteral("Please put the heavy boxes of books in the back of the van."),
        QStringLiteral("Wild geese flew south in a long wavering line above the marsh."),
        QStringLiteral("He could hardly believe how cheap the vintage watch was."),
        QStringLiteral("A loud crash of thunder woke the whole family at midnight."),
        QStringLiteral("The museum shows pottery and coins from ancient Egypt."),
        QStringLiteral("Each morning the baker pulls warm loaves out of the oven."),
        QStringLiteral("You should choose a thick jacket for the journey through the mountains."),
        QStringLiteral("The orchestra played a joyful tune while the children danced."),
        QStringLiteral("Three sheep wandered through the gap in the broken fence."),
        QStringLiteral("The teacher drew a huge triangle on the board with blue chalk."),
        QStringLiteral("Sugar and salt look alike but taste very different."),
        QStringLiteral("I usually ride my bicycle to work unless it is pouring with rain."),
        QStringLiteral("The old lighthouse keeper lived alone on the rocky island."),
        QStringLiteral("Quick thinking saved the climbers when the weather turned bad."),
        QStringLiteral("The zoo keeper fed the zebras fresh hay and crunchy carrots."),
        QStringLiteral("A pair of owls nested in the hollow oak behind the church."),
        QStringLiteral("The plumber found a leak under the kitchen sink."),
        QStringLiteral("We watched the sunset from a bench at the end of the pier."),
        QStringLiteral("The shoemaker measured my foot and promised new shoes by Thursday."),
        QStringLiteral("Jars of honey and plum jam were lined up on the shelf."),
        QStringLiteral("Nobody noticed the cat sleeping on the warm window seat."),
        QStringLiteral("The campers lit a small fire and toasted marshmallows."),
        QStringLiteral("Visitors must show their tickets before they enter the theatre."),
    };
    return sentences;
}

VoiceProfile::VoiceProfile(const QString& directory) : directory_(directory) {
    while (directory_.size() > 1 && directory_.endsWith(QLatin1Char('/')))
        directory_.chop(1);
}

QString VoiceProfile::modelFolder() const {
    return directory_ + QStringLiteral("/voice-model");
}

QString VoiceProfile::recordingsFolder() const {
    return directory_ + QStringLiteral("/voice-training");
}

QString VoiceProfile::recordingFile(int index) const {
    return recordingsFolder() + QStringLiteral("/sentence%1.wav").arg(index + 1, 2, 10, QLatin1Char('0'));
}

bool VoiceProfile::hasRecording(int index) const {
    return QFileInfo(recordingFile(index)).isFile();
}

VoiceProfile::State VoiceProfile::state(QString* why) const {
    if (!QFileInfo::exists(modelFolder())) return State::Untrained;
    QString problem;
    if (verifyManifest(modelFolder(), &problem)) return State::Trained;
    if (why) *why = problem;
    return State::Damaged;
}

bool VoiceProfile::install(const QString& builtFolder, QString* why) {
    QDir dir;
    const QString old = directory_ + QLatin1Char('/') + uniqueName(OldPrefix);
    const bool hadModel = QFileInfo::exists(modelFolder());
    if (hadModel && !dir.rename(modelFolder(), old)) {
        *why = QStringLiteral("the old voice model in %1 could not be replaced")
                   .arg(QDir::toNativeSeparators(modelFolder()));
        return false;
    }
    if (!dir.rename(builtFolder, modelFolder())) {
        if (hadModel) dir.rename(old, modelFolder());
        *why =
            QStringLiteral("the voice model could not be put in place in %1").arg(QDir::toNativeSeparators(directory_));
        return false;
    }
    if (hadModel) QDir(old).removeRecursively();
    return true;
}

bool VoiceProfile::forget(QString* why) {
    bool ok = true;
    for (const QString& folder : {modelFolder(), recordingsFolder()}) {
        if (QFileInfo::exists(folder) && !QDir(folder).removeRecursively()) ok = false;
    }
    if (!ok) *why = QStringLiteral("%1 could not be deleted").arg(QDir::toNativeSeparators(modelFolder()));
    return ok;
}

void VoiceProfile::setAsideDamaged() {
    QDir dir(directory_);
    const QString aside = QStringLiteral("voice-model.damaged");
    QDir(dir.filePath(aside)).removeRecursively();
    dir.rename(QFileInfo(modelFolder()).fileName(), aside);
}

void VoiceProfile::removeLeftovers() const {
    const QDir dir(directory_);
    for (const QString& name : dir.entryList({BuildPrefix + QLatin1Char('*'), OldPrefix + QLatin1Char('*')},
                                             QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot))
        QDir(dir.filePath(name)).removeRecursively();
}

QString VoiceProfile::makeBuildFolder(QString* why) const {
    const QString shown = QDir::toNativeSeparators(directory_);
    if (!QDir().mkpath(directory_)) {
        *why = QStringLiteral("the folder %1 cannot be created").arg(shown);
        return {};
    }
    const QString name = uniqueName(BuildPrefix);
    if (!QDir(directory_).mkdir(name)) {
        *why = QStringLiteral("nothing can be written in %1").arg(shown);
        return {};
    }
    return directory_ + QLatin1Char('/') + name;
}

bool writeManifest(const QString& folder, QString* why) {
    QString text = ManifestHeader + QLatin1Char('\n');
    for (const QString& name : ModelFiles) {
        const QString path = folder + QLatin1Char('/') + name;
        const QByteArray sum = checksum(path);
        if (sum.isEmpty()) {
            *why = QStringLiteral("%1 could not be read back").arg(name);
            return false;
        }
        text += QStringLiteral("%1 %2 %3\n").arg(name).arg(QFileInfo(path).size()).arg(QString::fromLatin1(sum));
    }
    QFile manifest(folder + QLatin1Char('/') + ManifestName);
    const QByteArray bytes = text.toUtf8();
    if (!manifest.open(QIODevice::WriteOnly) || manifest.write(bytes) != bytes.size() || !manifest.flush()) {
        *why = QStringLiteral("the model's list of files could not be written: %1").arg(manifest.errorString());
        return false;
    }
    manifest.close();
    return true;
}

bool verifyManifest(const QString& folder, QString* why) {
    QFile manifest(folder + QLatin1Char('/') + ManifestName);
    if (!manifest.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("it is incomplete (it has no list of its files)");
        return false;
    }
    const QStringList lines = QString::fromUtf8(manifest.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.value(0) != ManifestHeader) {
        *why = QStringLiteral("its list of files is not one Vorlix wrote");
        return false;
    }
    QStringList listed;
    for (const QString& line : lines.mid(1)) {
        const QStringList parts = line.split(QLatin1Char(' '));
        if (parts.size() != 3) {
            *why = QStringLiteral("its list of files is damaged");
            return false;
        }
        const QString path = folder + QLatin1Char('/') + parts[0];
        const QFileInfo info(path);
        if (!info.isFile() || QString::number(info.size()) != parts[1] ||
            QString::fromLatin1(checksum(path)) != parts[2]) {
            *why = QStringLiteral("its file %1 is missing or damaged").arg(parts[0]);
            return false;
        }
        listed << parts[0];
    }
    for (const QString& name : ModelFiles) {
        if (!listed.contains(name)) {
            *why = QStringLiteral("its file %1 is missing").arg(name);
            return false;
        }
    }
    return true;
}

} // namespace speech
