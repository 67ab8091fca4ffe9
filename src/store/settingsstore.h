#pragma once

#include "commands/commandtable.h"
#include "store/database.h"

#include <QString>
#include <functional>

inline const QString SettingsFileName = QStringLiteral("settings.zqf");
inline const QString CreatedStartupText = QStringLiteral("Welcome To Vorlix");
inline const QString NoRowStartupText = QStringLiteral("Welcome to Vorlix");

// The program's directory, ending in "/": the settings file lives next to the program.
QString AppPath();

// Makes sure `tableName` exists; a new table gets only the auto-increment "Index" field.
void EnsureTable(Database& db, const QString& tableName);
// Makes sure the table has a field called `fieldName`; an existing field is never changed.
void EnsureField(Database& db, const QString& tableName, const QString& fieldName, int fieldType, int fieldSize,
                 bool allowZeroLength);

// The settings file: its schema pass, and moving AgentSettings and the CommandList in and out of it.
class SettingsStore {
public:
    explicit SettingsStore(const QString& directory);

    QString SettingsFilePath() const { return path_; }
    bool DatabaseCreated() const { return databaseCreated_; }

    // Creates the file when missing and adds any missing table or field. A file that cannot be read
    // as a settings database is kept aside (reported through `report`) and a new one is made.
    void OpenSettingsDatabase(AgentSettings& settings);

    // Reads the settings row and appends every command row. A Null field keeps the member's value;
    // any other failure is reported as "Error # : " number, description, "LoadSettings" and the load goes on.
    void LoadSettings(AgentSettings& settings, CommandList& commands);

    // Rewrites both tables from memory in one transaction: a failure leaves the file as it was.
    void SaveSettings(const AgentSettings& settings, const CommandList& commands);

    // Receives each load failure's full message text.
    std::function<void(const QString& message)> report;

    static QString FormatError(const StoreError& error, const QString& procedure);

private:
    void Report(const StoreError& error);
    QString KeepAside(const QString& why);

    QString path_;
    bool databaseCreated_ = false;
    // An existing file that could not be read is copied aside before the first save overwrites it.
    bool keepBeforeSave_ = false;
};
