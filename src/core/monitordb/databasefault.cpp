#include "monitordb/databasefault.h"

#include "monitordb/databaseerror.h"

#include <QFile>
#include <QFileInfo>
#include <sqlite3.h>
#include <unistd.h>

DatabaseFault ClassifyFault(const CDatabaseError& error) {
    switch (error.EngineCode()) {
    case CDatabaseError::kNoFile:
        return DatabaseFault::Missing;
    case CDatabaseError::kIncompleteFile:
        return DatabaseFault::Incomplete;
    case CDatabaseError::kWalOnNetwork:
        return DatabaseFault::WalOnNetwork;
    case CDatabaseError::kNoRow:
    case CDatabaseError::kKeysExhausted:
        return DatabaseFault::Other;
    default:
        break;
    }
    switch (error.EngineCode() & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return DatabaseFault::Busy;
    case SQLITE_NOTADB:
        return DatabaseFault::NotADatabase;
    case SQLITE_CORRUPT:
        return DatabaseFault::Damaged;
    case SQLITE_READONLY:
        return DatabaseFault::ReadOnly;
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return DatabaseFault::NoAccess;
    case SQLITE_FULL:
        return DatabaseFault::DiskFull;
    case SQLITE_IOERR:
        return DatabaseFault::IoError;
    default:
        return DatabaseFault::Other;
    }
}

namespace {

// The file the operator must mend: the database, its folder, or one of the WAL files the
// engine keeps beside it, whichever this program may not write.
QString WhatToMakeWritable(const QString& path) {
    const QFileInfo database(path);
    const QString folder = database.absolutePath();
    const auto writable = [](const QString& file) {
        return ::access(QFile::encodeName(file).constData(), W_OK) == 0;
    };
    if (!writable(folder))
        return QStringLiteral("mappen %1").arg(folder);
    for (const QString& file :
         {path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm")}) {
        if (QFileInfo::exists(file) && !writable(file))
            return QStringLiteral("filen %1").arg(file);
    }
    return QStringLiteral("filen och mappen den ligger i");
}

QString DescribeFault(DatabaseFault fault, const QString& path, const QString& engineText) {
    switch (fault) {
    case DatabaseFault::None:
        return {};
    case DatabaseFault::Busy:
        return QStringLiteral("Monitordatabasen %1 används av ett annat program just nu. Försök "
                              "igen om en stund.")
            .arg(path);
    case DatabaseFault::Missing:
        return QStringLiteral("Monitordatabasen %1 finns inte. Lägg tillbaka filen, till exempel "
                              "från en säkerhetskopia; en ny tom databas skapas bara när "
                              "monitorn startas.")
            .arg(path);
    case DatabaseFault::NotADatabase:
        return QStringLiteral("Filen %1 är ingen monitordatabas (%2). Lägg tillbaka rätt fil, "
                              "till exempel från en säkerhetskopia.")
            .arg(path, engineText);
    case DatabaseFault::Damaged:
        return QStringLiteral("Monitordatabasen %1 är skadad (%2). Återställ filen från en "
                              "säkerhetskopia.")
            .arg(path, engineText);
    case DatabaseFault::Incomplete:
        return QStringLiteral("Monitordatabasen %1 är inte hel: %2 Filen lämnas orörd; lägg "
                              "tillbaka rätt fil.")
            .arg(path, engineText);
    case DatabaseFault::WalOnNetwork:
        return QStringLiteral("Monitordatabasen %1 ligger på en nätverksenhet men är i WAL-läge, "
                              "som inte fungerar mellan datorer. Filen lämnas orörd. Stäng alla "
                              "monitorer och beräkningar som använder den och byt läge med "
                              "sqlite3 %1 \"PRAGMA journal_mode=DELETE\", eller flytta "
                              "programmet till en lokal disk.")
            .arg(path);
    case DatabaseFault::ReadOnly:
        return QStringLiteral("Monitordatabasen %1 går inte att skriva i (%2). Ge monitorn "
                              "skrivrätt till %3.")
            .arg(path, engineText, WhatToMakeWritable(path));
    case DatabaseFault::NoAccess:
        return QStringLiteral("Monitordatabasen %1 kan inte öppnas (%2). Kontrollera att "
                              "monitorn får läsa och skriva %3.")
            .arg(path, engineText, WhatToMakeWritable(path));
    case DatabaseFault::DiskFull:
        return QStringLiteral("Disken där monitordatabasen %1 ligger är full (%2). Frigör "
                              "utrymme på disken.")
            .arg(path, engineText);
    case DatabaseFault::IoError:
        return QStringLiteral("Monitordatabasen %1 kunde inte läsas eller skrivas (%2). "
                              "Kontrollera disken eller nätverksenheten.")
            .arg(path, engineText);
    case DatabaseFault::Other:
        break;
    }
    return QStringLiteral("Monitordatabasen %1 kan inte användas (%2).").arg(path, engineText);
}

} // namespace

QString FaultText(const CDatabaseError& error, const QString& whatFailed) {
    const QString sentence = DescribeFault(ClassifyFault(error), error.Path(), error.ErrorText());
    return whatFailed.isEmpty() ? sentence : whatFailed + QLatin1Char('\n') + sentence;
}
