#include "schedule/schedulestatus.h"

#include "data/run.h"
#include "data/scheduler.h"
#include "monitordb/systemdatabase.h"
#include "schedule/schedulerpeers.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <unistd.h>

namespace {

QString LocalTime(qint64 secondsSince1970) {
    return QDateTime::fromSecsSinceEpoch(secondsSince1970)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// A process's start from its recorded start (boot, clock ticks since the boot), while it
// runs on this computer since this boot; nothing otherwise.
std::optional<qint64> StartOnThisHost(const CSchedulerRecord& scheduler) {
    if (scheduler.processStart.isEmpty() ||
        CSchedulerPeers::ProcessStartOf(scheduler.process) != scheduler.processStart)
        return std::nullopt;
    QFile stat(QStringLiteral("/proc/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QRegularExpressionMatch boot =
        QRegularExpression(QStringLiteral("^btime (\\d+)$"), QRegularExpression::MultilineOption)
            .match(QString::fromLatin1(stat.readAll()));
    if (!boot.hasMatch())
        return std::nullopt;
    const qint64 ticks = scheduler.processStart.section(u':', 1).toLongLong();
    return boot.captured(1).toLongLong() + ticks / ::sysconf(_SC_CLK_TCK);
}

} // namespace

QStringList CScheduleStatus::Read(CSystemDatabase& db, const QString& thisHost) {
    QStringList lines{Holder(db, thisHost)};
    lines << (db.GetSetting(QStringLiteral("DRIFT")) != 0
                  ? QStringLiteral("Schemaläggaren är påslagen (DRIFT = 1).")
                  : QStringLiteral("Schemaläggaren är avstängd (DRIFT = 0)."));
    const std::optional<CSystemDatabase::MinuteClaim> claim = db.ReadMinuteClaim();
    // The minute is counted on the wall clock's face, as if that clock were UTC.
    lines << (claim ? QStringLiteral("Senast schemalagda minut: %1.")
                          .arg(QDateTime::fromSecsSinceEpoch(claim->state.last * 60, Qt::UTC)
                                   .toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                    : QStringLiteral("Ingen minut är schemalagd än."));
    return lines + OpenRuns(db);
}

QString CScheduleStatus::Holder(CSystemDatabase& db, const QString& thisHost) {
    const std::optional<CSystemDatabase::MinuteClaim> claim = db.ReadMinuteClaim();
    const QVector<CSchedulerRecord> schedulers = db.HasTable(QStringLiteral("SCHEMALAGGARE"))
                                                     ? db.Schedulers()
                                                     : QVector<CSchedulerRecord>();
    const auto holder = std::find_if(schedulers.begin(), schedulers.end(), [&](const auto& s) {
        return claim && s.id == claim->claimer;
    });
    if (holder == schedulers.end())
        return QStringLiteral("Ingen schemaläggare håller schemat.");
    const QString program = holder->service ? QStringLiteral("kvarnixmonitord (tjänsten)")
                                            : QStringLiteral("kvarnixmonitor (fönstret)");
    const std::optional<qint64> start =
        holder->host == thisHost ? StartOnThisHost(*holder) : std::nullopt;
    const QString since =
        start ? QStringLiteral("sedan %1").arg(LocalTime(*start))
              : QStringLiteral("senaste livstecken %1").arg(LocalTime(holder->heartbeatMs / 1000));
    return QStringLiteral("Schemat hålls av %1 på %2 (process %3), %4.")
        .arg(program, holder->host)
        .arg(holder->process)
        .arg(since);
}

QStringList CScheduleStatus::OpenRuns(CSystemDatabase& db) {
    if (!db.HasTable(QStringLiteral("KORNINGAR")))
        return {QStringLiteral("Inga körningar pågår.")};
    QStringList lines;
    const QHash<int, CRun> latest = db.LatestRuns();
    QList<int> keys = latest.keys();
    std::sort(keys.begin(), keys.end());
    for (const int key : keys) {
        const CRun& run = latest.value(key);
        if (run.ended)
            continue;
        const QString state =
            run.outcome == CRun::Outcome::Pending
                ? QStringLiteral("väntar på start")
                : QStringLiteral("pågår sedan %1 på %2").arg(LocalTime(run.launched), run.host);
        lines << QStringLiteral("  rad %1  %2   %3  %4").arg(key).arg(run.model, run.macro, state);
    }
    if (lines.isEmpty())
        return {QStringLiteral("Inga körningar pågår.")};
    return QStringList{QStringLiteral("Pågående körningar:")} + lines;
}
