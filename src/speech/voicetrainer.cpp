#include "speech/voicetrainer.h"

#include "speech/recognizer.h"

#include <pocketsphinx.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace speech {

namespace {

// A step that runs longer than this has hung (bw retries a missing file for minutes).
constexpr int StepTimeoutMs = 5 * 60 * 1000;
// Mixture weights of the shipped model, whose smallest stored weight is well above it; the
// default floor (1e-5) would change the smallest ones and bw would adapt a different model.
const QString MixtureWeightFloor = QStringLiteral("1e-8");

// The files of the adapted model taken as shipped; only the means are adapted.
const QStringList CopiedFiles = {QStringLiteral("feat.params"),         QStringLiteral("mdef"),
                                 QStringLiteral("noisedict"),           QStringLiteral("sendump"),
                                 QStringLiteral("transition_matrices"), QStringLiteral("variances")};

// The text of a sentence as the aligner wants it: lower case words, no punctuation but apostrophes.
QString transcriptWords(const QString& text) {
    static const QRegularExpression other(QStringLiteral("[^a-z' ]+"));
    return text.toLower().replace(other, QStringLiteral(" ")).simplified();
}

QString idOf(const VoiceTrainer::Take& take) {
    return QFileInfo(take.file).completeBaseName();
}

QString diskProblem(const QFileDevice& file) {
    return QStringLiteral("%1 could not be written (%2)")
        .arg(QDir::toNativeSeparators(file.fileName()), file.errorString());
}

bool writeText(const QString& path, const QString& text, QString* why) {
    QFile file(path);
    const QByteArray bytes = text.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush()) {
        *why = diskProblem(file);
        return false;
    }
    return true;
}

// The average log likelihood per frame bw reports of the sentences it aligned ("overall> host
// frames (-skipped) average total"); NaN when it says none.
double fitPerFrame(const QString& output) {
    static const QRegularExpression overall(QStringLiteral("overall>\\s+\\S+\\s+(\\d+)\\s+\\(-\\d+\\)\\s+(\\S+)"));
    const QRegularExpressionMatch m = overall.match(output);
    bool ok = false;
    const double fit = m.hasMatch() && m.captured(1).toLongLong() > 0 ? m.captured(2).toDouble(&ok) : 0.0;
    return ok ? fit : std::nan("");
}

bool copyFile(const QString& from, const QString& to, QString* why) {
    QFile in(from);
    QFile out(to);
    if (!in.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("%1 could not be read").arg(QDir::toNativeSeparators(from));
        return false;
    }
    if (!out.open(QIODevice::WriteOnly)) {
        *why = diskProblem(out);
        return false;
    }
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1 << 16);
        if (out.write(chunk) != chunk.size()) {
            *why = diskProblem(out);
            return false;
        }
    }
    if (!out.flush()) {
        *why = diskProblem(out);
        return false;
    }
    return true;
}

// Speech rises and falls; silence, hum and steady noise do not, and the aligner would fit a sentence
// to them all the same. Compares the louder and quieter 20 ms blocks of the recording.
bool looksLikeSpeech(const QByteArray& bytes) {
    const auto* samples = reinterpret_cast<const qint16*>(bytes.constData());
    const qsizetype count = bytes.size() / 2, block = 320;
    std::vector<double> levels;
    for (qsizetype at = 0; at + block <= count; at += block) {
        double sum = 0;
        for (qsizetype i = at; i < at + block; ++i)
            sum += double(samples[i]) * samples[i];
        levels.push_back(std::sqrt(sum / block));
    }
    if (levels.size() < 25) return false;
    std::sort(levels.begin(), levels.end());
    const double quiet = levels[levels.size() / 10], loud = levels[levels.size() * 9 / 10];
    return loud >= 150 && loud >= 4 * std::max(quiet, 1.0);
}

qint64 folderBytes(const QString& folder) {
    qint64 bytes = 0;
    QDirIterator it(folder, QDir::Files);
    while (it.hasNext()) {
        it.next();
        bytes += it.fileInfo().size();
    }
    return bytes;
}

// Loads the model as the recogniser will, so that a model pocketsphinx refuses is never installed.
QString tryLoad(const QString& model, const QString& folder) {
    const QString dict = folder + QStringLiteral("/check.dict");
    QString why;
    if (!writeText(dict, QStringLiteral("hello HH AH L OW\n"), &why)) return why;
    const QByteArray hmm = QFile::encodeName(model);
    const QByteArray dictName = QFile::encodeName(dict);
    const char* argv[] = {"-hmm", hmm.constData(), "-dict", dictName.constData()};
    silenceDecoderLog();
    cmd_ln_t* config = cmd_ln_parse_r(nullptr, ps_args(), 4, const_cast<char**>(argv), FALSE);
    ps_decoder_t* ps = config ? ps_init(config) : nullptr;
    if (config) cmd_ln_free_r(config);
    if (!ps) return QStringLiteral("the adapted model could not be loaded");
    ps_free(ps);
    return {};
}

} // namespace

VoiceTrainer::Tools& VoiceTrainer::tools() {
    static Tools where;
    return where;
}

bool VoiceTrainer::toolsAvailable(QString* why) {
    const Tools& t = tools();
    QStringList missing;
    for (const QString& tool : {t.sphinxtrain + QStringLiteral("/bw"), t.sphinxtrain + QStringLiteral("/map_adapt"),
                                t.sphinxtrain + QStringLiteral("/mk_s2sendump"), t.bin + QStringLiteral("/sphinx_fe"),
                                t.bin + QStringLiteral("/pocketsphinx_mdef_convert")}) {
        if (!QFileInfo(tool).isExecutable()) missing << QFileInfo(tool).fileName();
    }
    if (missing.isEmpty()) return true;
    *why = QStringLiteral("Voice training needs the Debian packages sphinxtrain, sphinxbase-utils and pocketsphinx "
                          "(missing: %1).")
               .arg(missing.join(QStringLiteral(", ")));
    return false;
}

VoiceTrainer::VoiceTrainer(QObject* parent) : QObject(parent) {}

VoiceTrainer::~VoiceTrainer() {
    cancel();
}

bool VoiceTrainer::start(const VoiceProfile& profile, const QList<Take>& takes) {
    if (running_) return false;
    running_ = true;
    ++generation_;
    profile_ = profile;
    takes_ = takes;
    result_ = Result();
    result_.total = int(takes.size());
    clock_.start();
    step_ = 0;
    steps_.clear();

    const QString shipped = shippedAcousticModel();
    const Tools t = tools();
    auto file = [this](const QString& name) { return build_ + QLatin1Char('/') + name; };

    // 1. A folder to build in, beside the model, with the list of recordings and their sentences.
    steps_ << [this, file] {
        QString why;
        if (takes_.size() < MinimumSentences)
            return fail(QStringLiteral("at least %1 recorded sentences are needed").arg(MinimumSentences));
        QString ids, transcript;
        QList<Take> speech;
        for (const Take& take : std::as_const(takes_)) {
            const QByteArray samples = readWavSamples(take.file);
            if (samples.isEmpty())
                return fail(QStringLiteral("the recording %1 is unreadable").arg(QDir::toNativeSeparators(take.file)));
            if (!looksLikeSpeech(samples)) {
                result_.unusable << take.sentence;
                continue;
            }
            speech << take;
            ids += idOf(take) + QLatin1Char('\n');
            transcript += QStringLiteral("<s> %1 </s> (%2)\n").arg(transcriptWords(take.text), idOf(take));
        }
        takes_ = speech;
        result_.used = int(takes_.size());
        if (takes_.size() < MinimumSentences) return fail(tooFew());
        profile_.removeLeftovers();
        build_ = profile_.makeBuildFolder(&why);
        if (build_.isEmpty()) return fail(why);
        if (!QDir(build_).mkpath(QStringLiteral("feat")) || !QDir(build_).mkpath(QStringLiteral("model")))
            return fail(QStringLiteral("nothing can be written in %1").arg(QDir::toNativeSeparators(build_)));
        if (!writeText(file(QStringLiteral("train.fileids")), ids, &why) ||
            !writeText(file(QStringLiteral("train.transcription")), transcript, &why))
            return fail(why);
        next();
    };
    // 2. Features of every recording, as the model was trained on them.
    steps_ << [this, t, shipped, file] {
        const QString dir = QFileInfo(takes_.first().file).absolutePath();
        run(t.bin + QStringLiteral("/sphinx_fe"),
            {QStringLiteral("-argfile"), shipped + QStringLiteral("/feat.params"), QStringLiteral("-samprate"),
             QStringLiteral("16000"), QStringLiteral("-c"), file(QStringLiteral("train.fileids")),
             QStringLiteral("-di"), dir, QStringLiteral("-do"), file(QStringLiteral("feat")), QStringLiteral("-ei"),
             QStringLiteral("wav"), QStringLiteral("-eo"), QStringLiteral("mfc"), QStringLiteral("-mswav"),
             QStringLiteral("yes")},
            [this, file](const QString&) {
                // bw waits minutes for a feature file that is not there.
                for (const Take& take : std::as_const(takes_))
                    if (!QFileInfo(file(QStringLiteral("feat/%1.mfc").arg(idOf(take)))).isFile()) return false;
                return true;
            });
    };
    // 3. The model definition as text, which is all the training tools read.
    steps_ << [this, t, shipped, file] {
        run(t.bin + QStringLiteral("/pocketsphinx_mdef_convert"),
            {QStringLiteral("-text"), shipped + QStringLiteral("/mdef"), file(QStringLiteral("mdef.txt"))},
            [file](const QString&) { return QFileInfo(file(QStringLiteral("mdef.txt"))).size() > 0; });
    };
    // 4. The mixture weights unpacked from the sendump.
    steps_ << [this, shipped, file] {
        runHere([shipped, out = file(QStringLiteral("mixture_weights"))] {
            QString why;
            return sendumpToMixtureWeights(shipped + QStringLiteral("/sendump"), out, &why) ? QString() : why;
        });
    };
    // 5. ... and packed again, which must give the shipped file byte for byte: bw adapts the model
    // as it is, not a rounded copy of it.
    steps_ << [this, t, shipped, file] {
        run(t.sphinxtrain + QStringLiteral("/mk_s2sendump"),
            {QStringLiteral("-pocketsphinx"), QStringLiteral("yes"), QStringLiteral("-moddeffn"),
             file(QStringLiteral("mdef.txt")), QStringLiteral("-mixwfn"), file(QStringLiteral("mixture_weights")),
             QStringLiteral("-mwfloor"), MixtureWeightFloor, QStringLiteral("-sendumpfn"),
             file(QStringLiteral("sendump.check"))},
            [shipped, file](const QString&) {
                QFile a(shipped + QStringLiteral("/sendump")), b(file(QStringLiteral("sendump.check")));
                return a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly) && a.readAll() == b.readAll();
            });
    };
    // 6. The alignment and the statistics of every sentence that could be aligned, with the model
    // as shipped (pass 0) or as adapted by the first pass (pass 1).
    auto align = [this, t, shipped, file](int pass, std::function<bool(const QString&)> check) {
        const QString means = pass == 0 ? shipped + QStringLiteral("/means") : file(QStringLiteral("means.1"));
        const QString acc = file(QStringLiteral("acc%1").arg(pass));
        if (!QDir().mkpath(acc))
            return fail(QStringLiteral("nothing can be written in %1").arg(QDir::toNativeSeparators(build_)));
        run(t.sphinxtrain + QStringLiteral("/bw"),
            {QStringLiteral("-moddeffn"), file(QStringLiteral("mdef.txt")),
             QStringLiteral("-ts2cbfn"),  QStringLiteral(".ptm."),
             QStringLiteral("-feat"),     QStringLiteral("1s_c_d_dd"),
             QStringLiteral("-svspec"),   QStringLiteral("0-12/13-25/26-38"),
             QStringLiteral("-cmn"),      QStringLiteral("batch"),
             QStringLiteral("-agc"),      QStringLiteral("none"),
             QStringLiteral("-meanfn"),   means,
             QStringLiteral("-varfn"),    shipped + QStringLiteral("/variances"),
             QStringLiteral("-mixwfn"),   file(QStringLiteral("mixture_weights")),
             QStringLiteral("-tmatfn"),   shipped + QStringLiteral("/transition_matrices"),
             QStringLiteral("-dictfn"),   shippedDictionary(),
             QStringLiteral("-fdictfn"),  shipped + QStringLiteral("/noisedict"),
             QStringLiteral("-ctlfn"),    file(QStringLiteral("train.fileids")),
             QStringLiteral("-lsnfn"),    file(QStringLiteral("train.transcription")),
             QStringLiteral("-cepdir"),   file(QStringLiteral("feat")),
             QStringLiteral("-cepext"),   QStringLiteral("mfc"),
             QStringLiteral("-accumdir"), acc},
            [acc, check = std::move(check)](const QString& output) {
                return check(output) && QFileInfo(acc + QStringLiteral("/gauden_counts")).size() > 0;
            });
    };
    // 7. New Gaussian means (MAP), always with the shipped ones as the prior.
    auto adapt = [this, t, shipped, file](int pass) {
        const QString out = file(QStringLiteral("means.%1").arg(pass + 1));
        run(t.sphinxtrain + QStringLiteral("/map_adapt"),
            {QStringLiteral("-moddeffn"), file(QStringLiteral("mdef.txt")), QStringLiteral("-ts2cbfn"),
             QStringLiteral(".ptm."), QStringLiteral("-meanfn"), shipped + QStringLiteral("/means"),
             QStringLiteral("-varfn"), shipped + QStringLiteral("/variances"), QStringLiteral("-mixwfn"),
             file(QStringLiteral("mixture_weights")), QStringLiteral("-tmatfn"),
             shipped + QStringLiteral("/transition_matrices"), QStringLiteral("-accumdir"),
             file(QStringLiteral("acc%1").arg(pass)), QStringLiteral("-mapmeanfn"), out},
            [this, shipped, out](const QString&) {
                if (QFileInfo(out).size() != QFileInfo(shipped + QStringLiteral("/means")).size()) return false;
                means_ = out;
                return true;
            });
    };
    steps_ << [this, align] {
        align(0, [this](const QString& output) {
            // bw goes on without a sentence it cannot align with its text, and says so.
            static const QRegularExpression ignored(QStringLiteral("ERROR: .*\\b(\\S+) ignored"));
            QStringList skipped;
            for (auto it = ignored.globalMatch(output); it.hasNext();)
                skipped << it.next().captured(1);
            for (const Take& take : std::as_const(takes_))
                if (skipped.contains(idOf(take))) result_.unusable << take.sentence;
            result_.used = result_.total - int(result_.unusable.size());
            std::sort(result_.unusable.begin(), result_.unusable.end());
            shippedFit_ = fitPerFrame(output);
            return true;
        });
    };
    steps_ << [this, adapt] {
        if (result_.used < MinimumSentences) return fail(tooFew());
        adapt(0);
    };
    // 8. The sentences aligned again with the adapted model. Where it fits the speaker far better
    // than the shipped one did, the first alignment was made with a model far from the voice, and
    // a second estimate from the new alignment is taken; where the shipped model already fitted,
    // a second pass only learns the training sentences by heart.
    steps_ << [this, align] {
        align(1, [this](const QString& output) {
            result_.gain = fitPerFrame(output) - shippedFit_;
            return true;
        });
    };
    steps_ << [this, adapt] {
        result_.passes = result_.gain >= RealignGain ? 2 : 1;
        if (result_.passes == 1) return next();
        adapt(1);
    };
    // 9. The whole model, checked, loaded once, and put in place.
    steps_ << [this, shipped, file] {
        runHere([shipped, folder = build_, model = file(QStringLiteral("model")), means = means_] {
            QString why;
            if (!copyFile(means, model + QStringLiteral("/means"), &why)) return why;
            for (const QString& name : CopiedFiles)
                if (!copyFile(shipped + QLatin1Char('/') + name, model + QLatin1Char('/') + name, &why)) return why;
            if (!writeManifest(model, &why) || !verifyManifest(model, &why)) return why;
            return tryLoad(model, folder);
        });
    };
    steps_ << [this, file] {
        QString why;
        if (!profile_.install(file(QStringLiteral("model")), &why)) return fail(why);
        result_.modelBytes = folderBytes(profile_.modelFolder());
        result_.ok = true;
        finish();
    };
    QMetaObject::invokeMethod(
        this,
        [this, g = generation_] {
            if (g == generation_ && running_) steps_[step_]();
        },
        Qt::QueuedConnection);
    return true;
}

QString VoiceTrainer::tooFew() const {
    return QStringLiteral("only %1 of %2 sentences could be used; say them again, clearly and close to the microphone")
        .arg(result_.used)
        .arg(result_.total);
}

void VoiceTrainer::next() {
    ++step_;
    const int g = generation_;
    emit progress(step_, Steps);
    // A handler of progress may have cancelled.
    if (g == generation_ && running_ && step_ < steps_.size()) steps_[step_]();
}

void VoiceTrainer::run(const QString& program, const QStringList& arguments,
                       std::function<bool(const QString& output)> check) {
    auto* process = new QProcess(this);
    process_ = process;
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setWorkingDirectory(build_);
    auto* output = new QByteArray;
    connect(process, &QProcess::readyRead, process, [process, output] { output->append(process->readAll()); });
    QTimer::singleShot(StepTimeoutMs, process, [process] { process->kill(); });
    connect(process, &QProcess::finished, this,
            [this, process, output, program, check = std::move(check), g = generation_](int code,
                                                                                        QProcess::ExitStatus status) {
                output->append(process->readAll());
                const QString text = QString::fromLocal8Bit(*output);
                delete output;
                process->deleteLater();
                if (g != generation_ || !running_) return;
                const QString tool = QFileInfo(program).fileName();
                if (status != QProcess::NormalExit || code != 0 || !check(text)) {
                    // What the tool said last is the likeliest reason (a full disk, a file it could not read).
                    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
                    QString said;
                    for (const QString& line : lines)
                        if (line.startsWith(QLatin1String("ERROR")) || line.startsWith(QLatin1String("FATAL")))
                            said = line;
                    return fail(said.isEmpty() ? QStringLiteral("%1 failed").arg(tool)
                                               : QStringLiteral("%1 failed: %2").arg(tool, said.trimmed()));
                }
                next();
            });
    connect(process, &QProcess::errorOccurred, this,
            [this, process, program, g = generation_](QProcess::ProcessError e) {
                if (e != QProcess::FailedToStart || g != generation_ || !running_) return;
                process->deleteLater();
                fail(QStringLiteral("%1 could not be started").arg(QFileInfo(program).fileName()));
            });
    process->start(program, arguments);
}

void VoiceTrainer::runHere(std::function<QString()> work) {
    auto* why = new QString;
    QThread* thread = QThread::create([work = std::move(work), why] { *why = work(); });
    connect(thread, &QThread::finished, this, [this, thread, why, g = generation_] {
        const QString problem = *why;
        delete why;
        thread->deleteLater();
        if (g != generation_ || !running_) return;
        if (!problem.isEmpty()) return fail(problem);
        next();
    });
    connect(this, &QObject::destroyed, thread, [thread] { thread->wait(); });
    thread->start();
}

void VoiceTrainer::fail(const QString& why) {
    result_.ok = false;
    result_.message = why;
    finish();
}

void VoiceTrainer::finish() {
    result_.milliseconds = clock_.elapsed();
    cleanUp();
    running_ = false;
    ++generation_;
    const Result result = result_;
    emit finished(result);
}

void VoiceTrainer::cancel() {
    if (!running_) return;
    running_ = false;
    ++generation_;
    cleanUp();
}

void VoiceTrainer::cleanUp() {
    if (process_) {
        process_->disconnect(this);
        process_->kill();
        process_->waitForFinished(2000);
        process_->deleteLater();
    }
    // A step still running off the user-interface thread ends soon; its folder goes with the next start.
    if (!build_.isEmpty()) QDir(build_).removeRecursively();
    build_.clear();
}

bool sendumpToMixtureWeights(const QString& sendump, const QString& mixtureWeights, QString* why) {
    QFile in(sendump);
    if (!in.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("%1 could not be read").arg(sendump);
        return false;
    }
    const QByteArray data = in.readAll();
    auto int32At = [&data](qsizetype at) { return qFromLittleEndian<qint32>(data.constData() + at); };
    // A header of length-prefixed strings ends with a length of 0.
    qsizetype at = 0;
    int features = 0;
    int shift = 10;
    bool clustered = false;
    for (;;) {
        if (at + 4 > data.size()) return *why = QStringLiteral("the sendump header is cut short"), false;
        const qint32 length = int32At(at);
        at += 4;
        if (length == 0) break;
        if (length < 0 || at + length > data.size())
            return *why = QStringLiteral("the sendump header is damaged"), false;
        const QByteArray field = QByteArray(data.constData() + at, length - 1);
        at += length;
        if (field.startsWith("feature_count ")) features = field.mid(14).toInt();
        if (field.startsWith("mixw_shift ")) shift = field.mid(11).toInt();
        if (field.startsWith("cluster_count ") && field.mid(14).toInt() != 0) clustered = true;
    }
    if (clustered || features <= 0 || at + 8 > data.size()) {
        *why = QStringLiteral("the sendump is not of the kind this model ships");
        return false;
    }
    const qint32 codewords = int32At(at), senones = int32At(at + 4);
    at += 8;
    const qint64 count = qint64(features) * codewords * senones;
    if (codewords <= 0 || senones <= 0 || at + count != data.size()) {
        *why = QStringLiteral("the sendump's size does not match its header");
        return false;
    }
    // Stored per feature and codeword for all senones, as the quantised negative log (base 1.0001,
    // shifted) of the weight; a byte b stands for the weights that round to it, and its middle is
    // what packs back to b.
    std::vector<float> weights(static_cast<std::size_t>(count));
    const double step = std::log(1.0001) * double(1 << shift);
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData() + at);
    for (int f = 0; f < features; ++f)
        for (int c = 0; c < codewords; ++c)
            for (int s = 0; s < senones; ++s)
                weights[(std::size_t(s) * features + f) * codewords + c] =
                    float(std::exp(-(double(*bytes++) - 0.5) * step));

    QSaveFile out(mixtureWeights);
    QByteArray header = "s3\nversion 1.0\nendhdr\n";
    auto putInt = [&header](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        header.append(b, 4);
    };
    putInt(0x11223344u);
    putInt(quint32(senones));
    putInt(quint32(features));
    putInt(quint32(codewords));
    putInt(quint32(count));
    QByteArray body(qsizetype(count) * 4, Qt::Uninitialized);
    for (std::size_t i = 0; i < weights.size(); ++i)
        qToLittleEndian(weights[i], body.data() + i * 4);
    if (!out.open(QIODevice::WriteOnly) || out.write(header) != header.size() || out.write(body) != body.size() ||
        !out.commit()) {
        *why = diskProblem(out);
        return false;
    }
    return true;
}

QByteArray readWavSamples(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray data = file.readAll();
    if (data.size() < 44 || !data.startsWith("RIFF") || data.mid(8, 4) != "WAVE") return {};
    qsizetype at = 12;
    bool pcm16 = false;
    while (at + 8 <= data.size()) {
        const QByteArray id = data.mid(at, 4);
        const quint32 size = qFromLittleEndian<quint32>(data.constData() + at + 4);
        at += 8;
        if (id == "fmt " && size >= 16 && at + 16 <= data.size()) {
            const quint16 format = qFromLittleEndian<quint16>(data.constData() + at);
            const quint16 channels = qFromLittleEndian<quint16>(data.constData() + at + 2);
            const quint32 rate = qFromLittleEndian<quint32>(data.constData() + at + 4);
            const quint16 bits = qFromLittleEndian<quint16>(data.constData() + at + 14);
            pcm16 = format == 1 && channels == 1 && rate == 16000 && bits == 16;
        } else if (id == "data") {
            if (!pcm16) return {};
            return data.mid(at, std::min<qsizetype>(size, data.size() - at) & ~qsizetype(1));
        }
        at += size + (size & 1);
    }
    return {};
}

bool writeWav(const QString& path, const QByteArray& samples, QString* why) {
    QByteArray header;
    auto put32 = [&header](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        header.append(b, 4);
    };
    auto put16 = [&header](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        header.append(b, 2);
    };
    header += "RIFF";
    put32(quint32(36 + samples.size()));
    header += "WAVEfmt ";
    put32(16);
    put16(1);
    put16(1);
    put32(16000);
    put32(32000);
    put16(2);
    put16(16);
    header += "data";
    put32(quint32(samples.size()));
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(header) != header.size() || out.write(samples) != samples.size() ||
        !out.commit()) {
        *why = diskProblem(out);
        return false;
    }
    return true;
}

} // namespace speech
