#include "schedule/scheduler.h"

#include "base/clock.h"
#include "files/programpaths.h"
#include "history/runhistory.h"
#include "log/monitorlog.h"
#include "monitordb/databaseerror.h"
#include "monitordb/databasefault.h"
#include "monitordb/sqlitetransaction.h"
#include "monitordb/systemdatabase.h"
#include "rules/starttime.h"
#include "schedule/calculationlauncher.h"
#include "schedule/problemreporter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSysInfo>
#include <QThread>
#include <algorithm>
#include <sqlite3.h>

namespace {

// A file that cannot be used (a copy still being written, say) gets this long
// to recover before the operator is told; one already reported does not.
constexpr int kUnusableGraceMs = 5000;
constexpr int kUnusableRetryMs = 200;

QString StopsCalculations(const QString& faultText) {
    return faultText + QStringLiteral(" Inga beräkningar startas förrän felet är åtgärdat.");
}

} // namespace

CScheduler::CScheduler(const CProgramPaths& paths, const CClock& clock,
                       CCalculationLauncher& launcher, CMonitorLog& log, CProblemReporter& problems,
                       const std::atomic<bool>& stop)
    : m_paths(paths), m_clock(clock), m_launcher(launcher), m_log(log), m_problems(problems),
      m_stop(stop) {}

void CScheduler::SetSettings(const CMonitorSettings& settings) {
    const QMutexLocker lock(&m_settingsMutex);
    m_settings = settings;
}

CMonitorSettings CScheduler::CurrentSettings(CSystemDatabase& db) {
    {
        const QMutexLocker lock(&m_settingsMutex);
        if (m_settings)
            return *m_settings;
    }
    return CMonitorSettings::Load(db);
}

QString CScheduler::Tick(const LaunchListener& launched) {
    // Later wake-ups within a minute already claimed find nothing new.
    if (m_lastWakeMinute == CMinuteTracker::WallClockMinute(m_clock.Now()))
        return m_claimingService;
    CSystemDatabase db(m_paths.MonitorDatabase(), CBusyWait(CBusyWait::kForever, &m_stop));
    if (!OpenForTick(db))
        return m_claimingService;
    QString problem;
    Decision decision;
    try {
        decision = Decide(db);
    } catch (const CDatabaseError& e) {
        if (ClassifyFault(e) != DatabaseFault::Busy)
            ReportFailure(FaultText(e));
        return m_claimingService;
    }
    m_claimingService = decision.claimingService;
    m_lastWakeMinute = CMinuteTracker::WallClockMinute(decision.now);
    for (const CScheduleRow& row : decision.due) {
        if (m_stop)
            break;
        launched(m_launcher.Launch(db, row, decision.settings));
    }
    if (decision.evaluated && !m_stop)
        Tidy(db, decision, problem);
    db.Close();
    // After the starts, so a long log never delays one.
    if (!decision.due.isEmpty() && !m_stop)
        m_log.TrimLog(decision.settings.logDays);
    m_problems.Report(CProblemReporter::Source::Schedule, problem);
    return m_claimingService;
}

void CScheduler::RunNow(int key, const LaunchListener& launched) {
    CSystemDatabase db(m_paths.MonitorDatabase(), CBusyWait(CBusyWait::kForever, &m_stop));
    try {
        db.Open();
        const QVector<CScheduleRow> rows = db.LoadAllRows();
        const auto row = std::find_if(rows.begin(), rows.end(),
                                      [key](const CScheduleRow& r) { return r.key == key; });
        if (row == rows.end()) {
            launched({key, {}, {}, false, false, QStringLiteral("raden finns inte längre")});
            return;
        }
        if (db.RunFlags({key}).value(key)) {
            launched({key, row->model, row->macro, false, false,
                      QStringLiteral("beräkningen körs redan")});
            return;
        }
        launched(m_launcher.Launch(db, *row, CurrentSettings(db)));
    } catch (const CDatabaseError& e) {
        launched({key, {}, {}, false, false, FaultText(e)});
    }
}

void CScheduler::SeedCountdowns(CSystemDatabase& db, const std::function<int()>& random) {
    QHash<int, int> countdowns;
    for (const CScheduleRow& row : db.LoadAllRows()) {
        if (StartTime::Classify(row.startTime) == StartTime::Kind::Cyclic)
            countdowns.insert(row.key, StartTime::SeededCountdown(row.startTime, random()));
    }
    db.SetCounters(countdowns);
}

// With the scheduler on, old PID records and runs go. The runs whose end nobody saw are closed
// whatever the switch, since "Kör nu" starts rows while it is off.
void CScheduler::Tidy(CSystemDatabase& db, const Decision& decision, QString& problem) {
    try {
        if (decision.settings.schedulerOn != 0)
            db.PurgePid(decision.now, decision.settings.pidDays);
    } catch (const CDatabaseError& e) {
        problem = FaultText(e, QStringLiteral("Gamla poster i tabellen PID kunde inte tas bort."));
    }
    RunHistory::Write([&] { db.EndQuietRuns(decision.now.toSecsSinceEpoch()); });
}

bool CScheduler::OpenForTick(CSystemDatabase& db) {
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        try {
            db.Open();
            m_openFaultReported = false;
            return true;
        } catch (const CDatabaseError& e) {
            if (m_stop || ClassifyFault(e) == DatabaseFault::Busy)
                return false;
            if (!m_openFaultReported && waited.elapsed() < kUnusableGraceMs) {
                QThread::msleep(kUnusableRetryMs);
                continue;
            }
            ReportFailure(FaultText(e));
            return false;
        }
    }
}

void CScheduler::ReportFailure(const QString& faultText) {
    m_openFaultReported = true;
    m_problems.Report(CProblemReporter::Source::Schedule, StopsCalculations(faultText));
}

// Decided and claimed in one write transaction; the starts come after it, when
// the calculation programs can write to the file again. The clock is read once
// the file is ours, so minutes that passed while another process held it are
// evaluated now.
CScheduler::Decision CScheduler::Decide(CSystemDatabase& db) {
    // The tick writes countdowns, missing run flags and its claim, which a power
    // cut may cost without harm; not waiting for the disk every minute keeps it fast.
    db.Connection().Execute(QStringLiteral("PRAGMA synchronous=NORMAL"));
    CSqliteTransaction transaction(db.Connection());
    Decision decision;
    decision.now = m_clock.Now();
    decision.settings = CurrentSettings(db);
    CMinuteTracker tracker(db.MinuteClaim());
    const CMinuteTracker::Minutes minutes = tracker.Advance(decision.now);
    decision.evaluated = !minutes.IsEmpty();
    // Minutes that pass while the scheduler is switched off count as evaluated
    // all the same: switching it on starts nothing for the time it was off.
    if (decision.evaluated && decision.settings.schedulerOn != 0) {
        const QVector<CScheduleRow> rows = db.LoadAllRows();
        QVector<int> keys;
        keys.reserve(rows.size());
        for (const CScheduleRow& row : rows)
            keys << row.key;
        const QHash<int, bool> running = db.RunFlags(keys);
        QHash<int, int> countdowns;
        for (const CScheduleRow& row : rows) {
            if (row.active && !running.value(row.key) && IsDue(row, minutes, countdowns))
                decision.due << row;
        }
        db.SetCounters(countdowns);
    }
    if (decision.evaluated) {
        db.SetMinuteClaim(*tracker.Current(), {QSysInfo::machineHostName(),
                                               QCoreApplication::applicationPid(), m_service});
    } else if (const std::optional<CSystemDatabase::Claimer> claimer = db.LastClaimer();
               claimer && claimer->service) {
        decision.claimingService = claimer->host;
    }
    transaction.Commit();
    return decision;
}

// A cyclic row counts down once per wake-up (its new countdown goes into countdowns);
// the other kinds are due when any of the minutes evaluated for them matches, and
// start once all the same. A row with an "X" in its hour or minute runs in real
// time; one with a fixed time of day is never started twice for the same minute when
// the clock moves.
bool CScheduler::IsDue(const CScheduleRow& row, const CMinuteTracker::Minutes& minutes,
                       QHash<int, int>& countdowns) {
    const QString& text = row.startTime;
    const StartTime::Kind kind = StartTime::Classify(text);
    if (kind == StartTime::Kind::Cyclic) {
        if (!StartTime::HasCyclicLayout(text))
            return false;
        const StartTime::CountdownStep step = StartTime::StepCountdown(text, row.counter);
        countdowns.insert(row.key, step.counter);
        return step.due;
    }
    const QVector<QDateTime>& candidates =
        StartTime::FollowsRealTime(text) ? minutes.forWildcardRows : minutes.forFixedRows;
    return std::any_of(candidates.begin(), candidates.end(), [&](const QDateTime& minute) {
        return kind == StartTime::Kind::Weekday ? StartTime::IsWeekdayDue(text, minute)
                                                : StartTime::IsAbsoluteDue(text, minute);
    });
}
