#include "commands/schedulecommands.h"

#include "base/textutil.h"
#include "cluster/slurmqueue.h"
#include "monitordb/databaseaccess.h"
#include "monitordb/databaseerror.h"
#include "monitordb/databasefault.h"
#include "monitordb/systemdatabase.h"
#include "schedule/runstatereader.h"
#include "schedule/schedulemodel.h"
#include "schedule/scheduler.h"

#include <QSysInfo>
#include <algorithm>
#include <pwd.h>
#include <unistd.h>

namespace {

const QString kNoText = QStringLiteral("- - - -");
const QString kLoginCheck = QStringLiteral("INLOGGNINGSKONTROLL");

QString TimeLimitName(int key) {
    return QStringLiteral("MAXTID%1").arg(key);
}

// A file the program may only read is shown all the same: the scheduler tells the fault,
// once, and the window must not refuse to start over it.
CMonitorSettings LoadSettingsAndSeed(CSystemDatabase& db, const std::function<int()>& random,
                                     const QDateTime& now) {
    try {
        const CMonitorSettings settings = CMonitorSettings::Load(db);
        CScheduler::SeedCountdowns(db, random, now);
        return settings;
    } catch (const CDatabaseError& e) {
        if (ClassifyFault(e) != DatabaseFault::ReadOnly)
            throw;
    }
    return CMonitorSettings::Read(db);
}

// Missing run flags are created with 0, as the scheduler would create them.
QHash<int, CRunState> RunStatesOf(CSystemDatabase& db, const QVector<int>& keys) {
    const QHash<int, bool> flags = db.RunFlags(keys);
    const QHash<int, qint64> calcTimes = db.StoredTimes(StoredTime::Calculation);
    const QHash<int, qint64> mesTimes = db.StoredTimes(StoredTime::Measurement);
    QHash<int, CRunState> states;
    for (int key : keys)
        states.insert(key, {flags.value(key), false, calcTimes.value(key), mesTimes.value(key)});
    CRunStateReader::AddRunEnds(db, states);
    return states;
}

} // namespace

CScheduleCommands::CScheduleCommands(QString databasePath)
    : m_databasePath(std::move(databasePath)) {}

template <typename Work> auto CScheduleCommands::WithDatabase(CBusyWait wait, Work work) const {
    CSystemDatabase db(m_databasePath, wait);
    db.Open();
    return work(db);
}

template <typename Work> auto CScheduleCommands::WithDatabase(Work work) const {
    return WithDatabase(CommandWait(), work);
}

bool CScheduleCommands::ReadLoginCheckAtStart() const {
    CSystemDatabase db(m_databasePath, StartWait());
    OpenAtStart(db);
    return db.NextNumber(kLoginCheck, false) != 0;
}

CScheduleAtStart CScheduleCommands::LoadAtStart(const std::function<int()>& random,
                                                const QDateTime& now) const {
    CSystemDatabase db(m_databasePath, StartWait());
    OpenAtStart(db);
    CScheduleAtStart start;
    start.settings = LoadSettingsAndSeed(db, random, now);
    start.rows = db.LoadAllRows();
    QVector<int> keys;
    for (const CScheduleRow& row : start.rows)
        keys << row.key;
    const QHash<int, qint64> flags = db.StoredRunFlags();
    const QHash<int, qint64> calcTimes = db.StoredTimes(StoredTime::Calculation);
    const QHash<int, qint64> mesTimes = db.StoredTimes(StoredTime::Measurement);
    for (int key : keys)
        start.states.insert(
            key, {flags.value(key) != 0, false, calcTimes.value(key), mesTimes.value(key)});
    return start;
}

QVector<CScheduleRow> CScheduleCommands::LoadRows() const {
    return WithDatabase([](CSystemDatabase& db) { return db.LoadAllRows(); });
}

CScheduleRow CScheduleCommands::LoadRow(int key) const {
    return WithDatabase([key](CSystemDatabase& db) { return db.LoadRow(key); });
}

int CScheduleCommands::SaveRow(const CScheduleRow& row) const {
    return WithDatabase([&row](CSystemDatabase& db) {
        return db.SaveRow(row.startTime, row.model, row.macro, row.key, row.implemented);
    });
}

void CScheduleCommands::DeleteRow(int key) const {
    WithDatabase([key](CSystemDatabase& db) { db.DeleteRow(key); });
}

void CScheduleCommands::SetActive(int key, bool active) const {
    WithDatabase([key, active](CSystemDatabase& db) { db.SetImplemented(active ? 1 : 0, key); });
}

void CScheduleCommands::ResetRunFlags(const QVector<int>& keys) const {
    WithDatabase([&keys](CSystemDatabase& db) { db.ResetRunFlags(keys); });
}

bool CScheduleCommands::IsRunning(int key) const {
    return WithDatabase([key](CSystemDatabase& db) { return db.IsRunFlagSet(key); });
}

QHash<int, CRunState> CScheduleCommands::RunStates(const QVector<int>& keys) const {
    return WithDatabase([&keys](CSystemDatabase& db) { return RunStatesOf(db, keys); });
}

CRowInformation CScheduleCommands::RowInformation(const CScheduleLine& line,
                                                  const QString& programPath,
                                                  const QDateTime& now) const {
    return WithDatabase(
        [&](CSystemDatabase& db) { return ComputeRowInformation(db, line, programPath, now); });
}

QVector<CRun> CScheduleCommands::FinishedRuns(int key, int limit) const {
    return WithDatabase([key, limit](CSystemDatabase& db) { return db.FinishedRuns(key, limit); });
}

CStoredSwitches CScheduleCommands::ReadSwitches() const {
    return WithDatabase([](CSystemDatabase& db) {
        CStoredSwitches switches;
        switches.mayWriteIp21 = db.GetSetting(QStringLiteral("SAVE")) != 0;
        switches.schedulerOn = db.GetSetting(QStringLiteral("DRIFT")) != 0;
        switches.loginCheck = db.GetSetting(kLoginCheck) != 0;
        switches.minimizePeriodically = db.GetSetting(QStringLiteral("HIDE")) != 0;
        return switches;
    });
}

void CScheduleCommands::StoreSettings(const CMonitorSettings& settings) const {
    WithDatabase([&settings](CSystemDatabase& db) {
        db.SaveRow(kNoText, settings.programPath, kNoText, 0, 0);
        db.SetSetting(QStringLiteral("SAVE"), settings.mayWriteIp21);
        db.SetSetting(QStringLiteral("DRIFT"), settings.schedulerOn);
        db.SetSetting(QStringLiteral("HIDE_MINUTER"), settings.minimizeMinutes);
        db.SetSetting(QStringLiteral("HIDE"), settings.minimizePeriodically);
        db.SetSetting(QStringLiteral("LOGFILE"), settings.logDays);
        db.SetSetting(QStringLiteral("PID"), settings.pidDays);
        db.SetTextSetting(QStringLiteral("KOR_VID_FEL"), settings.failureCommand);
        db.SetTextSetting(QStringLiteral("KOR_PA"),
                          QLatin1String(settings.startOnCluster ? CMonitorSettings::kOnCluster
                                                                : CMonitorSettings::kOnThisHost));
        db.SetTextSetting(QStringLiteral("SLURM_PARTITION"), settings.slurmPartition);
        db.SetTextSetting(QStringLiteral("SLURM_FLAGGOR"), settings.slurmOptions);
    });
}

QString CScheduleCommands::Requester() {
    const passwd* user = ::getpwuid(::getuid());
    const QString name = user ? QString::fromLocal8Bit(user->pw_name) : QString::number(::getuid());
    return QStringLiteral("%1 på %2").arg(name, QSysInfo::machineHostName());
}

// A batch job is cancelled in Slurm as well, outside any transaction (scancel may take a
// while): one still waiting is over at once, one running is stopped by its supervisor, which
// finds the request when Slurm's SIGTERM reaches it. Should scancel fail, the stored request
// still stops the calculation as soon as its supervisor starts.
bool CScheduleCommands::RequestCancel(int key, const QString& who) const {
    const std::optional<CSystemDatabase::CancelledRun> cancelled =
        WithDatabase([&](CSystemDatabase& db) { return db.RequestCancel(key, who); });
    if (!cancelled)
        return false;
    if (cancelled->jobId != 0 && CSlurmQueue().Cancel(cancelled->jobId).isEmpty())
        WithDatabase([&](CSystemDatabase& db) {
            return db.CloseCancelledJob(cancelled->runId, QDateTime::currentSecsSinceEpoch());
        });
    return true;
}

int CScheduleCommands::TimeLimit(int key) const {
    return WithDatabase([key](CSystemDatabase& db) {
        return SaturatedInt(std::max<qint64>(0, db.StoredNumber(TimeLimitName(key)).value_or(0)));
    });
}

void CScheduleCommands::SetTimeLimit(int key, int minutes) const {
    // A row that never had a limit gets no number for it.
    WithDatabase([&](CSystemDatabase& db) {
        if (minutes != 0 || db.StoredNumber(TimeLimitName(key)))
            db.SetSetting(TimeLimitName(key), minutes);
    });
}

void CScheduleCommands::StoreLoginCheck(bool on) const {
    WithDatabase([on](CSystemDatabase& db) { db.SetSetting(kLoginCheck, on ? 1 : 0); });
}
