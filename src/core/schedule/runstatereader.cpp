#include "schedule/runstatereader.h"

#include "base/clock.h"
#include "history/runhistory.h"
#include "log/monitorlog.h"
#include "monitordb/databaseerror.h"
#include "monitordb/databasefault.h"
#include "schedule/calculationprocesses.h"
#include "schedule/problemreporter.h"

namespace {

// The refresh runs every few seconds: a writer holding the file longer only
// delays it to the next one.
constexpr int kBusyWaitMs = 2000;

// Faults that leave nothing of the schedule readable.
bool LeavesNoRows(DatabaseFault fault) {
    return fault != DatabaseFault::ReadOnly && fault != DatabaseFault::DiskFull &&
           fault != DatabaseFault::Busy;
}

} // namespace

CRunStateReader::CRunStateReader(QString databasePath, QString host, const CClock& clock,
                                 CCalculationProcesses& processes, CMonitorLog& log,
                                 CProblemReporter& problems, const std::atomic<bool>& stop)
    : m_databasePath(std::move(databasePath)), m_host(std::move(host)), m_clock(clock),
      m_processes(processes), m_log(log), m_problems(problems), m_stop(stop) {}

std::optional<CRunStates> CRunStateReader::Read() {
    CSystemDatabase db(m_databasePath, CBusyWait(kBusyWaitMs, &m_stop));
    try {
        db.Open();
    } catch (const CDatabaseError& e) {
        return ReportUnusable(e);
    }
    CRunStates states;
    const bool replaced = m_identity && db.Identity() != m_identity;
    try {
        ReadStates(db, replaced, states);
    } catch (const CDatabaseError& e) {
        return ReportUnusable(e);
    }
    // A file that took the place of the one read before is reported once.
    if (replaced && !m_unreadable)
        m_log.AppendLogLine(QStringLiteral("Monitordatabasen %1 har bytts ut; listan har lästs in "
                                           "på nytt.")
                                .arg(m_databasePath),
                            m_clock.Now());
    m_identity = db.Identity();
    m_unreadable = false;
    m_problems.Report(CProblemReporter::Source::Display, {});
    return states;
}

// A run started on another host is that host's to judge: only there can a scheduler see
// whether its calculation still runs.
void CRunStateReader::ReadStates(CSystemDatabase& db, bool replaced, CRunStates& states) {
    const QVector<CScheduleRow> rows = db.LoadAllRows();
    if (m_unreadable || replaced)
        states.reloadedRows = rows;
    states.settings = CMonitorSettings::Read(db);
    QVector<int> keys;
    keys.reserve(rows.size());
    for (const CScheduleRow& row : rows)
        keys << row.key;
    const QHash<int, bool> flags = db.RunFlags(keys);
    const QHash<int, qint64> calcTimes = db.StoredTimes(StoredTime::Calculation);
    const QHash<int, qint64> mesTimes = db.StoredTimes(StoredTime::Measurement);
    QHash<int, QString> elsewhere = db.OpenRunHosts();
    elsewhere.removeIf([this](const auto& run) { return run.value() == m_host; });
    const QSet<int> stale = m_processes.StaleFlags(
        db, rows, [&](int key) { return flags.value(key) && !elsewhere.contains(key); });
    for (const CScheduleRow& row : rows) {
        states.byKey.insert(row.key, {flags.value(row.key), stale.contains(row.key),
                                      calcTimes.value(row.key), mesTimes.value(row.key),
                                      flags.value(row.key) ? elsewhere.value(row.key) : QString()});
    }
    AddRunEnds(db, states.byKey);
    RecordFlagChanges(db, flags);
    states.notices = ReportNewlyStale(db, rows, stale);
}

// One look at the open supervised runs serves both the cancel and the queue mark.
void CRunStateReader::AddRunEnds(CSystemDatabase& db, QHash<int, CRunState>& states) {
    for (const CRun& run : db.OpenSupervisedRuns()) {
        const auto state = states.find(run.key);
        if (state == states.end())
            continue;
        if (run.cancelledBy.isEmpty())
            state->cancellable = true;
        if (run.Queued()) {
            state->queuedJob = run.jobId;
            state->queuedSince = run.queuedAt.value_or(run.launched);
        }
    }
    const QHash<int, CRun> cleared = db.LatestRunsWithClearedFlag();
    for (auto run = cleared.constBegin(); run != cleared.constEnd(); ++run) {
        if (const auto state = states.find(run.key()); state != states.end())
            state->clearedFlagEnd = RunHistory::OutcomeText(run.value());
    }
}

std::optional<CRunStates> CRunStateReader::ReportUnusable(const CDatabaseError& error) {
    const DatabaseFault fault = ClassifyFault(error);
    if (fault == DatabaseFault::Busy)
        return std::nullopt;
    m_problems.Report(CProblemReporter::Source::Display,
                      CProblemReporter::StopsCalculations(FaultText(error)));
    if (!LeavesNoRows(fault) || m_unreadable)
        return std::nullopt;
    // The rows can no longer be read: the list must not show them as if they would run.
    m_unreadable = true;
    CRunStates states;
    states.reloadedRows = QVector<CScheduleRow>();
    return states;
}

QStringList CRunStateReader::ReportNewlyStale(CSystemDatabase& db,
                                              const QVector<CScheduleRow>& rows,
                                              const QSet<int>& stale) {
    QStringList notices;
    for (const CScheduleRow& row : rows) {
        if (!stale.contains(row.key) || m_loggedStale.contains(row.key))
            continue;
        db.EndRun(row.key, m_clock.Now().toSecsSinceEpoch(), CRun::Outcome::Aborted);
        const QString notice = row.model + QStringLiteral("   ") + row.macro +
                               QStringLiteral("   (beräkningsflaggan är satt men ingen "
                                              "beräkning för raden körs på den här datorn)");
        m_log.AppendLogLine(notice, m_clock.Now());
        notices << QStringLiteral("Rad %1: %2").arg(row.key).arg(notice);
    }
    m_loggedStale = stale;
    return notices;
}

// One statement for each flag that changed since the last look; at the first
// look every raised flag counts as just raised.
void CRunStateReader::RecordFlagChanges(CSystemDatabase& db, const QHash<int, bool>& flags) {
    const qint64 now = m_clock.Now().toSecsSinceEpoch();
    for (auto flag = flags.constBegin(); flag != flags.constEnd(); ++flag) {
        const bool known = m_previousFlags && m_previousFlags->contains(flag.key());
        const bool was = known && m_previousFlags->value(flag.key());
        if (flag.value() && !was)
            db.MarkRunning(flag.key(), now);
        else if (!flag.value() && was)
            db.EndRun(flag.key(), now, CRun::Outcome::Finished);
    }
    m_previousFlags = flags;
}
