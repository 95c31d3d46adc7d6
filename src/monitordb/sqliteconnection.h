#pragma once

#include "sqlitestatement.h"

#include <QString>

struct sqlite3;

// One open database file; closed when it goes out of scope.
class CSqliteConnection {
public:
    CSqliteConnection() = default;
    ~CSqliteConnection();
    CSqliteConnection(const CSqliteConnection&) = delete;
    CSqliteConnection& operator=(const CSqliteConnection&) = delete;

    enum class OpenMode { ExistingFile, CreateFile, ReadOnly };
    // Opens the file and sets the busy timeout before anything else runs.
    void Open(const QString& path, OpenMode mode, int busyTimeoutMs);
    void Close();
    bool IsOpen() const { return m_db != nullptr; }

    CSqliteStatement Prepare(const QString& sql) const { return CSqliteStatement(m_db, sql); }
    void Execute(const QString& sql) const { Prepare(sql).Run(); }
    bool InTransaction() const;

private:
    sqlite3* m_db = nullptr;
};
