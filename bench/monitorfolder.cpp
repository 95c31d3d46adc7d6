#include "monitorfolder.h"

#include "base/stderrmessenger.h"

#include "monitordb/databaseerror.h"
#include "monitordb/databasefault.h"
#include "monitordb/sqlitetransaction.h"
#include "monitordb/systemdatabase.h"

#include <QDateTime>
#include <QFile>
#include <QVector>

namespace {

constexpr int kSecondsPerDay = 24 * 3600;
const QString kSettingsText = QStringLiteral("- - - -");

QString StartTimeOfRow(int index) {
    switch (index % 3) {
    case 0:
        return QStringLiteral("2030-01-01 12:00");
    case 1:
        return QStringLiteral("0-03:00");
    default:
        return QStringLiteral("99:00");
    }
}

QVector<int> SaveRows(CSystemDatabase& db, int rowCount) {
    QVector<int> keys;
    for (int i = 0; i < rowCount; ++i) {
        const int key = db.SaveRow(StartTimeOfRow(i), QStringLiteral("/modeller/modell%1").arg(i),
                                   QStringLiteral("Dygnsberäkning"), -1, 1);
        if (key < 0)
            return {};
        keys << key;
    }
    return keys;
}

// Written the way the calculation program leaves them when it has run a row.
void StoreTimes(CSystemDatabase& db, const QVector<int>& keys) {
    const int finished = int(QDateTime(QDate(2026, 12, 6), QTime(23, 15)).toSecsSinceEpoch());
    CSqliteStatement insert =
        db.Connection().Prepare(QStringLiteral("INSERT INTO SEKVENS (NAMN, NUMMER) VALUES(?, ?)"));
    for (int key : keys) {
        for (const char* prefix : {"CALC_TIME", "MES_TIME"}) {
            insert.Bind(1, QLatin1String(prefix) + QString::number(key)).Bind(2, finished).Run();
            insert.Reset();
        }
    }
}

} // namespace

bool FillMonitorDatabase(const QString& path, int rowCount) {
    CSystemDatabase db(path);
    try {
        db.OpenOrCreate();
        // One transaction: a commit per row would make filling take longer than measuring.
        CSqliteTransaction transaction(db.Connection());
        db.SaveRow(kSettingsText, QStringLiteral("/bin/true"), kSettingsText, 0, 0);
        db.SetSetting(QStringLiteral("DRIFT"), 1);
        const QVector<int> keys = SaveRows(db, rowCount);
        if (keys.size() != rowCount)
            return false;
        db.RunFlags(keys);
        StoreTimes(db, keys);
        transaction.Commit();
        return true;
    } catch (const CDatabaseError& e) {
        PrintError(FaultText(e));
        return false;
    }
}

bool FillRunHistory(const QString& path, int runCount) {
    CSystemDatabase db(path);
    const qint64 end = QDateTime(QDate(2026, 12, 7), QTime(10, 0)).toSecsSinceEpoch();
    const qint64 span = 5 * qint64(kSecondsPerDay);
    try {
        db.Open();
        const QVector<CScheduleRow> rows = db.LoadAllRows();
        if (rows.isEmpty())
            return runCount == 0;
        CSqliteTransaction transaction(db.Connection());
        for (int i = 0; i < runCount; ++i) {
            const CScheduleRow& row = rows.at(i % rows.size());
            CRun run;
            run.key = row.key;
            run.model = row.model;
            run.macro = row.macro;
            run.launched = end - span + qint64(i) * span / runCount;
            db.RecordStart(run);
            db.EndRun(row.key, run.launched + 90, CRun::Outcome::Finished);
        }
        transaction.Commit();
        return true;
    } catch (const CDatabaseError& e) {
        PrintError(FaultText(e));
        return false;
    }
}

bool OpenSupervisedRuns(const QString& path, int runCount) {
    CSystemDatabase db(path);
    const qint64 start = QDateTime(QDate(2026, 12, 7), QTime(9, 55)).toSecsSinceEpoch();
    try {
        db.Open();
        CSqliteTransaction transaction(db.Connection());
        db.Connection()
            .Prepare(QStringLiteral(
                "INSERT INTO KORNINGAR (NYCKEL, MODELL, MAKRO, START, IGANG, VARD, VAKT, "
                "HJARTSLAG, PROCESS, UTSKRIFT) SELECT NYCKEL, MODELL, MAKRO, ?1, ?1, 'bench', "
                "40000 + NYCKEL, ?1, 50000 + NYCKEL, 'korning.txt' FROM MONITOR WHERE NYCKEL <> 0 "
                "ORDER BY rowid LIMIT ?2"))
            .Bind(1, start)
            .Bind(2, runCount)
            .Run();
        transaction.Commit();
        return true;
    } catch (const CDatabaseError& e) {
        PrintError(FaultText(e));
        return false;
    }
}

void BeatOpenRuns(const QString& path) {
    CSystemDatabase db(path);
    db.Open();
    db.Connection().Execute(QStringLiteral("UPDATE KORNINGAR SET HJARTSLAG = HJARTSLAG + 30 "
                                           "WHERE SLUT IS NULL AND VAKT IS NOT NULL"));
}

QByteArray MonitorLogText(int lineCount, QDate firstDay, QDate lastDay) {
    // Counted in UTC, so no daylight-saving change moves a line to another day.
    const QDateTime start(firstDay, QTime(0, 0), Qt::UTC);
    const qint64 spanSeconds = (firstDay.daysTo(lastDay) + 1) * kSecondsPerDay;
    QByteArray text;
    for (int i = 0; i < lineCount; ++i) {
        const QString stamp = start.addSecs(i * spanSeconds / lineCount)
                                  .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        text += (stamp + QStringLiteral(" - /modeller/modell%1   Dygnsberäkning\n").arg(i % 1000))
                    .toUtf8();
    }
    return text;
}

bool WriteFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) < 0) {
        PrintError(QStringLiteral("%1 kunde inte skrivas: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}
