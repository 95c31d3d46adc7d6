#include "monitordb/sqliteconnection.h"

#include "base/heartbeat.h"
#include "monitordb/databaseerror.h"

#include <QThread>
#include <QUrl>
#include <sqlite3.h>

namespace {

// A path as a file URI: "%", "?" and "#" in a name must not be read as URI syntax.
QByteArray ImmutableUri(const QString& path) {
    return "file:" + QUrl::toPercentEncoding(path, "/") + "?immutable=1";
}

// Short sleeps first: most locks are held for a few milliseconds.
unsigned long PauseMs(int attempt) {
    return attempt < 10 ? 1 : attempt < 40 ? 10 : 50;
}

} // namespace

CSqliteConnection::~CSqliteConnection() {
    Close();
}

void CSqliteConnection::Open(const QString& path, OpenMode mode, CBusyWait wait) {
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
    case OpenMode::Immutable:
        flags |= SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;
        break;
    }
    const QByteArray name = mode == OpenMode::Immutable ? ImmutableUri(path) : path.toUtf8();
    const int rc = sqlite3_open_v2(name.constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const QString text =
            m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(rc));
        const int code = m_db ? sqlite3_extended_errcode(m_db) : rc;
        Close();
        throw CDatabaseError(text, code, path);
    }
    m_path = path;
    sqlite3_extended_result_codes(m_db, 1);
    m_wait = wait;
    sqlite3_busy_handler(m_db, &CSqliteConnection::OnBusy, this);
}

int CSqliteConnection::OnBusy(void* connection, int attempt) {
    auto* self = static_cast<CSqliteConnection*>(connection);
    if (attempt == 0)
        self->m_busySince.start();
    return self->KeepWaiting(self->m_busySince, attempt) ? 1 : 0;
}

bool CSqliteConnection::KeepWaiting(const QElapsedTimer& busySince, int attempt) const {
    if (m_wait.cancel && m_wait.cancel->load())
        return false;
    if (m_wait.timeoutMs != CBusyWait::kForever && busySince.elapsed() >= m_wait.timeoutMs)
        return false;
    if (m_wait.heartbeat)
        m_wait.heartbeat->WaitingForFile(m_path);
    QThread::msleep(PauseMs(attempt));
    return true;
}

// A clock of its own: the busy handler restarts the connection's at every wait inside a try.
void CSqliteConnection::ExecuteWhenFree(const QString& sql) const {
    QElapsedTimer busySince;
    busySince.start();
    for (int attempt = 0;; ++attempt) {
        try {
            Execute(sql);
            return;
        } catch (const CDatabaseError& e) {
            if ((e.EngineCode() & 0xFF) != SQLITE_BUSY || InTransaction() ||
                !KeepWaiting(busySince, attempt))
                throw;
        }
    }
}

CStatementLease CSqliteConnection::Cached(const QString& sql) const {
    std::unique_ptr<CSqliteStatement>& statement = m_cache[sql];
    if (!statement)
        statement = std::make_unique<CSqliteStatement>(m_db, sql, m_path);
    return CStatementLease(*statement);
}

void CSqliteConnection::Close() {
    m_cache.clear();
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

QByteArray CSqliteConnection::ReadFileHeader(int length) const {
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(m_db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK ||
        !file || !file->pMethods)
        return {};
    QByteArray header(length, '\0');
    const int rc = file->pMethods->xRead(file, header.data(), length, 0);
    if (rc == SQLITE_IOERR_SHORT_READ) {
        // The engine fills what lies beyond the end with zeros; a header is never all zeros.
        while (!header.isEmpty() && header.back() == '\0')
            header.chop(1);
        return header;
    }
    return rc == SQLITE_OK ? header : QByteArray();
}

int CSqliteConnection::Changes() const {
    return sqlite3_changes(m_db);
}

qint64 CSqliteConnection::LastInsertRowId() const {
    return sqlite3_last_insert_rowid(m_db);
}

bool CSqliteConnection::InTransaction() const {
    return m_db && !sqlite3_get_autocommit(m_db);
}
