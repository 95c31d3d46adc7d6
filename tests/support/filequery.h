#pragma once

#include "monitordb/sqliteconnection.h"
#include "monitordb/sqlitestatement.h"

#include <QByteArray>
#include <QFile>
#include <QString>

// The first column of the first row of a query, read through a connection of its own, as
// another process sees the file; "-" when the query gives no row.
inline QString QueryFile(const QString& path, const QString& sql) {
    CSqliteConnection connection;
    connection.Open(path, CSqliteConnection::OpenMode::ExistingFile, 1000);
    CSqliteStatement row = connection.Prepare(sql);
    return row.Step() ? row.ColumnText(0) : QStringLiteral("-");
}

// The file's bytes as they lie on the disk; empty when it cannot be read.
inline QByteArray FileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
