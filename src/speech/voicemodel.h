#pragma once

#include <QString>
#include <QStringList>

namespace speech {

// The acoustic model that comes with the recogniser (pocketsphinx-en-us).
QString shippedAcousticModel();
// Its pronunciation dictionary.
QString shippedDictionary();

// The sentences a user reads to train the recogniser on their voice: varied sounds, no commands.
const QStringList& trainingSentences();

// Where one user's voice training lives: the adapted acoustic model and the recordings it was made
// from, both under one folder that belongs to the user (never the program's own folder).
class VoiceProfile {
public:
    explicit VoiceProfile(const QString& directory);

    QString directory() const { return directory_; }
    QString modelFolder() const;
    QString recordingsFolder() const;
    // The recording of sentence `index` (0-based) of trainingSentences().
    QString recordingFile(int index) const;
    bool hasRecording(int index) const;

    enum class State { Untrained, Trained, Damaged };
    // Whether an adapted model is there and whole; `why` says what is wrong with a damaged one.
    State state(QString* why = nullptr) const;
    // The folder the recogniser should load: the adapted model when it is whole, else empty (the
    // shipped one).
    QString usableModel() const { return state() == State::Trained ? modelFolder() : QString(); }

    // Puts a finished, verified model folder in place of the current one (a rename on the same disk,
    // so a model is always either the old one or the new one, never half of either).
    bool install(const QString& builtFolder, QString* why);
    // Back to the shipped model: the adapted model and the recordings are deleted.
    bool forget(QString* why);
    // Moves a damaged model out of the way, so that it is reported once and never loaded.
    void setAsideDamaged();
    // Folders an adaptation left when the agent ended in the middle of it.
    void removeLeftovers() const;
    // A new empty folder beside the model for building one; empty (and `why` set) when it cannot be made.
    QString makeBuildFolder(QString* why) const;

private:
    QString directory_;
};

// A folder holds a usable model when its manifest lists every model file with its size and checksum
// and they all match. The manifest is written last, so a model cut short has none.
bool writeManifest(const QString& folder, QString* why);
bool verifyManifest(const QString& folder, QString* why);

} // namespace speech
