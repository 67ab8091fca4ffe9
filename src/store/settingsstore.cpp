#include "store/settingsstore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringList>

#include "store/filetrust.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <fcntl.h>
#include <limits>
#include <map>
#include <optional>
#include <type_traits>
#include <unistd.h>
#include <variant>

namespace {

namespace Err = StoreErrorNumber;
constexpr int kOverflow = 6;
constexpr int kItemNotFound = 3265;

const QString kSettingsTable = QStringLiteral("Settings");
const QString kCommandsTable = QStringLiteral("KeyCommands");

// The fields of the settings row, in the order the schema pass adds them: each is the member of
// AgentSettings of the same name, and the member's type gives the field's type.
using SettingMember = std::variant<QString AgentSettings::*, qint32 AgentSettings::*, bool AgentSettings::*>;
struct SettingField {
    const char* name;
    SettingMember member;
};
const SettingField kSettingsFields[] = {
    {"StartupText", &AgentSettings::StartupText},
    {"DeviceName", &AgentSettings::DeviceName},
    {"ListenCommand", &AgentSettings::ListenCommand},
    {"ListenTime", &AgentSettings::ListenTime},
    {"Response", &AgentSettings::Response},
    {"ResponseListen", &AgentSettings::ResponseListen},
    {"ResponseCommand", &AgentSettings::ResponseCommand},
};

// The fields of a command row, all text, in the order the schema pass adds them.
struct CommandField {
    const char* name;
    QString KeyCommand::*member;
};
const CommandField kCommandFields[] = {
    {"Name", &KeyCommand::Name}, {"Watch", &KeyCommand::Watch},           {"Value", &KeyCommand::Value},
    {"Type", &KeyCommand::Type}, {"ActionType", &KeyCommand::ActionType},
};

constexpr int kSettingCount = int(std::size(kSettingsFields));
constexpr int kCommandFieldCount = int(std::size(kCommandFields));

QString SettingName(int field) {
    return QString::fromLatin1(kSettingsFields[field].name);
}
QString CommandFieldName(int field) {
    return QString::fromLatin1(kCommandFields[field].name);
}

// A new row with every field of the table, bound in order from ?1.
QString InsertSql(const QString& table, int fieldCount, QString (*fieldName)(int)) {
    QStringList names, places;
    for (int f = 0; f < fieldCount; ++f) {
        names << QuoteName(fieldName(f));
        places << QStringLiteral("?%1").arg(f + 1);
    }
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
        .arg(QuoteName(table), names.join(QStringLiteral(", ")), places.join(QStringLiteral(", ")));
}

// The fields of `bits`, bound in order from ?1, then the row number.
QString UpdateSql(const QString& table, unsigned bits, int fieldCount, QString (*fieldName)(int),
                  const QString& rowId) {
    QStringList sets;
    for (int f = 0; f < fieldCount; ++f) {
        if (bits & (1u << f)) sets << QStringLiteral("%1 = ?%2").arg(QuoteName(fieldName(f))).arg(sets.size() + 1);
    }
    return QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?%4")
        .arg(QuoteName(table), sets.join(QStringLiteral(", ")), rowId)
        .arg(sets.size() + 1);
}

bool HasName(const QStringList& names, const QString& name) {
    return std::any_of(names.begin(), names.end(), [&](const QString& n) { return SameName(n, name); });
}

// Makes sure `tableName` exists; a new table gets only the auto-increment "Index" field.
void EnsureTable(Database& db, const QString& tableName) {
    if (HasName(db.tableNames(), tableName)) return;
    db.execute(
        QStringLiteral("CREATE TABLE %1 (\"Index\" INTEGER PRIMARY KEY AUTOINCREMENT)").arg(QuoteName(tableName)));
}

// Makes sure the table has a field called `fieldName`; an existing field is never changed. Text sizes
// are not enforced: a longer text is kept whole rather than cut.
void EnsureField(Database& db, const QString& tableName, const QString& fieldName, const char* declaredType) {
    if (HasName(db.fieldNames(tableName), fieldName)) return;
    db.execute(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3")
                   .arg(QuoteName(tableName), QuoteName(fieldName), QLatin1String(declaredType)));
}

template <typename T> constexpr const char* DeclaredType() {
    if constexpr (std::is_same_v<T, QString>)
        return "TEXT";
    else if constexpr (std::is_same_v<T, qint32>)
        return "INTEGER";
    else
        return "BOOLEAN";
}

void RunSchemaPass(Database& db) {
    EnsureTable(db, kSettingsTable);
    for (int f = 0; f < kSettingCount; ++f) {
        std::visit(
            [&]<typename T>(T AgentSettings::*) { EnsureField(db, kSettingsTable, SettingName(f), DeclaredType<T>()); },
            kSettingsFields[f].member);
    }
    EnsureTable(db, kCommandsTable);
    for (int f = 0; f < kCommandFieldCount; ++f)
        EnsureField(db, kCommandsTable, CommandFieldName(f), DeclaredType<QString>());
}

[[noreturn]] void TypeMismatch(const QString& field) {
    throw StoreError(Err::TypeMismatch, QStringLiteral("Type mismatch (field %1)").arg(field));
}

void RequireValue(const QVariant& value) {
    if (value.isNull()) throw StoreError(Err::InvalidUseOfNull, QStringLiteral("Invalid use of Null"));
}

QString ReadText(const QVariant& value) {
    RequireValue(value);
    if (value.typeId() == QMetaType::QByteArray) return QString::fromUtf8(value.toByteArray());
    if (value.typeId() == QMetaType::Double) return QString::number(value.toDouble(), 'g', 15);
    return value.toString();
}

// Whole numbers as a 32-bit signed value; fractions round half to even, as a stored number always has.
qint32 ReadLong(const QVariant& value, const QString& field) {
    RequireValue(value);
    double number = 0;
    if (value.typeId() == QMetaType::LongLong) {
        const qint64 whole = value.toLongLong();
        if (whole < std::numeric_limits<qint32>::min() || whole > std::numeric_limits<qint32>::max())
            throw StoreError(kOverflow, QStringLiteral("Overflow (field %1)").arg(field));
        return qint32(whole);
    }
    if (value.typeId() == QMetaType::Double) {
        number = value.toDouble();
    } else if (value.typeId() == QMetaType::QString) {
        bool ok = false;
        number = value.toString().trimmed().toDouble(&ok);
        if (!ok) TypeMismatch(field);
    } else {
        TypeMismatch(field);
    }
    const double rounded = std::nearbyint(number);
    if (!std::isfinite(rounded) || rounded < std::numeric_limits<qint32>::min() ||
        rounded > std::numeric_limits<qint32>::max())
        throw StoreError(kOverflow, QStringLiteral("Overflow (field %1)").arg(field));
    return qint32(rounded);
}

bool ReadBool(const QVariant& value, const QString& field) {
    RequireValue(value);
    if (value.typeId() == QMetaType::LongLong) return value.toLongLong() != 0;
    if (value.typeId() == QMetaType::Double) return value.toDouble() != 0;
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed();
        if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return true;
        if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) return false;
        bool ok = false;
        const double number = text.toDouble(&ok);
        if (ok) return number != 0;
    }
    TypeMismatch(field);
}

// One row of a query, with its fields found by name as SQLite resolves names; the first `skip`
// columns are not fields.
class Row {
public:
    Row(Statement& query, int skip) : query_(query), skip_(skip) {
        for (int c = skip; c < query.columnCount(); ++c)
            columns_.append(query.columnName(c));
    }
    QVariant operator[](const QString& field) const { return query_.value(column(field)); }
    bool plain(const QString& field) const { return query_.isPlainText(column(field)); }

private:
    int column(const QString& field) const {
        for (qsizetype c = 0; c < columns_.size(); ++c) {
            if (SameName(columns_[c], field)) return int(c) + skip_;
        }
        throw StoreError(kItemNotFound, QStringLiteral("Item not found in this collection (field %1)").arg(field));
    }

    Statement& query_;
    int skip_;
    QStringList columns_;
};

// A setting as it is written.
QVariant SettingOf(const AgentSettings& s, int field) {
    return std::visit(
        [&]<typename T>(T AgentSettings::*member) -> QVariant {
            if constexpr (std::is_same_v<T, QString>)
                return s.*member;
            else
                return qint64(s.*member);
        },
        kSettingsFields[field].member);
}

void ReadSetting(const Row& row, int field, AgentSettings& s) {
    const QString name = SettingName(field);
    const QVariant value = row[name];
    std::visit(
        [&]<typename T>(T AgentSettings::*member) {
            if constexpr (std::is_same_v<T, QString>)
                s.*member = ReadText(value);
            else if constexpr (std::is_same_v<T, qint32>)
                s.*member = ReadLong(value, name);
            else
                s.*member = ReadBool(value, name);
        },
        kSettingsFields[field].member);
}

void CopySetting(AgentSettings& to, const AgentSettings& from, int field) {
    std::visit([&](auto member) { to.*member = from.*member; }, kSettingsFields[field].member);
}

const QString& FieldOf(const KeyCommand& c, int field) {
    return c.*kCommandFields[field].member;
}
QString& FieldOf(KeyCommand& c, int field) {
    return c.*kCommandFields[field].member;
}

// Reads one field; a value that is there but could not be read exactly is marked in `doubtful`.
void ReadMarked(const Row& row, const QString& name, int bit, unsigned& doubtful, const std::function<void()>& read) {
    try {
        read();
        if (!row.plain(name)) doubtful |= 1u << bit;
    } catch (const StoreError& error) {
        if (error.number != Err::InvalidUseOfNull) doubtful |= 1u << bit;
        throw;
    }
}

// The name under which the table's row numbers can be selected: a field may take the usual one.
QString RowIdName(Database& db, const QString& table) {
    const QStringList fields = db.fieldNames(table);
    for (const char* candidate : {"rowid", "_rowid_", "oid"}) {
        const QString name = QString::fromLatin1(candidate);
        if (std::none_of(fields.begin(), fields.end(), [&](const QString& f) { return SameName(f, name); }))
            return name;
    }
    throw StoreError(Err::Failed, QStringLiteral("The table %1 has no row numbers that can be selected.").arg(table));
}

// Where a copy is made before it takes its name: a hidden name that no copy kept aside ever has.
QString PartialCopyPrefix(const QString& folder) {
    return folder + QStringLiteral("/.") + SettingsFileName + QStringLiteral(".copy-");
}

// Copies a file byte for byte into a new file readable by its owner only; never through a link. The
// copy is written under a temporary name, synced, and only then given its name, so that a copy under
// that name is always whole: one cut short (a crash, a kill) stays a hidden temporary.
bool CopyFile(const QString& from, const QString& to) {
    const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0) return false;
    const QString folder = QFileInfo(to).path();
    QByteArray partial = QFile::encodeName(PartialCopyPrefix(folder)) + "XXXXXX";
    const int out = ::mkostemp(partial.data(), O_CLOEXEC);
    if (out < 0) {
        ::close(in);
        return false;
    }
    // Made readable and writable by its owner alone.
    bool ok = true;
    char buffer[65536];
    while (ok) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0 || ::write(out, buffer, size_t(n)) != n) ok = false;
    }
    ok = ok && ::fsync(out) == 0;
    ::close(in);
    ok = ::close(out) == 0 && ok;
    // A hard link takes the name only while it is free, where a rename would replace a file there.
    ok = ok && ::link(partial.constData(), QFile::encodeName(to).constData()) == 0;
    ::unlink(partial.constData());
    if (ok) {
        // The new name must survive a crash as well.
        const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) ::fsync(dir), ::close(dir);
    }
    return ok;
}

// Copies cut short by an earlier run that was killed.
void RemovePartialCopies(const QString& folder) {
    const QString prefix = QFileInfo(PartialCopyPrefix(folder)).fileName();
    const QStringList names =
        QDir(folder).entryList({prefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names)
        if (name.size() == prefix.size() + 6) QFile::remove(folder + QLatin1Char('/') + name);
}

} // namespace

QString ProgramFilePath(QString* why) {
    // The bytes themselves: Qt's own answer is empty for a path it cannot spell.
    QByteArray bytes(PATH_MAX, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", bytes.data(), size_t(bytes.size()));
    if (n <= 0 || n >= bytes.size()) {
        if (why) *why = QStringLiteral("Vorlix cannot tell where its program file is.");
        return {};
    }
    bytes.truncate(n);
    const QString path = QFile::decodeName(bytes);
    if (QFile::encodeName(path) != bytes) {
        if (why)
            *why = QStringLiteral("The path of the Vorlix program, \"%1\", is not valid UTF-8 text. Move Vorlix to a "
                                  "folder whose name is.")
                       .arg(path);
        return {};
    }
    return path;
}

QString AppPath(QString* why) {
    const QString program = ProgramFilePath(why);
    if (program.isEmpty()) return {};
    QString path = QFileInfo(program).path();
    if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
    return path;
}

SettingsStore::SettingsStore(const QString& directory) {
    path_ = directory;
    if (!path_.endsWith(QLatin1Char('/'))) path_ += QLatin1Char('/');
    path_ += SettingsFileName;
}

QString SettingsStore::FormatError(const StoreError& error, const QString& procedure) {
    return QStringLiteral("Error # : %1\r\n%2\r\n%3").arg(error.number).arg(error.description, procedure);
}

void SettingsStore::Report(const StoreError& error) {
    const QString message = FormatError(error, QStringLiteral("LoadSettings"));
    if (!pendingReports_.contains(message)) pendingReports_ << message;
}

// Messages wait until the file is closed: a message box lets other events run, a save among them.
void SettingsStore::DeliverReports() {
    const QStringList messages = std::exchange(pendingReports_, {});
    if (report) {
        for (const QString& message : messages)
            report(message);
    }
}

QString SettingsStore::KeepAside(const QString& why, bool withJournal) {
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = QStringLiteral("%1.%2-%3").arg(path_, why, stamp);
    const auto taken = [](const QString& name) {
        for (const QString& file : {name, name + QStringLiteral("-wal")})
            if (QFileInfo(file).exists() || QFileInfo(file).isSymLink()) return true;
        return false;
    };
    for (int n = 2; taken(aside); ++n)
        aside = QStringLiteral("%1.%2-%3-%4").arg(path_, why, stamp).arg(n);
    RemovePartialCopies(QFileInfo(path_).path());
    // Committed changes still in the write-ahead log belong to the copy; it goes first, so that the copy
    // never shows without it.
    if (QFileInfo::exists(path_ + QStringLiteral("-wal")))
        CopyFile(path_ + QStringLiteral("-wal"), aside + QStringLiteral("-wal"));
    if (!CopyFile(path_, aside)) {
        QFile::remove(aside + QStringLiteral("-wal"));
        return QString();
    }
    // A journal left beside a damaged file belongs to it, not to whatever replaces it.
    const QString journal = path_ + QStringLiteral("-journal");
    if (withJournal && QFileInfo::exists(journal)) QFile::rename(journal, aside + QStringLiteral("-journal"));
    return aside;
}

void SettingsStore::OpenSettingsDatabase(AgentSettings& settings) {
    auto create = [&] {
        const QString directory = QFileInfo(path_).absolutePath();
        try {
            Database db(path_, Database::Mode::Create, busyTimeoutMs);
            settings.StartupText = CreatedStartupText;
            databaseCreated_ = true;
            RunSchemaPass(db);
        } catch (const StoreError& error) {
            if (!QFileInfo(directory).isWritable())
                throw StoreError(error.number, QStringLiteral("The folder \"%1\" cannot be written, so the settings "
                                                              "file cannot be created there; changes will not be kept.")
                                                   .arg(directory));
            throw;
        }
    };

    if (!QFileInfo::exists(path_)) {
        create();
        return;
    }
    try {
        Database db(path_, Database::Mode::OpenExisting, busyTimeoutMs);
        Statement check = db.prepare(QStringLiteral("PRAGMA quick_check"));
        if (!check.step() || check.value(0).toString() != QLatin1String("ok"))
            throw StoreError(Err::NotADatabase, QStringLiteral("The file is damaged."));
        RunSchemaPass(db);
    } catch (const StoreError& error) {
        if (error.number != Err::NotADatabase) throw;
        const QString aside = KeepAside(QStringLiteral("damaged"), true);
        if (aside.isEmpty() || !QFile::remove(path_)) {
            keepBeforeSave_ = true;
            throw StoreError(Err::NotADatabase, QStringLiteral("The settings file \"%1\" cannot be read as a settings "
                                                               "database, and it could not be kept aside.")
                                                    .arg(path_));
        }
        Report(StoreError(Err::NotADatabase, QStringLiteral("The settings file \"%1\" cannot be read as a settings "
                                                            "database. It was kept as \"%2\"; Vorlix starts with "
                                                            "its default settings.")
                                                 .arg(path_, aside)));
        create();
    }
}

void SettingsStore::ReadFile(Database& db, AgentSettings& settings, CommandList& commands, const Step& step) {
    settingsUnread_ = false;
    settingsRow_.reset();
    doubtfulSettings_ = 0;
    storedCommands_.clear();

    std::optional<Statement> query;
    bool haveRow = false;
    const bool readable = step([&] {
        query.emplace(db.prepare(QStringLiteral("SELECT %1, * FROM %2 ORDER BY %1 LIMIT 1")
                                     .arg(RowIdName(db, kSettingsTable), QuoteName(kSettingsTable))));
        haveRow = query->step();
    });
    if (readable && haveRow) {
        settingsRow_ = query->value(0).toLongLong();
        const Row row(*query, 1);
        for (int f = 0; f < kSettingCount; ++f)
            step(
                [&] { ReadMarked(row, SettingName(f), f, doubtfulSettings_, [&] { ReadSetting(row, f, settings); }); });
    } else if (readable) {
        settings.StartupText = NoRowStartupText;
    } else {
        keepBeforeSave_ = settingsUnread_ = true;
    }
    storedSettings_ = settings;
    query.reset();

    bool more = step([&] {
        query.emplace(db.prepare(QStringLiteral("SELECT %1, * FROM %2 ORDER BY %1")
                                     .arg(RowIdName(db, kCommandsTable), QuoteName(kCommandsTable))));
    });
    while (more) {
        bool haveCommand = false;
        if (!step([&] { haveCommand = query->step(); })) {
            keepBeforeSave_ = true;
            break;
        }
        if (!haveCommand) break;
        const Row row(*query, 1);
        KeyCommand command;
        command.RowId = query->value(0).toLongLong();
        StoredCommand stored;
        for (int f = 0; f < kCommandFieldCount; ++f) {
            const QString name = CommandFieldName(f);
            step(
                [&] { ReadMarked(row, name, f, stored.doubtful, [&] { FieldOf(command, f) = ReadText(row[name]); }); });
        }
        stored.values = command;
        storedCommands_.insert(command.RowId, stored);
        commands.append(command);
    }
    if (!more) keepBeforeSave_ = true;
}

void SettingsStore::LoadSettings(AgentSettings& settings, CommandList& commands) {
    known_ = true;
    // Each step runs on its own: a Null is passed over silently, any other failure is reported once.
    const Step step = [&](const std::function<void()>& work) {
        try {
            work();
            return true;
        } catch (const StoreError& error) {
            if (error.number != Err::InvalidUseOfNull) Report(error);
            return false;
        }
    };

    untrusted_ = UntrustedSettingsReason(path_);
    if (!untrusted_.isEmpty()) {
        settings.StartupText = CreatedStartupText;
        storedSettings_ = settings;
        // Nothing was read: what start-up puts in place of the settings is no edit, and no save is due.
        settingsUnread_ = true;
        Report(StoreError(Err::ReadOnly, untrusted_));
    } else {
        bool locked = false;
        step([&] {
            try {
                OpenSettingsDatabase(settings);
            } catch (const StoreError& error) {
                locked = error.number == Err::Locked;
                throw;
            }
        });
        storedSettings_ = settings;
        if (databaseCreated_) {
            writeSettingsRow_ = true;
            step([&] { SaveSettings(settings, commands); });
        }
        // Reading would only wait for the same lock again.
        std::optional<Database> db;
        if (locked || !step([&] { db.emplace(path_, Database::Mode::OpenExisting, busyTimeoutMs); })) {
            keepBeforeSave_ = keepBeforeSave_ || QFileInfo::exists(path_);
            settingsUnread_ = keepBeforeSave_;
        } else {
            // One read transaction: the settings and the commands come from the same state of the file.
            step([&] { db->execute(QStringLiteral("BEGIN")); });
            ReadFile(*db, settings, commands, step);
        }
    }
    DeliverReports();
}

void SettingsStore::AcceptDefaults(const AgentSettings& settings) {
    for (int f = 0; f < kSettingCount; ++f) {
        if (settingsUnread_ || (doubtfulSettings_ & (1u << f))) CopySetting(storedSettings_, settings, f);
    }
    // The option pages take the texts they show without the blanks around them; that is no edit, and
    // the file keeps the texts as they were written.
    for (QString AgentSettings::*text :
         {&AgentSettings::StartupText, &AgentSettings::ListenCommand, &AgentSettings::Response}) {
        if (settings.*text != storedSettings_.*text && settings.*text == TrimBlanks(storedSettings_.*text))
            storedSettings_.*text = settings.*text;
    }
}

void SettingsStore::SaveSettings(const AgentSettings& settings, CommandList& list) {
    // Read through a const view: a writable access counts as a change of the list for what is
    // derived from it (the agent's parsed key watches). Only new row numbers are written back.
    const CommandList& commands = list;
    // What changed since the file was read or last written.
    unsigned settingBits = 0;
    std::vector<unsigned> fieldBits;
    std::vector<bool> isNew;
    QList<qint64> deleted;
    bool touchesDoubtful = false;
    auto plan = [&] {
        settingBits = 0;
        for (int f = 0; f < kSettingCount; ++f) {
            if (SettingOf(settings, f) != SettingOf(storedSettings_, f)) settingBits |= 1u << f;
        }
        touchesDoubtful = keepBeforeSave_ || (settingBits & doubtfulSettings_) != 0;
        fieldBits.assign(size_t(commands.count()) + 1, 0);
        isNew.assign(size_t(commands.count()) + 1, false);
        QSet<qint64> claimed;
        bool changed = settingBits != 0 || writeSettingsRow_;
        for (int slot = 1; slot <= commands.count(); ++slot) {
            const KeyCommand& command = commands[slot];
            const auto stored = storedCommands_.constFind(command.RowId);
            // A copied command shares its original's row; the first in the list keeps it.
            if (command.RowId == 0 || stored == storedCommands_.cend() || claimed.contains(command.RowId)) {
                isNew[size_t(slot)] = changed = true;
                continue;
            }
            claimed.insert(command.RowId);
            for (int f = 0; f < kCommandFieldCount; ++f) {
                if (FieldOf(command, f) != FieldOf(stored->values, f)) fieldBits[size_t(slot)] |= 1u << f;
            }
            changed = changed || fieldBits[size_t(slot)] != 0;
            touchesDoubtful = touchesDoubtful || (fieldBits[size_t(slot)] & stored->doubtful) != 0;
        }
        deleted.clear();
        for (auto it = storedCommands_.cbegin(); it != storedCommands_.cend(); ++it) {
            if (!claimed.contains(it.key())) {
                deleted << it.key();
                touchesDoubtful = touchesDoubtful || it->doubtful != 0;
            }
        }
        std::sort(deleted.begin(), deleted.end());
        return changed || !deleted.isEmpty();
    };
    if (known_ && !plan()) return;
    if (!untrusted_.isEmpty()) throw StoreError(Err::ReadOnly, untrusted_);

    const bool known = known_;
    QString kept;
    std::optional<qint64> settingsRow = settingsRow_;
    std::vector<qint64> newRows(size_t(commands.count()) + 1, 0);
    {
        Database db(path_, Database::Mode::Create, busyTimeoutMs);
        db.execute(QStringLiteral("BEGIN IMMEDIATE"));
        try {
            if (!known_) {
                // Without a read to go by, the file is to hold exactly what is given.
                RunSchemaPass(db);
                AgentSettings unusedSettings;
                CommandList unusedCommands;
                ReadFile(db, unusedSettings, unusedCommands, [](const std::function<void()>& work) {
                    try {
                        work();
                        return true;
                    } catch (const StoreError& error) {
                        if (error.number == Err::InvalidUseOfNull || error.number == Err::TypeMismatch ||
                            error.number == kOverflow || error.number == kItemNotFound)
                            return false;
                        throw;
                    }
                });
                settingsRow = settingsRow_;
                known_ = true;
                if (!plan()) {
                    db.execute(QStringLiteral("ROLLBACK"));
                    return;
                }
            }
            // Taken inside the write lock, before anything changes: the copy is the file as it was.
            if (touchesDoubtful && QFileInfo::exists(path_)) {
                kept = KeepAside(QStringLiteral("unread"), false);
                if (kept.isEmpty())
                    throw StoreError(Err::ReadOnly, QStringLiteral("The settings file \"%1\" holds settings that "
                                                                   "Vorlix could not read, and it could not be kept "
                                                                   "aside, so it was not overwritten.")
                                                        .arg(path_));
            }
            RunSchemaPass(db);

            if (settingBits != 0 || writeSettingsRow_) {
                const QString rowId = RowIdName(db, kSettingsTable);
                if (!settingsRow) {
                    Statement first = db.prepare(
                        QStringLiteral("SELECT %1 FROM %2 ORDER BY %1 LIMIT 1").arg(rowId, QuoteName(kSettingsTable)));
                    if (first.step()) settingsRow = first.value(0).toLongLong();
                }
                bool written = settingsRow && settingBits == 0;
                if (settingsRow && settingBits != 0) {
                    Statement update =
                        db.prepare(UpdateSql(kSettingsTable, settingBits, kSettingCount, SettingName, rowId));
                    int index = 0;
                    for (int f = 0; f < kSettingCount; ++f) {
                        if (settingBits & (1u << f)) update.bind(++index, SettingOf(settings, f));
                    }
                    update.bind(++index, *settingsRow);
                    update.step();
                    written = db.changes() > 0;
                }
                if (!written) {
                    Statement insert = db.prepare(InsertSql(kSettingsTable, kSettingCount, SettingName));
                    for (int f = 0; f < kSettingCount; ++f)
                        insert.bind(f + 1, SettingOf(settings, f));
                    insert.step();
                    settingsRow = db.lastInsertRowId();
                }
            }

            const QString rowId = RowIdName(db, kCommandsTable);
            // A store that has just read the whole table and keeps none of it empties it in one statement.
            if (!known && !deleted.isEmpty() && deleted.size() == storedCommands_.size()) {
                db.execute(QStringLiteral("DELETE FROM %1").arg(QuoteName(kCommandsTable)));
            } else if (!deleted.isEmpty()) {
                Statement remove =
                    db.prepare(QStringLiteral("DELETE FROM %1 WHERE %2 = ?1").arg(QuoteName(kCommandsTable), rowId));
                for (qint64 row : deleted) {
                    remove.bind(1, row);
                    remove.step();
                    remove.reset();
                }
            }
            std::optional<Statement> insert;
            std::map<unsigned, Statement> updates;
            auto insertCommand = [&](int slot) {
                if (!insert)
                    insert.emplace(db.prepare(InsertSql(kCommandsTable, kCommandFieldCount, CommandFieldName)));
                for (int f = 0; f < kCommandFieldCount; ++f)
                    insert->bind(f + 1, FieldOf(commands[slot], f));
                insert->step();
                insert->reset();
                newRows[size_t(slot)] = db.lastInsertRowId();
            };
            for (int slot = 1; slot <= commands.count(); ++slot) {
                const unsigned bits = fieldBits[size_t(slot)];
                if (isNew[size_t(slot)]) {
                    insertCommand(slot);
                    continue;
                }
                if (bits == 0) continue;
                auto update = updates.find(bits);
                if (update == updates.end()) {
                    update = updates
                                 .emplace(bits, db.prepare(UpdateSql(kCommandsTable, bits, kCommandFieldCount,
                                                                     CommandFieldName, rowId)))
                                 .first;
                }
                int index = 0;
                for (int f = 0; f < kCommandFieldCount; ++f) {
                    if (bits & (1u << f)) update->second.bind(++index, FieldOf(commands[slot], f));
                }
                update->second.bind(++index, commands[slot].RowId);
                update->second.step();
                update->second.reset();
                // Another program removed the row meanwhile: the edited command is written anew.
                if (db.changes() == 0) insertCommand(slot);
            }
            insert.reset();
            updates.clear();
            db.execute(QStringLiteral("COMMIT"));
        } catch (const StoreError&) {
            try {
                db.execute(QStringLiteral("ROLLBACK"));
            } catch (const StoreError&) {
                // The failed transaction was already rolled back by the engine.
            }
            throw;
        }
    }

    // The file now holds what memory holds; values just written are faithful ones.
    storedSettings_ = settings;
    doubtfulSettings_ &= ~settingBits;
    settingsRow_ = settingsRow;
    writeSettingsRow_ = false;
    keepBeforeSave_ = false;
    for (qint64 row : deleted)
        storedCommands_.remove(row);
    for (int slot = 1; slot <= commands.count(); ++slot) {
        const KeyCommand& command = commands[slot];
        if (newRows[size_t(slot)] != 0) {
            if (!isNew[size_t(slot)]) storedCommands_.remove(command.RowId);
            list[slot].RowId = newRows[size_t(slot)];
            storedCommands_.insert(command.RowId, StoredCommand{command, 0});
        } else if (fieldBits[size_t(slot)] != 0) {
            StoredCommand& stored = storedCommands_[command.RowId];
            stored.values = command;
            stored.doubtful &= ~fieldBits[size_t(slot)];
        }
    }
    if (!kept.isEmpty() && notice)
        notice(QStringLiteral("Vorlix could not read everything in its settings file \"%1\" exactly, and has now "
                              "saved over it. The file as it was before is kept as \"%2\".")
                   .arg(path_, kept));
}
