#pragma once

#include "speech/testaudio.h"

#include <QString>
#include <QStringList>

#include <vector>

// The benchmark utterances: command phrases spoken by several espeak-ng voices and speeds, and
// things that are not commands (near misses, plain sentences, noise).
namespace corpus {

struct Voice {
    QString name;
    int wpm;
    int pitch;
    bool heldOut; // not used to choose the thresholds
};

struct Utterance {
    QString text; // what is said, or the noise kind
    Voice voice;
    int expected; // position in phrases(), -1 when nothing should be accepted
    QString kind; // "phrase", "near miss", "sentence", "noise", "sound-alike"
    testaudio::Samples audio;
};

QStringList phrases();
std::vector<Voice> voices();
// Every utterance with its audio; `limit` > 0 keeps every n-th so that about `limit` remain.
std::vector<Utterance> build(int limit = 0);

// A field of /proc/self/status in kB ("VmRSS:", "VmHWM:"), 0 when missing.
long statusKb(const char* field);

} // namespace corpus
