#include "corpus.h"

#include "speech/commonwords.h"
#include "speech/lexicon.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace corpus {

QStringList phrases() {
    return {"computer",     "Vorlix",         "open mail",     "open the browser", "close window",
            "next track",   "previous track", "volume up",     "volume down",      "play music",
            "stop music",   "check my email", "open 7zip",     "lock the screen",  "take a screenshot",
            "show desktop", "open terminal",  "mute sound",    "go back",          "scroll down",
            "print page",   "zoom in",        "open calendar", "save the file"};
}

std::vector<Voice> voices() {
    // Every variant that sounds like a person; robots, whispers, croaks and the deliberately
    // distorted ones are left out. Accents, speeds and pitches rotate over the variants, and every
    // third variant is held out.
    const QStringList variants = {
        "",        "m1",       "m2",      "m3",         "m4",       "m5",     "m6",      "m7",      "m8",
        "f1",      "f2",       "f3",      "f4",         "f5",       "klatt",  "klatt2",  "klatt3",  "klatt4",
        "klatt6",  "adam",     "Alex",    "Alicia",     "Andrea",   "Andy",   "Annie",   "antonio", "aunty",
        "belinda", "benjamin", "boris",   "caleb",      "david",    "Denis",  "Diogo",   "ed",      "edward",
        "edward2", "Gene",     "Gene2",   "gustave",    "Henrique", "Hugo",   "iven",    "iven2",   "iven3",
        "iven4",   "Jacky",    "john",    "kaukovalta", "Lee",      "linda",  "marcelo", "Marco",   "Mario",
        "max",     "Michael",  "michel",  "miguel",     "Mike",     "Nguyen", "pablo",   "paul",    "pedro",
        "quincy",  "rob",      "robert",  "steph",      "steph2",   "steph3", "zac",     "anika",   "AnxiousAndy",
        "grandpa", "grandma",  "norbert", "sandro",     "shelby",   "travis", "victor"};
    const QStringList accents = {"en-us",          "en",     "en-gb-x-rp",     "en-us-nyc",
                                 "en-gb-scotland", "en-029", "en-gb-x-gbclan", "en-gb-x-gbcwmd"};
    const int speeds[] = {170, 135, 215, 190, 150};
    std::vector<Voice> out;
    for (int i = 0; i < variants.size(); ++i) {
        const QString accent = accents[i % accents.size()];
        const QString name = variants[i].isEmpty() ? accent : accent + "+" + variants[i];
        out.push_back({name, speeds[i % 5], 35 + (i * 7) % 40, i % 3 == 2});
    }
    return out;
}

namespace {

// Model phones of the dictionary's words (first pronunciation).
const QHash<QString, QStringList>& dictionary() {
    static const QHash<QString, QStringList> dict = [] {
        QHash<QString, QStringList> d;
        QFile f(VORLIX_SPEECH_MODEL_DIR "/en-us/cmudict-en-us.dict");
        if (!f.open(QIODevice::ReadOnly)) return d;
        QTextStream in(&f);
        for (QString line; in.readLineInto(&line);) {
            const QStringList parts = line.split(' ', Qt::SkipEmptyParts);
            if (parts.size() > 1 && !parts[0].contains('(')) d.insert(parts[0], parts.mid(1));
        }
        return d;
    }();
    return dict;
}

int phoneDistance(const QStringList& a, const QStringList& b) {
    std::vector<int> row(std::size_t(b.size()) + 1);
    for (int j = 0; j <= b.size(); ++j)
        row[std::size_t(j)] = j;
    for (int i = 1; i <= a.size(); ++i) {
        int diag = row[0];
        row[0] = i;
        for (int j = 1; j <= b.size(); ++j) {
            const int up = row[std::size_t(j)];
            row[std::size_t(j)] =
                std::min({up + 1, row[std::size_t(j) - 1] + 1, diag + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diag = up;
        }
    }
    return row[std::size_t(b.size())];
}

QStringList pronunciation(const QStringList& words) {
    QStringList phones;
    for (const QString& w : words) {
        const QStringList p = dictionary().value(w);
        if (p.isEmpty()) return {};
        phones += p;
    }
    return phones;
}

// The same for the same text in every run, unlike qHash, which is seeded per process: the same
// phrase always gets the same replacement, the same utterance the same cache file.
quint64 stableHash(const QString& key) {
    quint64 h = 14695981039346656037ull; // 64-bit FNV-1a
    for (const QChar c : key)
        h = (h ^ c.unicode()) * 1099511628211ull;
    return h;
}

// Common words of at least three letters that are not in any phrase, by frequency rank.
QStringList candidates(int from, int to, const QSet<QString>& exclude) {
    QStringList out;
    for (int i = from; i < std::min(to, speech::CommonWordCount); ++i) {
        const QString w = QString::fromLatin1(speech::CommonWords[i]);
        if (w.size() >= 3 && !w.contains('\'') && !exclude.contains(w)) out << w;
    }
    return out;
}

} // namespace

std::vector<NearMiss> nearMisses(const QStringList& phraseList) {
    std::vector<NearMiss> out;
    QSet<QString> phraseWords, taken;
    QSet<QString> spokenAs; // pronunciations of the phrases: a near miss must differ
    for (const QString& p : phraseList) {
        const QStringList words = speech::phraseWords(p);
        for (const QString& w : words)
            phraseWords.insert(w);
        taken.insert(words.join(' '));
        spokenAs.insert(pronunciation(words).join(' '));
    }
    const QStringList similarPool = candidates(0, 3000, phraseWords);
    const QStringList plainPool = candidates(150, 2000, phraseWords);
    auto add = [&](const QStringList& words, const QString& kind, int of) {
        const QString text = words.join(' ');
        const QString phones = pronunciation(words).join(' ');
        if (words.isEmpty() || taken.contains(text) || (!phones.isEmpty() && spokenAs.contains(phones))) return false;
        taken.insert(text);
        out.push_back({text, kind, of});
        return true;
    };
    for (int i = 0; i < phraseList.size(); ++i) {
        const QStringList words = speech::phraseWords(phraseList[i]);
        const int n = int(words.size());
        // The word to change: the last one the dictionary knows, rotating with the phrase.
        int at = -1;
        for (int k = 0; k < n && at < 0; ++k) {
            const int j = (n - 1 - k + i) % n;
            if (dictionary().contains(words[j])) at = j;
        }
        if (at >= 0) {
            // Similar-sounding: the common word nearest in phones, at least two phones away
            // (one phone away is a sound-alike, reported apart).
            const QStringList own = dictionary().value(words[at]);
            QString best;
            int bestDistance = 1 << 20;
            for (const QString& c : similarPool) {
                const int d = phoneDistance(own, dictionary().value(c));
                if (d >= 2 && d < bestDistance) {
                    best = c;
                    bestDistance = d;
                }
            }
            QStringList similar = words;
            similar[at] = best;
            add(similar, "similar word", i);
            // Plain: a common word that sounds unlike the one it replaces.
            for (unsigned k = unsigned(stableHash(phraseList[i]));; ++k) {
                const QString c = plainPool[int(k % unsigned(plainPool.size()))];
                if (phoneDistance(own, dictionary().value(c)) < 3) continue;
                QStringList plain = words;
                plain[at] = c;
                if (add(plain, "plain word", i)) break;
            }
        }
        for (unsigned k = unsigned(stableHash(phraseList[i] + "+"));; ++k) {
            QStringList longer = words;
            const QString c = plainPool[int(k % unsigned(plainPool.size()))];
            if (i % 2)
                longer.prepend(c);
            else
                longer.append(c);
            if (add(longer, "word added", i)) break;
        }
        for (int k = 0; k < n && n > 1; ++k) {
            QStringList shorter = words;
            shorter.removeAt((i + k) % n);
            if (add(shorter, "word dropped", i)) break;
        }
    }
    return out;
}

namespace {

// One sound away from a phrase: reported on their own, since no recogniser tells these apart
// reliably.
QStringList soundAlikes() {
    return {"open mall",    "next truck", "computers", "volume",      "previous page",
            "go back home", "open seven", "show desk", "mute sounds", "close windows"};
}

QStringList sentences() {
    return {"the quick brown fox jumps over the lazy dog",
            "what time is it",
            "I will be back in five minutes",
            "can you hear me now",
            "it is raining again today",
            "please pass the salt",
            "she sells sea shells by the sea shore",
            "where did I leave my keys",
            "the meeting starts at noon",
            "let us have lunch together",
            "my phone battery is almost empty",
            "this coffee is too hot",
            "hello",
            "yes",
            "thank you very much",
            "good morning everybody",
            "he was reading a book",
            "turn left at the next corner",
            "the children are playing outside",
            "how much does it cost",
            "open the car door",
            "zoom meeting at ten",
            "print money",
            "I need a new computer"};
}

// Another synthesiser than the one the limits are chosen on: its voices stand for speech the
// recogniser was never tuned to. Empty when flite is not installed.
testaudio::Samples flite(const QString& text, const Voice& voice) {
    QTemporaryDir dir;
    const QString wav = dir.filePath("speech.wav");
    // wpm: 100 is the voice's own speed.
    QProcess::execute("flite", {"-voice", voice.name.mid(6), "--setf",
                                QStringLiteral("duration_stretch=%1").arg(100.0 / voice.wpm), "-t", text, "-o", wav});
    QProcess sox;
    sox.start("sox", {"-R", "-q", wav, "-t", "raw", "-r", "16000", "-e", "signed", "-b", "16", "-c", "1", "-"});
    sox.waitForFinished();
    const QByteArray bytes = sox.readAllStandardOutput();
    testaudio::Samples s(std::size_t(bytes.size() / 2));
    std::memcpy(s.data(), bytes.constData(), s.size() * 2);
    return s;
}

testaudio::Samples make(const Utterance& u) {
    if (u.kind == "noise") {
        const QString kind = u.text.section(" @", 0, 0);
        return testaudio::noise(kind, 1.5, u.text.section(" @", 1).toDouble());
    }
    testaudio::Samples audio = u.voice.name.startsWith("flite:")
                                   ? flite(u.text, u.voice)
                                   : testaudio::speech(u.text, u.voice.name, u.voice.wpm, u.voice.pitch);
    return audio;
}

// Synthesis costs two processes per utterance; with VORLIX_BENCH_CACHE=dir the audio is kept there
// between runs.
void synthesise(std::vector<Utterance>& all) {
    const QString cache = qEnvironmentVariable("VORLIX_BENCH_CACHE");
    if (!cache.isEmpty()) QDir().mkpath(cache);
    for (Utterance& u : all) {
        const QString key =
            QStringLiteral("%1|%2|%3|%4")
                .arg(u.voice.name, QString::number(u.voice.wpm), QString::number(u.voice.pitch), u.text);
        const QString path = QStringLiteral("%1/%2.raw").arg(cache, QString::number(stableHash(key), 16));
        QFile f(path);
        if (!cache.isEmpty() && f.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = f.readAll();
            u.audio.resize(std::size_t(bytes.size() / 2));
            std::memcpy(u.audio.data(), bytes.constData(), u.audio.size() * 2);
            continue;
        }
        u.audio = make(u);
        if (!cache.isEmpty() && f.open(QIODevice::WriteOnly))
            f.write(reinterpret_cast<const char*>(u.audio.data()), qint64(u.audio.size() * 2));
    }
}

void thin(std::vector<Utterance>& all, int limit) {
    if (limit <= 0 || int(all.size()) <= limit) return;
    std::vector<Utterance> kept;
    const double step = double(all.size()) / limit;
    for (double k = 0; k < all.size(); k += step)
        kept.push_back(all[std::size_t(k)]);
    all.swap(kept);
}

} // namespace

PhraseSet build(int limit) {
    PhraseSet set{"main", phrases(), {}};
    std::vector<Utterance>& all = set.utterances;
    const std::vector<NearMiss> near = nearMisses(set.phrases);
    const QStringList plain = sentences(), alike = soundAlikes();
    const std::vector<Voice> allVoices = voices();
    // Per voice, in rotation: six phrases, six near misses, two sentences, one phrase and one near
    // miss in room noise, one sound-alike.
    std::size_t nextPhrase = 0, nextNear = 0, nextSentence = 0;
    for (std::size_t vi = 0; vi < allVoices.size(); ++vi) {
        const Voice& v = allVoices[vi];
        for (int k = 0; k < 6; ++k, ++nextPhrase) {
            const int i = int(nextPhrase % set.phrases.size());
            all.push_back({set.phrases[i], v, i, "phrase", {}});
        }
        for (int k = 0; k < 6; ++k, ++nextNear)
            all.push_back({near[nextNear % near.size()].text, v, -1, near[nextNear % near.size()].kind, {}});
        for (int k = 0; k < 2; ++k, ++nextSentence)
            all.push_back({plain[int(nextSentence % plain.size())], v, -1, "sentence", {}});
        const int noisy = int((vi * 7) % set.phrases.size());
        all.push_back({set.phrases[noisy], v, noisy, "phrase in noise", {}});
        const NearMiss& nearInNoise = near[(vi * 5) % near.size()];
        all.push_back({nearInNoise.text, v, -1, "near miss in noise", {}});
        all.push_back({alike[int(vi % alike.size())], v, -1, "sound-alike", {}});
    }
    // The other synthesiser: every phrase, as many near misses, a few sentences, phrases and near
    // misses in room noise per voice setting (wpm: per cent of the voice's own speed).
    if (!QStandardPaths::findExecutable("flite").isEmpty()) {
        // Two voices choose the limits, two are held out.
        const Voice others[] = {{"flite:kal16", 100, 0, false}, {"flite:awb", 100, 0, false},
                                {"flite:rms", 100, 0, true},    {"flite:slt", 100, 0, true},
                                {"flite:kal16", 125, 0, false}, {"flite:awb", 85, 0, false},
                                {"flite:rms", 120, 0, true},    {"flite:slt", 85, 0, true}};
        for (const Voice& v : others) {
            for (int i = 0; i < set.phrases.size(); ++i)
                all.push_back({set.phrases[i], v, i, "phrase", {}});
            for (int k = 0; k < set.phrases.size(); ++k, ++nextNear)
                all.push_back({near[nextNear % near.size()].text, v, -1, near[nextNear % near.size()].kind, {}});
            for (int k = 0; k < 4; ++k, ++nextSentence)
                all.push_back({plain[int(nextSentence % plain.size())], v, -1, "sentence", {}});
            for (int k = 0; k < 3; ++k, ++nextPhrase) {
                const int i = int((nextPhrase * 7) % set.phrases.size());
                all.push_back({set.phrases[i], v, i, "phrase in noise", {}});
                const NearMiss& n = near[(nextPhrase * 5) % near.size()];
                all.push_back({n.text, v, -1, "near miss in noise", {}});
            }
        }
    }
    const QStringList noises = {
        "whitenoise", "pinknoise", "brownnoise", "sine 440", "sine 150-900", "square 220", "pinknoise tremolo 5 80"};
    for (const QString& n : noises)
        for (double g : {0.05, 0.2, 0.6})
            all.push_back({n + QStringLiteral(" @%1").arg(g), {"sox", 0, 0, false}, -1, "noise", {}});
    thin(all, limit);
    synthesise(all);
    return set;
}

std::vector<PhraseSet> badInputSets() {
    QStringList hundred;
    for (const char* verb : {"open", "close", "show", "hide", "start", "stop", "play", "find", "save", "print"})
        for (const char* object :
             {"mail", "file", "browser", "window", "music", "page", "menu", "terminal", "calendar", "settings"})
            hundred << QStringLiteral("%1 %2").arg(verb, object);
    std::vector<PhraseSet> sets = {
        {"one short word", {"go", "up", "stop", "no"}, {}},
        {"prefixes", {"scroll", "scroll down", "scroll down fast", "open", "open mail"}, {}},
        {"one sound apart", {"open file", "open pile", "mute sound", "mute round"}, {}},
        {"a hundred phrases", hundred, {}},
    };
    const Voice few[] = {{"en-us", 170, 50, true}, {"en-gb-x-rp+f3", 150, 65, true}, {"en+m7", 200, 35, true}};
    for (PhraseSet& s : sets) {
        const std::vector<NearMiss> near = nearMisses(s.phrases);
        for (std::size_t vi = 0; vi < std::size(few); ++vi) {
            for (int i = 0; i < s.phrases.size(); ++i)
                if (s.phrases.size() < 20 || (i + int(vi)) % 5 == 0)
                    s.utterances.push_back({s.phrases[i], few[vi], i, "phrase", {}});
            for (std::size_t j = 0; j < near.size(); ++j)
                if (near.size() < 40 || (j + vi) % 5 == 0)
                    s.utterances.push_back({near[j].text, few[vi], -1, near[j].kind, {}});
        }
        synthesise(s.utterances);
    }
    return sets;
}

namespace {

testaudio::Samples readRecording(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QByteArray bytes = f.readAll();
    if (path.endsWith(".wav")) bytes.remove(0, 44);
    testaudio::Samples s(std::size_t(bytes.size() / 2));
    std::memcpy(s.data(), bytes.constData(), s.size() * 2);
    return s;
}

// Any sound file sox reads, at the recogniser's rate.
testaudio::Samples readResampled(const QString& path) {
    QProcess sox;
    sox.start("sox", {"-R", "-q", path, "-t", "raw", "-r", "16000", "-e", "signed", "-b", "16", "-c", "1", "-"});
    sox.waitForFinished(30000);
    const QByteArray bytes = sox.readAllStandardOutput();
    testaudio::Samples s(std::size_t(bytes.size() / 2));
    std::memcpy(s.data(), bytes.constData(), s.size() * 2);
    return s;
}

} // namespace

std::vector<PhraseSet> recordingSets() {
    const QString dir = "/usr/share/pocketsphinx/test/data/";
    struct Recording {
        const char* file;
        const char* text;
    };
    const Recording said[] = {
        {"cards/001.wav", "ten of clubs"},
        {"cards/003.wav", "seven of clubs"},
        {"cards/004.wav", "five five"},
        {"goforward.raw", "go forward ten meters"},
        {"librivox/sense_and_sensibility_01_austen_64kb-0880.wav", "he was not an ill disposed young man"},
        {"librivox/sense_and_sensibility_01_austen_64kb-0930.wav", "he might even have been made amiable himself"},
    };
    const Recording unrelated[] = {
        {"cards/005.wav", "eight of spades four of clubs seven of hearts"},
        {"librivox/sense_and_sensibility_01_austen_64kb-0890.wav", "unless to be rather cold hearted"},
        {"librivox/sense_and_sensibility_01_austen_64kb-0920.wav", "had he married a more amiable woman"},
        {"numbers.raw", "numbers"},
        {"something.raw", "something"},
    };
    // alsa-utils' channel names, said by another person (48 kHz); each beside the others is also
    // a near miss of them.
    const QString alsa = "/usr/share/sounds/alsa/";
    const Recording channels[] = {
        {"Front_Left.wav", "front left"}, {"Front_Right.wav", "front right"}, {"Front_Center.wav", "front center"},
        {"Rear_Left.wav", "rear left"},   {"Rear_Right.wav", "rear right"},   {"Rear_Center.wav", "rear center"},
        {"Side_Left.wav", "side left"},   {"Side_Right.wav", "side right"},
    };
    if (!QFile::exists(dir + said[0].file)) return {};
    const Voice person{"recording", 0, 0, true};
    // As commands: what was said is a phrase, beside the benchmark's own phrases.
    PhraseSet asSaid{"recordings as commands", phrases(), {}};
    QStringList saidTexts;
    for (const Recording& r : said)
        saidTexts << r.text;
    for (const Recording& r : said) {
        asSaid.phrases << r.text;
        asSaid.utterances.push_back(
            {r.file, person, int(asSaid.phrases.size()) - 1, "recording", readRecording(dir + r.file)});
    }
    for (const Recording& r : unrelated)
        asSaid.utterances.push_back({r.file, person, -1, "recording, unrelated", readRecording(dir + r.file)});
    std::vector<PhraseSet> sets;
    if (QFile::exists(alsa + channels[0].file)) {
        const Voice other{"recording (alsa-utils)", 0, 0, true};
        for (const Recording& r : channels) {
            saidTexts << r.text;
            asSaid.phrases << r.text;
            asSaid.utterances.push_back(
                {r.file, other, int(asSaid.phrases.size()) - 1, "recording", readResampled(alsa + r.file)});
        }
        // Each channel name with the other seven as the commands: whatever is taken is a near miss.
        PhraseSet others{"recordings (alsa-utils), the other channel names as commands", phrases(), {}};
        for (const Recording& r : channels)
            others.phrases << r.text;
        for (const Recording& r : channels) {
            PhraseSet one = others;
            one.phrases.removeAll(QString::fromLatin1(r.text));
            one.name = QStringLiteral("recording \"%1\", the other channel names as commands").arg(r.text);
            one.utterances.push_back({r.file, other, -1, "recording: other channel", readResampled(alsa + r.file)});
            sets.push_back(one);
        }
    }
    // As near misses: per kind, the commands include every recording's near miss of that kind
    // and never what was said.
    sets.insert(sets.begin(), asSaid);
    const std::vector<NearMiss> near = nearMisses(saidTexts);
    for (const char* kind : {"similar word", "plain word", "word added", "word dropped"}) {
        PhraseSet s{QStringLiteral("recordings, commands one %1").arg(kind), phrases(), {}};
        for (const NearMiss& n : near)
            if (n.kind == kind && !saidTexts.contains(n.text)) s.phrases << n.text;
        for (const Recording& r : said)
            s.utterances.push_back(
                {r.file, person, -1, QStringLiteral("recording: ") + kind, readRecording(dir + r.file)});
        if (QFile::exists(alsa + channels[0].file))
            for (const Recording& r : channels)
                s.utterances.push_back({r.file, Voice{"recording (alsa-utils)", 0, 0, true}, -1,
                                        QStringLiteral("recording: ") + kind, readResampled(alsa + r.file)});
        sets.push_back(s);
    }
    return sets;
}

} // namespace corpus

namespace corpus {

std::vector<testaudio::Samples> speakAll(const QStringList& texts, const Voice& voice) {
    std::vector<Utterance> said;
    for (const QString& text : texts)
        said.push_back({text, voice, -1, "sentence", {}});
    synthesise(said);
    std::vector<testaudio::Samples> audio;
    for (Utterance& u : said)
        audio.push_back(std::move(u.audio));
    return audio;
}

void synthesiseAll(std::vector<Utterance>& utterances) {
    synthesise(utterances);
}

long statusKb(const char* field) {
    QFile f("/proc/self/status");
    f.open(QIODevice::ReadOnly);
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(field)) return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLong();
    return 0;
}

} // namespace corpus
