#include "monitordb/sqlitestatement.h"

#include "monitordb/databaseerror.h"

#include <sqlite3.h>

CSqliteStatement::CSqliteStatement(sqlite3* db, const QString& sql, QString path)
    : m_db(db), m_path(std::move(path)) {
    if (!m_db)
        throw CDatabaseError(QStringLiteral("Databasen är inte öppen."), SQLITE_MISUSE, m_path);
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(m_db, text.constData(), int(text.size()), &m_stmt, nullptr) != SQLITE_OK)
        Fail();
}

CSqliteStatement::~CSqliteStatement() {
    sqlite3_finalize(m_stmt);
}

CSqliteStatement::CSqliteStatement(CSqliteStatement&& other) noexcept
    : m_db(other.m_db), m_stmt(other.m_stmt), m_path(std::move(other.m_path)) {
    other.m_stmt = nullptr;
}

CSqliteStatement& CSqliteStatement::Bind(int index, int value) {
    if (sqlite3_bind_int(m_stmt, index, value) != SQLITE_OK)
        Fail();
    return *this;
}

CSqliteStatement& CSqliteStatement::Bind(int index, qint64 value) {
    if (sqlite3_bind_int64(m_stmt, index, value) != SQLITE_OK)
        Fail();
    return *this;
}

CSqliteStatement& CSqliteStatement::Bind(int index, const QString& value) {
    const QByteArray text = value.toUtf8();
    if (sqlite3_bind_text(m_stmt, index, text.constData(), int(text.size()), SQLITE_TRANSIENT) !=
        SQLITE_OK)
        Fail();
    return *this;
}

bool CSqliteStatement::Step() {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    Fail();
}

void CSqliteStatement::Run() {
    while (Step()) {
    }
}

void CSqliteStatement::Reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

int CSqliteStatement::ColumnInt(int column) const {
    return sqlite3_column_int(m_stmt, column);
}

bool CSqliteStatement::IsNull(int column) const {
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

qint64 CSqliteStatement::ColumnInt64(int column) const {
    return sqlite3_column_int64(m_stmt, column);
}

QString CSqliteStatement::ColumnText(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return QString::fromUtf8(text, sqlite3_column_bytes(m_stmt, column));
}

void CSqliteStatement::Fail() const {
    const int code = sqlite3_extended_errcode(m_db);
    const QString text = QString::fromUtf8(sqlite3_errmsg(m_db));
    // Leave the statement reusable after a failed step.
    sqlite3_reset(m_stmt);
    throw CDatabaseError(text, code, m_path);
}
