#pragma once

#include "monitordb/sqlitestatement.h"

#include <QElapsedTimer>
#include <QString>
#include <atomic>
#include <map>
#include <memory>

struct sqlite3;
class CHeartbeat;

// How long a statement waits for a lock that another process holds, and what
// ends the wait early: a stop of the program must not wait for another
// process's transaction. The heartbeat, if any, hears that the thread waits.
struct CBusyWait {
    static constexpr int kForever = -1;
    // Implicit, so that a plain number of milliseconds reads as a wait.
    CBusyWait(int timeoutMs = 30000, const std::atomic<bool>* cancel = nullptr,
              CHeartbeat* heartbeat = nullptr)
        : timeoutMs(timeoutMs), cancel(cancel), heartbeat(heartbeat) {}
    int timeoutMs;
    const std::atomic<bool>* cancel;
    CHeartbeat* heartbeat;
};

// A statement kept prepared by its connection, lent for one use: the lease
// resets it when the caller is done, so it holds no read snapshot afterwards.
class CStatementLease {
public:
    explicit CStatementLease(CSqliteStatement& statement) : m_statement(statement) {}
    ~CStatementLease() { m_statement.Reset(); }
    CStatementLease(const CStatementLease&) = delete;
    CStatementLease& operator=(const CStatementLease&) = delete;
    CSqliteStatement* operator->() const { return &m_statement; }
    CSqliteStatement& operator*() const { return m_statement; }

private:
    CSqliteStatement& m_statement;
};

// One open database file; closed when it goes out of scope. Used by one thread
// at a time.
class CSqliteConnection {
public:
    CSqliteConnection() = default;
    ~CSqliteConnection();
    CSqliteConnection(const CSqliteConnection&) = delete;
    CSqliteConnection& operator=(const CSqliteConnection&) = delete;

    // Immutable: read only, without locks and without the WAL files, for a file that
    // nobody else has open for writing.
    enum class OpenMode { ExistingFile, CreateFile, ReadOnly, Immutable };
    // Opens the file and sets the busy wait before anything else runs.
    void Open(const QString& path, OpenMode mode, CBusyWait wait);
    void Close();
    bool IsOpen() const { return m_db != nullptr; }

    CSqliteStatement Prepare(const QString& sql) const {
        return CSqliteStatement(m_db, sql, m_path);
    }
    QString Path() const { return m_path; }
    // For statements run once per row: prepared on first use and kept until Close.
    CStatementLease Cached(const QString& sql) const;
    void Execute(const QString& sql) const { Prepare(sql).Run(); }
    // For a statement outside any transaction that the engine fails at once when
    // the file is busy instead of calling the busy wait (a switch of the journal
    // mode turns its read into a write): tried again for as long as that wait.
    void ExecuteWhenFree(const QString& sql) const;
    bool InTransaction() const;
    CBusyWait BusyWait() const { return m_wait; }
    void SetBusyWait(CBusyWait wait) { m_wait = wait; }
    // Rows changed by the latest statement, and the rowid of the latest insert.
    int Changes() const;
    qint64 LastInsertRowId() const;
    // The first bytes of the open file, read through the engine's own descriptor: a
    // descriptor of ours would drop the engine's locks on the file when closed. Fewer
    // bytes for a shorter file.
    QByteArray ReadFileHeader(int length) const;

private:
    static int OnBusy(void* connection, int attempt);
    bool KeepWaiting(const QElapsedTimer& busySince, int attempt) const;

    sqlite3* m_db = nullptr;
    QString m_path;
    CBusyWait m_wait;
    QElapsedTimer m_busySince;
    mutable std::map<QString, std::unique_ptr<CSqliteStatement>> m_cache;
};

// Another wait for a held file while it lives; the connection's own is put back after.
class CScopedBusyWait {
public:
    CScopedBusyWait(CSqliteConnection& connection, CBusyWait wait)
        : m_connection(connection), m_previous(connection.BusyWait()) {
        connection.SetBusyWait(wait);
    }
    ~CScopedBusyWait() { m_connection.SetBusyWait(m_previous); }
    CScopedBusyWait(const CScopedBusyWait&) = delete;
    CScopedBusyWait& operator=(const CScopedBusyWait&) = delete;

private:
    CSqliteConnection& m_connection;
    CBusyWait m_previous;
};
