#pragma once

#include "monitordb/sqliteconnection.h"

#include <QString>

// The calculation program's own record, kept beside its program file, of the
// process database each model is connected to. Never written.
class CConnectionDatabase {
public:
    // Opens the file when it exists; an engine failure raises CDatabaseError.
    explicit CConnectionDatabase(const QString& programPath);

    bool FileFound() const { return m_bFileFound; }
    // The database the model file (full path with extension) is connected to, or
    // "Ej kopplad". Without a file there is nothing to read: CDatabaseError.
    QString LookupConnection(const QString& modelFile) const;

private:
    CSqliteConnection m_database;
    bool m_bFileFound = false;
};
