#pragma once

#include "speech/testaudio.h"

#include <QString>
#include <QStringList>

#include <vector>

// The benchmark utterances: command phrases spoken by espeak-ng voice settings (every English
// accent, every voice variant that sounds like speech, several speeds), near misses built by rule
// from the phrases, unrelated sentences, noise, and the real recordings of pocketsphinx-testdata.
namespace corpus {

struct Voice {
    QString name; // espeak-ng voice, "sox" for noise, "recording" for real speech
    int wpm;
    int pitch;
    bool heldOut; // not used to choose the limits
};

struct Utterance {
    QString text; // what is said, or the noise kind, or the recording's file
    Voice voice;
    int expected; // position in the phrase list, -1 when nothing should be accepted
    // "phrase", "phrase in noise", "similar word", "plain word", "word added", "word dropped",
    // "near miss in noise", "sentence", "noise", "sound-alike", "recording"
    QString kind;
    testaudio::Samples audio;
};

// A list of command phrases with what is said against it.
struct PhraseSet {
    QString name;
    QStringList phrases;
    std::vector<Utterance> utterances;
};

QStringList phrases();
std::vector<Voice> voices();

// Near misses of `phrases` by rule, each with its kind: one word replaced by a similar-sounding
// common word or by a plain one, one word added, one left out. None is a phrase itself.
struct NearMiss {
    QString text, kind;
    int of; // the phrase it was made from
};
std::vector<NearMiss> nearMisses(const QStringList& phrases);

// The main set; `limit` > 0 keeps every n-th utterance so that about `limit` remain.
PhraseSet build(int limit = 0);
// Awkward phrase lists (one short word, prefixes, one sound apart, a hundred phrases), each with
// its phrases and near misses spoken by a few voices.
std::vector<PhraseSet> badInputSets();
// Real speech from pocketsphinx-testdata: as commands, and as near misses of commands one word
// away from what was said. Empty when the package is not installed.
std::vector<PhraseSet> recordingSets();

// `texts` said by `voice` (cached like the rest of the set under VORLIX_BENCH_CACHE).
std::vector<testaudio::Samples> speakAll(const QStringList& texts, const Voice& voice);
// Synthesises (or reads from VORLIX_BENCH_CACHE) the audio of each utterance by its voice.
void synthesiseAll(std::vector<Utterance>& utterances);

// A field of /proc/self/status in kB ("VmRSS:", "VmHWM:"), 0 when missing.
long statusKb(const char* field);

} // namespace corpus
