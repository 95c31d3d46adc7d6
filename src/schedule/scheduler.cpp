#include "scheduler.h"

#include "app/diagnostics.h"
#include "app/messenger.h"
#include "app/monitorsettings.h"
#include "app/programpaths.h"
#include "clock.h"
#include "monitordb/daoexception.h"
#include "monitordb/sqlitetransaction.h"
#include "monitordb/systemdatabase.h"
#include "monitorlog.h"
#include "schedulemodel.h"
#include "starttime.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QScopedValueRollback>
#include <algorithm>

namespace {

// Retry intervals of the database open: start-up may block the window a little
// longer between attempts than the timers do.
constexpr int kStartupRetryMs = 200;
constexpr int kTimerRetryMs = 50;
// Wake a little after the minute has begun, so a timer that fires a few
// milliseconds early does not land in the minute before.
constexpr int kWakeMarginMs = 100;
// The timer runs on the monotonic clock, which stands still while the machine
// sleeps and ignores changes of the wall clock; waking at least this often
// notices either within a few seconds.
constexpr qint64 kLongestSleepMs = 15000;

// Images 1 and 2 are inactive and active; 3 and 4 the same while running.
int StateImageFor(int image, bool running) {
    const int idle = image > 2 ? image - 2 : image;
    return running ? idle + 2 : idle;
}

} // namespace

CScheduler::CScheduler(CScheduleModel& list, CMonitorSettings& settings, const CProgramPaths& paths,
                       const CClock& clock, CMessenger& messenger, QObject* parent)
    : QObject(parent), m_list(list), m_settings(settings), m_paths(paths), m_clock(clock),
      m_messenger(messenger) {
    m_scheduleTimer.setSingleShot(true);
    m_scheduleTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_scheduleTimer, &QTimer::timeout, this, &CScheduler::OnScheduleTimer);
    m_refreshTimer.setInterval(kRefreshIntervalMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &CScheduler::Refresh);
}

bool CScheduler::LoadSchedule() {
    CSystemDatabase db(m_paths.MonitorDatabase(), m_messenger);
    if (!db.OpenRetrying(kStartupRetryMs))
        return false;
    try {
        m_settings = CMonitorSettings::Load(db);
        db.SeedCyclicCounters([] { return int(QRandomGenerator::global()->bounded(32768)); });
        db.LoadAllRows(m_list);
    } catch (const CDaoException& e) {
        m_messenger.ShowMessage(e.ErrorText());
        return false;
    }
    db.Close();
    Refresh();
    return true;
}

void CScheduler::Start() {
    m_refreshTimer.start();
    ArmScheduleTimer();
}

void CScheduler::SetRefreshSuspended(std::function<bool()> suspended) {
    m_refreshSuspended = std::move(suspended);
}

void CScheduler::OnScheduleTimer() {
    // A message box shown during a tick lets timer events through; the tick
    // that is waiting for the operator must not be entered again meanwhile.
    if (m_inTick)
        return;
    const QScopedValueRollback<bool> inTick(m_inTick, true);
    const QDateTime now = m_clock.Now();
    const CMinuteTracker::Minutes minutes = m_minutes.Advance(now);
    if (!minutes.IsEmpty() && m_settings.drift != 0)
        RunTick(minutes, now);
    ArmScheduleTimer();
}

void CScheduler::RunTick(const CMinuteTracker::Minutes& minutes, const QDateTime& now) {
    CSystemDatabase db(m_paths.MonitorDatabase(), m_messenger);
    if (!db.OpenRetrying(kTimerRetryMs))
        return;
    try {
        for (int line : DueLines(db, minutes))
            LaunchRow(line);
        db.PurgePid(now, m_settings.pid);
    } catch (const CDaoException& e) {
        // The rows not yet examined wait for the next minute; nothing was started twice.
        m_messenger.ShowMessage(e.ErrorText());
    }
}

// Decided in one write transaction, so the countdowns of all cyclic rows are
// stepped together; the starts come after it, when the calculation programs
// can write to the file again.
QVector<int> CScheduler::DueLines(CSystemDatabase& db, const CMinuteTracker::Minutes& minutes) {
    // The tick writes only countdowns and missing run flags, which a power cut may
    // cost without harm; not waiting for the disk on every minute keeps it fast.
    db.Connection().Execute(QStringLiteral("PRAGMA synchronous=NORMAL"));
    CSqliteTransaction transaction(db.Connection());
    const QHash<int, bool> running = db.RunFlags(m_list.Keys());
    const QHash<int, CSystemDatabase::RowState> stored = db.RowStates();
    QVector<int> due;
    for (int i = 0; i < m_list.LineCount(); ++i) {
        const CScheduleLine& line = m_list.Line(i);
        const auto row = stored.constFind(line.key);
        // A row deleted behind the list's back is not started.
        if (row != stored.constEnd() && row->implemented && !running.value(line.key, false) &&
            IsDue(db, line, *row, minutes))
            due << i;
    }
    transaction.Commit();
    return due;
}

// A cyclic row counts down once per wake-up; the other kinds are due when any of
// the minutes evaluated for them matches, and start once all the same. A row
// with an "X" in its hour or minute runs in real time; one with a fixed time of
// day is never started twice for the same minute when the clock moves.
bool CScheduler::IsDue(CSystemDatabase& db, const CScheduleLine& line,
                       const CSystemDatabase::RowState& stored,
                       const CMinuteTracker::Minutes& minutes) {
    const QString& text = line.startTime;
    const StartTime::Kind kind = StartTime::Classify(text);
    if (kind == StartTime::Kind::Cyclic)
        return db.StepCounter(line.key, stored.tid, stored.counter);
    const QVector<QDateTime>& candidates =
        text.right(5).contains(QLatin1Char('X')) ? minutes.forWildcardRows : minutes.forFixedRows;
    return std::any_of(candidates.begin(), candidates.end(), [&](const QDateTime& minute) {
        return kind == StartTime::Kind::Weekday ? StartTime::IsWeekdayDue(text, minute)
                                                : StartTime::IsAbsoluteDue(text, minute);
    });
}

void CScheduler::LaunchRow(int line) {
    const CScheduleLine& row = m_list.Line(line);
    const QStringList arguments{
        row.model + QStringLiteral(".vxm"), row.macro,
        QString::number(row.key),           QString::number(m_settings.save),
        m_paths.MonitorDatabase(),          QStringLiteral("1")};
    const CMonitorLog log(m_paths.MonitorLog(), m_paths.TrimFile());
    log.TrimLog(m_settings.logFile);
    log.AppendLogLine(row.model + QStringLiteral("   ") + row.macro, m_clock.Now());
    if (!QProcess::startDetached(m_settings.programPath, arguments))
        qCWarning(lcSchedule) << "Beräkningsprogrammet" << m_settings.programPath
                              << "kunde inte startas för raden" << row.key;
    RefreshRunState(line);
}

void CScheduler::RefreshRunState(int line) {
    CSystemDatabase db(m_paths.MonitorDatabase(), m_messenger);
    if (!db.OpenRetrying(kTimerRetryMs))
        return;
    const int key = m_list.Line(line).key;
    m_list.SetStateImage(line, StateImageFor(m_list.Line(line).stateImage, db.IsRunFlagSet(key)));
}

void CScheduler::Refresh() {
    if (m_refreshSuspended && m_refreshSuspended())
        return;
    WithDatabase([this](CSystemDatabase& db) {
        ShowRunStates(db);
        ShowTimes(db);
    });
}

void CScheduler::RefreshRunStates() {
    WithDatabase([this](CSystemDatabase& db) { ShowRunStates(db); });
}

// The lines keep what they show when the file cannot be read; the next refresh
// tries again.
void CScheduler::WithDatabase(const std::function<void(CSystemDatabase&)>& work) {
    CSystemDatabase db(m_paths.MonitorDatabase(), m_messenger);
    if (!db.OpenRetrying(kTimerRetryMs))
        return;
    try {
        work(db);
    } catch (const CDaoException& e) {
        qCInfo(lcSchedule) << "Listan kunde inte uppdateras:" << e.ErrorText();
    }
}

void CScheduler::ShowRunStates(CSystemDatabase& db) {
    const QHash<int, bool> running = db.RunFlags(m_list.Keys());
    for (int i = 0; i < m_list.LineCount(); ++i) {
        const CScheduleLine& line = m_list.Line(i);
        m_list.SetStateImage(i, StateImageFor(line.stateImage, running.value(line.key)));
    }
}

void CScheduler::ShowTimes(CSystemDatabase& db) {
    const QHash<int, int> calcTimes = db.StoredTimes(0);
    const QHash<int, int> mesTimes = db.StoredTimes(1);
    for (int i = 0; i < m_list.LineCount(); ++i) {
        const int key = m_list.Line(i).key;
        m_list.SetTimes(i, calcTimes.value(key), mesTimes.value(key));
    }
}

void CScheduler::ArmScheduleTimer() {
    const QDateTime now = m_clock.Now();
    const QTime t = now.time();
    const QDateTime thisMinute(now.date(), QTime(t.hour(), t.minute()), now.timeSpec());
    const qint64 untilNextMinute = now.msecsTo(thisMinute.addSecs(60));
    m_scheduleTimer.start(int(std::clamp<qint64>(untilNextMinute, 0, kLongestSleepMs)) +
                          kWakeMarginMs);
}
