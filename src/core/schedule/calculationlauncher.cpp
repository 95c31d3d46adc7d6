#include "schedule/calculationlauncher.h"

#include "base/clock.h"
#include "base/diagnostics.h"
#include "base/spawn.h"
#include "data/run.h"
#include "files/programpaths.h"
#include "log/monitorlog.h"
#include "monitordb/sqlitetransaction.h"
#include "monitordb/systemdatabase.h"
#include "schedule/calculationprocesses.h"
#include "schedule/schedulerpeers.h"
#include "settings/monitorsettings.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// Why a pending run must not start now; empty when it may.
QString WhySkipped(const CSystemDatabase::StartCheck& check, const CRun& run, StartRule rule) {
    if (!check.rowExists)
        return QStringLiteral("raden finns inte längre");
    if (check.running)
        return QStringLiteral("beräkningen körs redan");
    if (rule == StartRule::RunNow)
        return {};
    if (!check.schedulerOn)
        return QStringLiteral("schemaläggaren stängdes av");
    if (!check.active)
        return QStringLiteral("raden har avaktiverats");
    if (check.startTime != run.startTime || check.model != run.model || check.macro != run.macro)
        return QStringLiteral("raden har ändrats");
    return {};
}

} // namespace

CCalculationLauncher::CCalculationLauncher(const CProgramPaths& paths, const CClock& clock,
                                           CMonitorLog& log, CCalculationProcesses& processes,
                                           const CSchedulerPeers& peers)
    : m_paths(paths), m_clock(clock), m_log(log), m_processes(processes), m_peers(peers) {}

QString CCalculationLauncher::WhyNotStartable(const QString& programPath) {
    if (programPath.isEmpty())
        return QStringLiteral("ingen sökväg till beräkningsprogrammet är angiven i "
                              "inställningarna");
    // A bare name is looked for where the shell would look.
    const QString file = programPath.contains(QLatin1Char('/'))
                             ? programPath
                             : QStandardPaths::findExecutable(programPath);
    const QFileInfo program(file);
    if (file.isEmpty() || !program.exists())
        return QStringLiteral("programmet %1 finns inte").arg(programPath);
    if (program.isDir())
        return QStringLiteral("%1 är en mapp, inte ett program").arg(programPath);
    if (!program.isExecutable())
        return QStringLiteral("%1 får inte köras (körrättighet saknas)").arg(programPath);
    return {};
}

// The run is marked started before the program starts: a stop or a crash between the two
// leaves a run that never showed a sign of life, never one started twice.
std::optional<CLaunchReport> CCalculationLauncher::StartPending(CSystemDatabase& db,
                                                                const CRun& run,
                                                                const CMonitorSettings& settings,
                                                                StartRule rule) {
    CLaunchReport report{run.key, run.model, run.macro, false, true, {}};
    {
        CSqliteTransaction transaction(db.Connection());
        const CSystemDatabase::StartCheck check = db.CheckStart(run);
        if (!check.pending || check.owner != m_peers.Id())
            return std::nullopt;
        report.reason = WhySkipped(check, run, rule);
        const qint64 now = m_clock.Now().toSecsSinceEpoch();
        if (!report.reason.isEmpty()) {
            db.CloseRun(run.id, now, CRun::Outcome::Skipped, report.reason);
            transaction.Commit();
            report.attempted = false;
            Log(run, QStringLiteral("startades inte: %1").arg(report.reason));
            return report;
        }
        db.MarkStarted(run.id, now, m_peers.Host());
        transaction.Commit();
    }
    qint64 processId = 0;
    report.reason = Spawn(run, settings, processId);
    report.started = report.reason.isEmpty();
    if (report.started) {
        m_processes.Remember(run.key, processId);
        db.SetRunProcess(run.id, processId);
        Log(run, {});
    } else {
        db.CloseRun(run.id, m_clock.Now().toSecsSinceEpoch(), CRun::Outcome::NotStarted,
                    report.reason);
        qCWarning(lcSchedule).noquote()
            << "Raden" << run.key << "kunde inte startas:" << report.reason;
        Log(run, QStringLiteral("kunde inte startas: %1").arg(report.reason));
    }
    return report;
}

// Empty when the program started.
QString CCalculationLauncher::Spawn(const CRun& run, const CMonitorSettings& settings,
                                    qint64& processId) const {
    if (const QString whyNot = WhyNotStartable(settings.programPath); !whyNot.isEmpty())
        return whyNot;
    const QString program = settings.programPath.contains(QLatin1Char('/'))
                                ? settings.programPath
                                : QStandardPaths::findExecutable(settings.programPath);
    const std::vector<std::string> arguments = {
        QFile::encodeName(run.model + QStringLiteral(".vxm")).toStdString(),
        run.macro.toStdString(),
        std::to_string(run.key),
        std::to_string(settings.mayWriteIp21),
        QFile::encodeName(m_paths.MonitorDatabase()).toStdString(),
        "1"};
    const SpawnResult spawned = SpawnDetached(QFile::encodeName(program).toStdString(), arguments);
    if (spawned.pid < 0)
        return QString::fromStdString(
            DescribeStartFailure(QFile::encodeName(program).toStdString(), spawned.error));
    processId = spawned.pid;
    return {};
}

void CCalculationLauncher::Log(const CRun& run, const QString& problem) {
    QString line = run.model + QStringLiteral("   ") + run.macro;
    if (!problem.isEmpty())
        line += QStringLiteral("   (%1)").arg(problem);
    m_log.AppendLogLine(line, m_clock.Now());
}
