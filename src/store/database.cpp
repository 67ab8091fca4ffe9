#include "store/database.h"

#include <QStringList>
#include <sqlite3.h>

namespace {

int ErrorNumberOf(int code) {
    switch (code & 0xFF) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        return StoreErrorNumber::NotADatabase;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return StoreErrorNumber::Locked;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return StoreErrorNumber::ReadOnly;
    case SQLITE_CANTOPEN:
        return StoreErrorNumber::CannotOpen;
    case SQLITE_FULL:
    case SQLITE_IOERR:
        return StoreErrorNumber::DiskFull;
    default:
        return StoreErrorNumber::Failed;
    }
}

} // namespace

QString QuoteName(const QString& name) {
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

Database::Database(const QString& path, Mode mode) : path_(path) {
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
    if (mode == Mode::Create)
        flags |= SQLITE_OPEN_CREATE;
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        const QString message = db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QStringLiteral("out of memory");
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError(ErrorNumberOf(rc), QStringLiteral("Cannot open the settings file \"%1\": %2.").arg(path, message));
    }
    sqlite3_extended_result_codes(db_, 0);
    // Another instance saving at the same moment waits briefly instead of failing at once.
    sqlite3_busy_timeout(db_, 500);
}

Database::~Database() { sqlite3_close(db_); }

void Database::fail(int code, const QString& doing) const {
    throw StoreError(ErrorNumberOf(code),
                     QStringLiteral("%1 failed in \"%2\": %3.").arg(doing, path_, QString::fromUtf8(sqlite3_errmsg(db_))));
}

void Database::execute(const QString& sql) {
    char* error = nullptr;
    const int rc = sqlite3_exec(db_, sql.toUtf8().constData(), nullptr, nullptr, &error);
    sqlite3_free(error);
    if (rc != SQLITE_OK)
        fail(rc, sql.section(QLatin1Char(' '), 0, 1));
}

Statement Database::prepare(const QString& sql) {
    sqlite3_stmt* stmt = nullptr;
    const QByteArray text = sql.toUtf8();
    const int rc = sqlite3_prepare_v2(db_, text.constData(), int(text.size()), &stmt, nullptr);
    if (rc != SQLITE_OK)
        fail(rc, sql.section(QLatin1Char(' '), 0, 1));
    return Statement(*this, stmt);
}

QStringList Database::tableNames() {
    QStringList names;
    Statement query = prepare(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY rowid"));
    while (query.step())
        names << query.value(0).toString();
    return names;
}

QStringList Database::fieldNames(const QString& table) {
    QStringList names;
    Statement query = prepare(QStringLiteral("SELECT name FROM pragma_table_info(?1)"));
    query.bind(1, table);
    while (query.step())
        names << query.value(0).toString();
    return names;
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

void Statement::bind(int index, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    const int rc = sqlite3_bind_text(stmt_, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK)
        db_->fail(rc, QStringLiteral("Writing a value"));
}

void Statement::bind(int index, qint64 value) {
    const int rc = sqlite3_bind_int64(stmt_, index, value);
    if (rc != SQLITE_OK)
        db_->fail(rc, QStringLiteral("Writing a value"));
}

bool Statement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    db_->fail(rc, QStringLiteral("Reading or writing a row"));
}

void Statement::reset() { sqlite3_reset(stmt_); }

int Statement::columnCount() const { return sqlite3_column_count(stmt_); }

QString Statement::columnName(int column) const { return QString::fromUtf8(sqlite3_column_name(stmt_, column)); }

QVariant Statement::value(int column) const {
    switch (sqlite3_column_type(stmt_, column)) {
    case SQLITE_NULL:
        return QVariant();
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(stmt_, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(stmt_, column));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt_, column)),
                                   sqlite3_column_bytes(stmt_, column)));
    default:
        return QVariant(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column)),
                                          sqlite3_column_bytes(stmt_, column)));
    }
}
