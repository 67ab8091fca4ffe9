// Time and memory of clsSpeech::SetWords with a large list of voice phrases: the recogniser's
// grammar is built at start-up, before the agent answers.
//   bench_speech_grammar [numbers|words] [PHRASES]
// numbers: "open item 12345", every number a word of its own pronounced by espeak-ng;
// words: two dictionary words, 400 different ones, as bench/make_big_settings.sh writes them.
#include "corpus.h"
#include "speech/clsspeech.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

#include <cstdio>

namespace {

QStringList dictionaryWords() {
    QFile f(qEnvironmentVariable("VORLIX_DICT", "/usr/share/pocketsphinx/model/en-us/cmudict-en-us.dict"));
    f.open(QIODevice::ReadOnly);
    static const QRegularExpression plain(QStringLiteral("^[a-z]{4,8}$"));
    QStringList words;
    int k = 0;
    while (words.size() < 400 && !f.atEnd()) {
        const QString word = QString::fromUtf8(f.readLine().split(' ').value(0));
        if (plain.match(word).hasMatch() && ++k % 97 == 0) words << word;
    }
    return words;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString kind = argc > 1 ? QString::fromUtf8(argv[1]) : QStringLiteral("numbers");
    const int count = argc > 2 ? QByteArray(argv[2]).toInt() : 33333;
    QStringList phrases;
    const QStringList words = dictionaryWords();
    for (int i = 0; i < count; ++i)
        phrases << (kind == "words" ? words.value(i % 400) + ' ' + words.value((i / 400) % 400)
                                    : QStringLiteral("open item %1").arg(10000 + i));
    clsSpeech speech;
    const long before = corpus::statusKb("VmRSS:");
    QElapsedTimer t;
    t.start();
    speech.SetWords("ZQAgent", phrases.join(','));
    const qint64 ms = t.elapsed();
    std::printf("SetWords, %lld %s phrases: %lld ms; resident memory %ld kB before, %ld kB after, %ld kB at most\n",
                qlonglong(phrases.size()), qPrintable(kind), ms, before, corpus::statusKb("VmRSS:"),
                corpus::statusKb("VmHWM:"));
    return 0;
}
