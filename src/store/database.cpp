#include "store/database.h"

#include <QFile>
#include <QStringList>
#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

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

bool SameName(const QString& a, const QString& b) {
    if (a.size() != b.size()) return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const char16_t x = a[i].unicode(), y = b[i].unicode();
        auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
        if (lower(x) != lower(y)) return false;
    }
    return true;
}

Database::Database(const QString& path, Mode mode, int busyTimeoutMs) : path_(path) {
    if (mode == Mode::Create) {
        // Made here rather than by the engine: owner-only, and never through a planted link.
        const int fd =
            ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
        else if (errno != EEXIST)
            throw StoreError(errno == EACCES || errno == EROFS ? StoreErrorNumber::ReadOnly
                                                               : StoreErrorNumber::CannotOpen,
                             QStringLiteral("Cannot create the settings file \"%1\": %2.")
                                 .arg(path, QString::fromLocal8Bit(strerror(errno))));
    }
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW;
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        const QString message = db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QStringLiteral("out of memory");
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError(ErrorNumberOf(rc),
                         QStringLiteral("Cannot open the settings file \"%1\": %2.").arg(path, message));
    }
    sqlite3_extended_result_codes(db_, 0);
    // A file that another program holds for a moment is waited for rather than taken as unreadable.
    sqlite3_busy_timeout(db_, busyTimeoutMs);
}

qint64 Database::changes() const {
    return sqlite3_changes64(db_);
}

qint64 Database::lastInsertRowId() const {
    return sqlite3_last_insert_rowid(db_);
}

Database::~Database() {
    sqlite3_close(db_);
}

void Database::fail(int code, const QString& doing) const {
    throw StoreError(
        ErrorNumberOf(code),
        QStringLiteral("%1 failed in \"%2\": %3.").arg(doing, path_, QString::fromUtf8(sqlite3_errmsg(db_))));
}

void Database::execute(const QString& sql) {
    char* error = nullptr;
    const int rc = sqlite3_exec(db_, sql.toUtf8().constData(), nullptr, nullptr, &error);
    sqlite3_free(error);
    if (rc != SQLITE_OK) fail(rc, sql.section(QLatin1Char(' '), 0, 1));
}

Statement Database::prepare(const QString& sql) {
    sqlite3_stmt* stmt = nullptr;
    const QByteArray text = sql.toUtf8();
    const int rc = sqlite3_prepare_v2(db_, text.constData(), int(text.size()), &stmt, nullptr);
    if (rc != SQLITE_OK) fail(rc, sql.section(QLatin1Char(' '), 0, 1));
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

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

void Statement::bind(int index, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    const int rc = sqlite3_bind_text(stmt_, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) db_->fail(rc, QStringLiteral("Writing a value"));
}

void Statement::bind(int index, qint64 value) {
    const int rc = sqlite3_bind_int64(stmt_, index, value);
    if (rc != SQLITE_OK) db_->fail(rc, QStringLiteral("Writing a value"));
}

void Statement::bind(int index, const QVariant& value) {
    if (value.typeId() == QMetaType::LongLong)
        bind(index, value.toLongLong());
    else
        bind(index, value.toString());
}

bool Statement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    db_->fail(rc, QStringLiteral("Reading or writing a row"));
}

void Statement::reset() {
    sqlite3_reset(stmt_);
}

int Statement::columnCount() const {
    return sqlite3_column_count(stmt_);
}

QString Statement::columnName(int column) const {
    return QString::fromUtf8(sqlite3_column_name(stmt_, column));
}

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

bool Statement::isPlainText(int column) const {
    switch (sqlite3_column_type(stmt_, column)) {
    case SQLITE_BLOB:
    case SQLITE_FLOAT:
        return false;
    case SQLITE_TEXT: {
        const QByteArray bytes(reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column)),
                               sqlite3_column_bytes(stmt_, column));
        return QString::fromUtf8(bytes).toUtf8() == bytes;
    }
    default:
        return true;
    }
}
