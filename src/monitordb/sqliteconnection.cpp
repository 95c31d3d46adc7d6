#include "sqliteconnection.h"

#include "daoexception.h"

#include <sqlite3.h>

bool CDaoException::IsBusy() const {
    const int primary = m_engineCode & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

CSqliteConnection::~CSqliteConnection() {
    Close();
}

void CSqliteConnection::Open(const QString& path, OpenMode mode, int busyTimeoutMs) {
    Close();
    int flags = SQLITE_OPEN_NOMUTEX;
    switch (mode) {
    case OpenMode::ExistingFile:
        flags |= SQLITE_OPEN_READWRITE;
        break;
    case OpenMode::CreateFile:
        flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
        break;
    case OpenMode::ReadOnly:
        flags |= SQLITE_OPEN_READONLY;
        break;
    }
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const QString text =
            m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(rc));
        Close();
        throw CDaoException(text, rc);
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, busyTimeoutMs);
}

CStatementLease CSqliteConnection::Cached(const QString& sql) const {
    std::unique_ptr<CSqliteStatement>& statement = m_cache[sql];
    if (!statement)
        statement = std::make_unique<CSqliteStatement>(m_db, sql);
    return CStatementLease(*statement);
}

void CSqliteConnection::Close() {
    m_cache.clear();
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

bool CSqliteConnection::InTransaction() const {
    return m_db && !sqlite3_get_autocommit(m_db);
}
