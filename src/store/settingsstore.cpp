#include "store/settingsstore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringList>

#include <cmath>
#include <limits>
#include <optional>

namespace {

namespace Err = StoreErrorNumber;
constexpr int kOverflow = 6;
constexpr int kItemNotFound = 3265;

struct FieldSpec {
    const char* name;
    int type;
    int size;
    bool allowZeroLength;
};

constexpr FieldSpec kSettingsFields[] = {
    {"StartupText", FieldType::Text, 255, true},   {"DeviceName", FieldType::Text, 255, true},
    {"ListenCommand", FieldType::Text, 255, true}, {"ListenTime", FieldType::Long, 0, false},
    {"Response", FieldType::Text, 255, true},      {"ResponseListen", FieldType::Boolean, 0, false},
    {"ResponseCommand", FieldType::Boolean, 0, false},
};

constexpr FieldSpec kCommandFields[] = {
    {"Name", FieldType::Text, 255, true}, {"Watch", FieldType::Text, 255, true},
    {"Value", FieldType::Text, 255, true}, {"Type", FieldType::Text, 255, true},
    {"ActionType", FieldType::Text, 255, true},
};

const QString kSettingsTable = QStringLiteral("Settings");
const QString kCommandsTable = QStringLiteral("KeyCommands");

void RunSchemaPass(Database& db) {
    EnsureTable(db, kSettingsTable);
    for (const FieldSpec& f : kSettingsFields)
        EnsureField(db, kSettingsTable, QString::fromLatin1(f.name), f.type, f.size, f.allowZeroLength);
    EnsureTable(db, kCommandsTable);
    for (const FieldSpec& f : kCommandFields)
        EnsureField(db, kCommandsTable, QString::fromLatin1(f.name), f.type, f.size, f.allowZeroLength);
}

[[noreturn]] void TypeMismatch(const QString& field) {
    throw StoreError(Err::TypeMismatch, QStringLiteral("Type mismatch (field %1)").arg(field));
}

void RequireValue(const QVariant& value) {
    if (value.isNull())
        throw StoreError(Err::InvalidUseOfNull, QStringLiteral("Invalid use of Null"));
}

QString ReadText(const QVariant& value, const QString& field) {
    RequireValue(value);
    if (value.typeId() == QMetaType::QByteArray)
        return QString::fromUtf8(value.toByteArray());
    if (value.typeId() == QMetaType::Double)
        return QString::number(value.toDouble(), 'g', 15);
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
        if (!ok)
            TypeMismatch(field);
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
    if (value.typeId() == QMetaType::LongLong)
        return value.toLongLong() != 0;
    if (value.typeId() == QMetaType::Double)
        return value.toDouble() != 0;
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed();
        if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return false;
        bool ok = false;
        const double number = text.toDouble(&ok);
        if (ok)
            return number != 0;
    }
    TypeMismatch(field);
}

// One row of a query, with its fields found by exact name.
class Row {
public:
    explicit Row(Statement& query) : query_(query) {
        for (int c = 0; c < query.columnCount(); ++c)
            columns_.append(query.columnName(c));
    }
    QVariant operator[](const QString& field) const {
        const qsizetype column = columns_.indexOf(field);
        if (column < 0)
            throw StoreError(kItemNotFound, QStringLiteral("Item not found in this collection (field %1)").arg(field));
        return query_.value(int(column));
    }

private:
    Statement& query_;
    QStringList columns_;
};

} // namespace

QString AppPath() {
    QString path = QCoreApplication::applicationDirPath();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

void EnsureTable(Database& db, const QString& tableName) {
    if (db.tableNames().contains(tableName, Qt::CaseSensitive))
        return;
    db.execute(QStringLiteral("CREATE TABLE %1 (\"Index\" INTEGER PRIMARY KEY AUTOINCREMENT)").arg(QuoteName(tableName)));
}

void EnsureField(Database& db, const QString& tableName, const QString& fieldName, int fieldType, int fieldSize,
                 bool allowZeroLength) {
    if (db.fieldNames(tableName).contains(fieldName, Qt::CaseSensitive))
        return;
    // Text sizes are not enforced: a longer text is kept whole rather than cut.
    QString declared;
    switch (fieldType) {
    case FieldType::Text:
    case FieldType::Memo:
        declared = QStringLiteral("TEXT");
        break;
    case FieldType::Long:
        declared = QStringLiteral("INTEGER");
        break;
    case FieldType::Boolean:
        declared = QStringLiteral("BOOLEAN");
        break;
    default:
        declared = QStringLiteral("BLOB");
        break;
    }
    db.execute(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3").arg(QuoteName(tableName), QuoteName(fieldName), declared));
}

SettingsStore::SettingsStore(const QString& directory) {
    path_ = directory;
    if (!path_.endsWith(QLatin1Char('/')))
        path_ += QLatin1Char('/');
    path_ += SettingsFileName;
}

QString SettingsStore::FormatError(const StoreError& error, const QString& procedure) {
    return QStringLiteral("Error # : %1\r\n%2\r\n%3").arg(error.number).arg(error.description, procedure);
}

void SettingsStore::Report(const StoreError& error) {
    if (report)
        report(FormatError(error, QStringLiteral("LoadSettings")));
}

QString SettingsStore::KeepAside(const QString& why) {
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = QStringLiteral("%1.%2-%3").arg(path_, why, stamp);
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = QStringLiteral("%1.%2-%3-%4").arg(path_, why, stamp).arg(n);
    if (!QFile::copy(path_, aside))
        return QString();
    // A journal left beside the file belongs to it, not to whatever replaces it.
    const QString journal = path_ + QStringLiteral("-journal");
    if (QFileInfo::exists(journal))
        QFile::rename(journal, aside + QStringLiteral("-journal"));
    return aside;
}

void SettingsStore::OpenSettingsDatabase(AgentSettings& settings) {
    auto create = [&] {
        const QString directory = QFileInfo(path_).absolutePath();
        try {
            Database db(path_, Database::Mode::Create);
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
        Database db(path_, Database::Mode::OpenExisting);
        Statement check = db.prepare(QStringLiteral("PRAGMA quick_check"));
        if (!check.step() || check.value(0).toString() != QLatin1String("ok"))
            throw StoreError(Err::NotADatabase, QStringLiteral("The file is damaged."));
        RunSchemaPass(db);
    } catch (const StoreError& error) {
        if (error.number != Err::NotADatabase) {
            keepBeforeSave_ = true;
            throw;
        }
        const QString aside = KeepAside(QStringLiteral("damaged"));
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

void SettingsStore::LoadSettings(AgentSettings& settings, CommandList& commands) {
    QSet<QString> reported;
    bool failed = false;
    // Each step runs on its own: a Null is passed over silently, any other failure is reported once.
    auto step = [&](auto&& work) {
        try {
            work();
            return true;
        } catch (const StoreError& error) {
            if (error.number == Err::InvalidUseOfNull)
                return false;
            failed = true;
            const QString message = FormatError(error, QStringLiteral("LoadSettings"));
            if (!reported.contains(message) && report) {
                reported.insert(message);
                report(message);
            }
            return false;
        }
    };

    step([&] { OpenSettingsDatabase(settings); });
    if (databaseCreated_)
        step([&] { SaveSettings(settings, commands); });

    std::optional<Database> db;
    if (!step([&] { db.emplace(path_, Database::Mode::OpenExisting); })) {
        keepBeforeSave_ = keepBeforeSave_ || QFileInfo::exists(path_);
        return;
    }

    std::optional<Statement> query;
    bool haveRow = false;
    const bool readable = step([&] {
        query.emplace(db->prepare(QStringLiteral("SELECT * FROM %1 ORDER BY rowid LIMIT 1").arg(QuoteName(kSettingsTable))));
        haveRow = query->step();
    });
    if (readable && haveRow) {
        const Row row(*query);
        step([&] { settings.StartupText = ReadText(row[QStringLiteral("StartupText")], QStringLiteral("StartupText")); });
        step([&] { settings.DeviceName = ReadText(row[QStringLiteral("DeviceName")], QStringLiteral("DeviceName")); });
        step([&] { settings.ListenCommand = ReadText(row[QStringLiteral("ListenCommand")], QStringLiteral("ListenCommand")); });
        step([&] { settings.ListenTime = ReadLong(row[QStringLiteral("ListenTime")], QStringLiteral("ListenTime")); });
        step([&] { settings.Response = ReadText(row[QStringLiteral("Response")], QStringLiteral("Response")); });
        step([&] { settings.ResponseListen = ReadBool(row[QStringLiteral("ResponseListen")], QStringLiteral("ResponseListen")); });
        step([&] { settings.ResponseCommand = ReadBool(row[QStringLiteral("ResponseCommand")], QStringLiteral("ResponseCommand")); });
    } else if (readable) {
        settings.StartupText = NoRowStartupText;
    }
    query.reset();

    bool more = step([&] {
        query.emplace(db->prepare(QStringLiteral("SELECT * FROM %1 ORDER BY rowid").arg(QuoteName(kCommandsTable))));
    });
    while (more) {
        bool haveCommand = false;
        more = step([&] { haveCommand = query->step(); }) && haveCommand;
        if (!more)
            break;
        const Row row(*query);
        commands.append(KeyCommand{});
        KeyCommand& command = commands[commands.count()];
        step([&] { command.Name = ReadText(row[QStringLiteral("Name")], QStringLiteral("Name")); });
        step([&] { command.Watch = ReadText(row[QStringLiteral("Watch")], QStringLiteral("Watch")); });
        step([&] { command.Value = ReadText(row[QStringLiteral("Value")], QStringLiteral("Value")); });
        step([&] { command.Type = ReadText(row[QStringLiteral("Type")], QStringLiteral("Type")); });
        step([&] { command.ActionType = ReadText(row[QStringLiteral("ActionType")], QStringLiteral("ActionType")); });
    }
    if (failed && !readable)
        keepBeforeSave_ = true;
}

void SettingsStore::SaveSettings(const AgentSettings& settings, const CommandList& commands) {
    if (keepBeforeSave_ && QFileInfo::exists(path_)) {
        if (KeepAside(QStringLiteral("unread")).isEmpty())
            throw StoreError(Err::ReadOnly, QStringLiteral("The settings file \"%1\" could not be read at start-up "
                                                           "and could not be kept aside, so it was not overwritten.")
                                                .arg(path_));
        keepBeforeSave_ = false;
    }
    Database db(path_, Database::Mode::Create);
    db.execute(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        RunSchemaPass(db);
        db.execute(QStringLiteral("DELETE FROM %1").arg(QuoteName(kSettingsTable)));
        Statement row = db.prepare(QStringLiteral("INSERT INTO %1 (StartupText, DeviceName, ListenCommand, ListenTime, "
                                                  "Response, ResponseListen, ResponseCommand) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)")
                                       .arg(QuoteName(kSettingsTable)));
        row.bind(1, settings.StartupText);
        row.bind(2, settings.DeviceName);
        row.bind(3, settings.ListenCommand);
        row.bind(4, qint64(settings.ListenTime));
        row.bind(5, settings.Response);
        row.bind(6, qint64(settings.ResponseListen ? 1 : 0));
        row.bind(7, qint64(settings.ResponseCommand ? 1 : 0));
        row.step();

        db.execute(QStringLiteral("DELETE FROM %1").arg(QuoteName(kCommandsTable)));
        Statement insert = db.prepare(QStringLiteral("INSERT INTO %1 (Name, Watch, Value, Type, ActionType) "
                                                     "VALUES (?1, ?2, ?3, ?4, ?5)")
                                          .arg(QuoteName(kCommandsTable)));
        for (const KeyCommand& command : commands) {
            insert.bind(1, command.Name);
            insert.bind(2, command.Watch);
            insert.bind(3, command.Value);
            insert.bind(4, command.Type);
            insert.bind(5, command.ActionType);
            insert.step();
            insert.reset();
        }
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
