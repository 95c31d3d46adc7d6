#pragma once

#include "monitordb/sqliteconnection.h"

#include <QList>
#include <QString>

// A model's macro database, read for the names of the macros a schedule row
// can start. Never written.
class CMacroDatabase {
public:
    struct Macro {
        QString name;
        int key = 0;
    };

    explicit CMacroDatabase(QString path);

    // Raises CDatabaseError when the file cannot be read as a database.
    void Open();
    bool IsOpen() const { return m_database.IsOpen(); }
    // The macros in stored order, names without trailing blanks; a missing table
    // or column raises CDatabaseError.
    QList<Macro> Macros() const;

private:
    QString m_strPath;
    CSqliteConnection m_database;
};
