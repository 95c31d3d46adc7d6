#pragma once

#include <QString>

struct sqlite3;
struct sqlite3_stmt;

// One prepared statement; finalised when it goes out of scope. Every failure
// raises CDatabaseError with the engine's text.
class CSqliteStatement {
public:
    // path: the database file, named in the failures the statement raises.
    CSqliteStatement(sqlite3* db, const QString& sql, QString path = {});
    ~CSqliteStatement();
    CSqliteStatement(CSqliteStatement&& other) noexcept;
    CSqliteStatement(const CSqliteStatement&) = delete;
    CSqliteStatement& operator=(const CSqliteStatement&) = delete;
    CSqliteStatement& operator=(CSqliteStatement&&) = delete;

    // Parameters are numbered from 1, as the engine numbers them.
    CSqliteStatement& Bind(int index, int value);
    CSqliteStatement& Bind(int index, qint64 value);
    CSqliteStatement& Bind(int index, const QString& value);

    // Advances to the next result row; false once the statement is done.
    bool Step();
    // Runs a statement that returns no rows.
    void Run();
    // Makes the statement ready for another run with new parameters.
    void Reset();

    int ColumnInt(int column) const;
    qint64 ColumnInt64(int column) const;
    QString ColumnText(int column) const;
    bool IsNull(int column) const;

private:
    [[noreturn]] void Fail() const;

    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
    QString m_path;
};
