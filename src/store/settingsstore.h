#pragma once

#include "commands/commandtable.h"
#include "store/database.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

inline const QString SettingsFileName = QStringLiteral("settings.zqf");
inline const QString CreatedStartupText = QStringLiteral("Welcome To Vorlix");
inline const QString NoRowStartupText = QStringLiteral("Welcome to Vorlix");

// The running program's file, as the kernel names it. Empty, with the reason in `why`, when that path
// is not valid UTF-8: every later use (the settings file, a desktop entry) needs it as text.
QString ProgramFilePath(QString* why = nullptr);
// The program's directory, ending in "/": the settings file lives next to the program. Empty as
// ProgramFilePath is, never a stand-in folder.
QString AppPath(QString* why = nullptr);

// The settings file: its schema pass, and moving AgentSettings and the CommandList in and out of it.
// The store remembers what it read, so that a save writes only what changed since: rows, columns
// and values that the agent does not know, or did not edit, are left as they are.
class SettingsStore {
public:
    explicit SettingsStore(const QString& directory);

    QString SettingsFilePath() const { return path_; }

    // Reads the settings row and appends every command row. A Null field keeps the member's value;
    // any other failure is reported as "Error # : " number, description, "LoadSettings" and the load
    // goes on. The reports are made once the file is closed again. A file that other users could have
    // planted or changed is not read at all, and nothing is ever written there.
    void LoadSettings(AgentSettings& settings, CommandList& commands);

    // Writes, in one transaction, what changed in memory since the file was read or last saved, and
    // nothing when nothing changed. Before it replaces a value that could not be read, the file is
    // kept aside and `notice` says where. New commands receive their RowId. A store that never read
    // the file makes the file hold exactly the given settings and commands.
    void SaveSettings(const AgentSettings& settings, CommandList& commands);

    // Values that start-up puts in place of settings it could not read, and texts that set-up only
    // trimmed, are not edits: a save writes such a setting only once it is changed again.
    void AcceptDefaults(const AgentSettings& settings);

    // Receives each load failure's full message text, after the file is closed.
    std::function<void(const QString& message)> report;
    // Receives, after the file is closed, the news that a save kept the file aside first.
    std::function<void(const QString& message)> notice;
    // How long a file locked by another program is waited for.
    int busyTimeoutMs = 5000;

    static QString FormatError(const StoreError& error, const QString& procedure);

private:
    struct StoredCommand {
        KeyCommand values;
        unsigned doubtful = 0; // fields whose stored value the agent could not read faithfully
    };
    using Step = std::function<bool(const std::function<void()>&)>;

    void Report(const StoreError& error);
    void DeliverReports();
    // Creates the file when missing and adds any missing table or field. A file that cannot be read
    // as a settings database is kept aside (reported) and a new one is made.
    void OpenSettingsDatabase(AgentSettings& settings);
    QString KeepAside(const QString& why, bool withJournal);
    // Reads the file's rows into `settings` and `commands` and remembers them as what the file holds.
    void ReadFile(Database& db, AgentSettings& settings, CommandList& commands, const Step& step);

    QString path_;
    bool databaseCreated_ = false;
    QStringList pendingReports_;
    // Why the file is not trusted; empty when it is.
    QString untrusted_;
    // The store has looked at the file, so what it remembers is the file's content.
    bool known_ = false;
    // Part of the file could not be read: it is copied aside before the first save changes it.
    bool keepBeforeSave_ = false;
    // A new file gets its settings row even when nothing was edited.
    bool writeSettingsRow_ = false;
    std::optional<qint64> settingsRow_;
    // The settings row could not be read at all.
    bool settingsUnread_ = false;
    AgentSettings storedSettings_;
    unsigned doubtfulSettings_ = 0;
    QHash<qint64, StoredCommand> storedCommands_;
};
