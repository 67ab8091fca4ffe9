#pragma once

#include <QString>
#include <QVariant>

#include <memory>
#include <stdexcept>

struct sqlite3;
struct sqlite3_stmt;

// A failure of the settings store, numbered so that reports stay recognisable.
class StoreError : public std::runtime_error {
public:
    StoreError(int number, const QString& description)
        : std::runtime_error(description.toStdString()), number(number), description(description) {}
    int number;
    QString description;
};

namespace StoreErrorNumber {
constexpr int InvalidUseOfNull = 94;
constexpr int TypeMismatch = 13;
constexpr int CannotOpen = 3044;
constexpr int Locked = 3045;
constexpr int ReadOnly = 3051;
constexpr int DiskFull = 3035;
constexpr int NotADatabase = 3343;
constexpr int Failed = 3000;
} // namespace StoreErrorNumber

class Statement;

// One open connection to the settings file. Opened and closed inside each load or save.
class Database {
public:
    enum class Mode { OpenExisting, Create };
    // Never follows a symbolic link; a new file is readable by its owner only. A file locked by
    // another program is waited for up to `busyTimeoutMs`.
    Database(const QString& path, Mode mode, int busyTimeoutMs = 5000);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void execute(const QString& sql);
    Statement prepare(const QString& sql);
    // Throws with the connection's error, numbered by what went wrong.
    [[noreturn]] void fail(int code, const QString& doing) const;

    qint64 changes() const;
    qint64 lastInsertRowId() const;

    QStringList tableNames();
    QStringList fieldNames(const QString& table);

private:
    sqlite3* db_ = nullptr;
    QString path_;
};

class Statement {
public:
    Statement(Database& db, sqlite3_stmt* stmt) : db_(&db), stmt_(stmt) {}
    Statement(Statement&& other) noexcept : db_(other.db_), stmt_(std::exchange(other.stmt_, nullptr)) {}
    ~Statement();

    void bind(int index, const QString& text);
    void bind(int index, qint64 value);
    // A string as text, a whole number as an integer.
    void bind(int index, const QVariant& value);
    // True while a row is available.
    bool step();
    void reset();

    int columnCount() const;
    QString columnName(int column) const;
    // The stored value: null, a 64-bit integer, a double, a string or a blob.
    QVariant value(int column) const;
    // False when the stored value would not come back the same if written again as a string:
    // a blob, a real number, or text that is not valid UTF-8.
    bool isPlainText(int column) const;

private:
    Database* db_;
    sqlite3_stmt* stmt_;
};

// Quotes a name for use in SQL.
QString QuoteName(const QString& name);
// Compares names the way SQLite resolves them: ASCII letters without case, everything else exactly.
bool SameName(const QString& a, const QString& b);
