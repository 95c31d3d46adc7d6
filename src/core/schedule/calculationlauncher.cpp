#include "schedule/calculationlauncher.h"

#include "base/clock.h"
#include "base/diagnostics.h"
#include "base/filedescriptor.h"
#include "base/spawn.h"
#include "cluster/slurmqueue.h"
#include "data/run.h"
#include "data/schedulerow.h"
#include "files/programpaths.h"
#include "log/monitorlog.h"
#include "monitordb/databaseerror.h"
#include "monitordb/databasefault.h"
#include "monitordb/sqlitetransaction.h"
#include "monitordb/systemdatabase.h"
#include "schedule/calculationprocesses.h"
#include "schedule/schedulerpeers.h"
#include "settings/monitorsettings.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// A supervisor tells at once; one that has not within this long is taken as failed.
constexpr int kSupervisorAnswerMs = 30000;
// How long a write about a program already started waits for a held file, a stop or not.
constexpr int kRecordAfterStartMs = 10000;

struct SupervisorReport {
    bool answered = false;
    qint64 pid = -1;
    int error = 0;
};

// One line, "<pid> <errno>", then the end of the pipe.
SupervisorReport ReadSupervisorReport(int fd) {
    QByteArray line;
    QDeadlineTimer deadline(kSupervisorAnswerMs);
    while (!line.contains('\n')) {
        pollfd readable{fd, POLLIN, 0};
        const int ready = ::poll(&readable, 1, int(std::max<qint64>(0, deadline.remainingTime())));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return {};
        char chunk[64];
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return {};
        line.append(chunk, got);
    }
    const QList<QByteArray> words = line.trimmed().split(' ');
    if (words.size() != 2)
        return {};
    return {true, words.at(0).toLongLong(), words.at(1).toInt()};
}

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

// A bare name is looked for where the shell would look.
QString CalculationProgram(const QString& programPath) {
    return programPath.contains(QLatin1Char('/')) ? programPath
                                                  : QStandardPaths::findExecutable(programPath);
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
    const QString file = CalculationProgram(programPath);
    const QFileInfo program(file);
    if (file.isEmpty() || !program.exists())
        return QStringLiteral("programmet %1 finns inte").arg(programPath);
    if (program.isDir())
        return QStringLiteral("%1 är en mapp, inte ett program").arg(programPath);
    if (!program.isExecutable())
        return QStringLiteral("%1 får inte köras (körrättighet saknas)").arg(programPath);
    return {};
}

// The run is marked started (or queued) before the program starts or the job is submitted: a
// stop or a crash between the two leaves a run that never showed a sign of life, never one
// started twice.
std::optional<CLaunchReport> CCalculationLauncher::StartPending(CSystemDatabase& db,
                                                                const CRun& run,
                                                                const CMonitorSettings& settings,
                                                                StartRule rule) {
    CLaunchReport report{run.key, run.model, run.macro, false, true, {}};
    CSystemDatabase::StartCheck check;
    {
        CSqliteTransaction transaction(db.Connection());
        check = db.CheckStart(run);
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
        if (settings.startOnCluster)
            db.MarkQueued(run.id, now, m_paths.OutputFile(run.id));
        else
            db.MarkStarted(run.id, now, m_peers.Host(), m_paths.OutputFile(run.id));
        transaction.Commit();
    }
    if (settings.startOnCluster)
        Submit(db, run, settings, check.timeLimitMinutes, report);
    else
        StartHere(db, run, settings, check.timeLimitMinutes, report);
    return report;
}

void CCalculationLauncher::StartHere(CSystemDatabase& db, const CRun& run,
                                     const CMonitorSettings& settings, qint64 timeLimitMinutes,
                                     CLaunchReport& report) {
    CStartedProcesses processes;
    report.reason = Spawn(run, settings, timeLimitMinutes, processes);
    report.started = report.reason.isEmpty();
    if (!report.started)
        return NotStarted(db, run, report.reason);
    m_processes.Remember(run.key, processes.calculation);
    RecordAfterStart(
        db, run, [&] { db.SetRunProcesses(run.id, processes.calculation, processes.supervisor); });
    Log(run, {});
}

// The supervisor runs on the node that Slurm picks and records the start and the end itself;
// the scheduler keeps only the job id, to cancel the job or ask Slurm about it.
void CCalculationLauncher::Submit(CSystemDatabase& db, const CRun& run,
                                  const CMonitorSettings& settings, qint64 timeLimitMinutes,
                                  CLaunchReport& report) {
    report.reason = WhyNotReady(settings);
    if (report.reason.isEmpty()) {
        CSlurmJobRequest request;
        request.key = run.key;
        request.partition = settings.slurmPartition;
        request.options = settings.slurmOptions;
        request.timeLimitMinutes = SaturatedInt(timeLimitMinutes);
        request.outputFile = CProgramPaths::JobOutputFile(m_paths.OutputFile(run.id));
        request.program = m_paths.RunSupervisor();
        request.arguments = SupervisorArguments(run, settings, timeLimitMinutes);
        const CSlurmQueue::CSubmission submission = CSlurmQueue().Submit(request);
        report.reason = submission.error;
        if (report.reason.isEmpty())
            RecordAfterStart(db, run, [&] { db.SetJob(run.id, submission.jobId); });
    }
    report.started = report.reason.isEmpty();
    if (!report.started)
        return NotStarted(db, run, report.reason);
    Log(run, {});
}

void CCalculationLauncher::NotStarted(CSystemDatabase& db, const CRun& run, const QString& reason) {
    RecordAfterStart(db, run, [&] {
        db.CloseRun(run.id, m_clock.Now().toSecsSinceEpoch(), CRun::Outcome::NotStarted, reason);
    });
    qCWarning(lcSchedule).noquote() << "Raden" << run.key << "kunde inte startas:" << reason;
    Log(run, QStringLiteral("kunde inte startas: %1").arg(reason));
}

// Once the run is marked started, its start is told whatever becomes of the writes that
// follow, and a stop, which otherwise gives up every wait for the file at once, lets them
// wait a little. Without the process ids the run still beats, ends and can be cancelled
// through its supervisor; without a job id or a failed start's end it would be found silent
// two minutes later.
void CCalculationLauncher::RecordAfterStart(CSystemDatabase& db, const CRun& run,
                                            const std::function<void()>& write) {
    CBusyWait wait = db.Connection().BusyWait();
    wait.timeoutMs = kRecordAfterStartMs;
    wait.cancel = nullptr;
    const CScopedBusyWait patient(db.Connection(), wait);
    try {
        write();
    } catch (const CDatabaseError& e) {
        qCWarning(lcSchedule).noquote()
            << QStringLiteral("Raden %1: körning %2 kunde inte skrivas: %3")
                   .arg(run.key)
                   .arg(run.id)
                   .arg(FaultText(e));
    }
}

// Empty when the program may be started and its output has a folder to go to.
QString CCalculationLauncher::WhyNotReady(const CMonitorSettings& settings) const {
    if (const QString whyNot = WhyNotStartable(settings.programPath); !whyNot.isEmpty())
        return whyNot;
    if (!QDir().mkpath(m_paths.OutputFolder()))
        return QStringLiteral("mappen för körningarnas utskrifter %1 kan inte skapas")
            .arg(m_paths.OutputFolder());
    return {};
}

// What the supervisor is told: the run, its output file and limit, then after "--" the
// calculation program with its six arguments.
QStringList CCalculationLauncher::SupervisorArguments(const CRun& run,
                                                      const CMonitorSettings& settings,
                                                      qint64 timeLimitMinutes) const {
    return {QStringLiteral("--database"),
            m_paths.MonitorDatabase(),
            QStringLiteral("--run"),
            QString::number(run.id),
            QStringLiteral("--output"),
            m_paths.OutputFile(run.id),
            QStringLiteral("--time-limit"),
            QString::number(timeLimitMinutes),
            QStringLiteral("--"),
            CalculationProgram(settings.programPath),
            run.model + QStringLiteral(".vxm"),
            run.macro,
            QString::number(run.key),
            QString::number(settings.mayWriteIp21),
            m_paths.MonitorDatabase(),
            QStringLiteral("1")};
}

// The supervisor starts the program with the six arguments and stays with it; it tells
// through a pipe whether the program started. Empty when it did.
QString CCalculationLauncher::Spawn(const CRun& run, const CMonitorSettings& settings,
                                    qint64 timeLimitMinutes, CStartedProcesses& processes) const {
    if (const QString whyNot = WhyNotReady(settings); !whyNot.isEmpty())
        return whyNot;
    QStringList supervisorArguments = SupervisorArguments(run, settings, timeLimitMinutes);
    const qsizetype separator = supervisorArguments.indexOf(QStringLiteral("--"));
    supervisorArguments.insert(separator, QStringLiteral("3"));
    supervisorArguments.insert(separator, QStringLiteral("--report-fd"));
    std::vector<std::string> arguments;
    for (const QString& argument : supervisorArguments)
        arguments.push_back(QFile::encodeName(argument).toStdString());
    const std::string program =
        QFile::encodeName(CalculationProgram(settings.programPath)).toStdString();
    const std::string supervisor = QFile::encodeName(m_paths.RunSupervisor()).toStdString();
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return QString::fromStdString(DescribeStartFailure(supervisor, errno));
    CFileDescriptor readEnd(report[0]);
    CFileDescriptor writeEnd(report[1]);
    const SpawnResult spawned = SpawnDetached(supervisor, arguments, writeEnd.Get());
    writeEnd.Close();
    if (spawned.pid < 0)
        return QStringLiteral("körningens övervakare: %1")
            .arg(QString::fromStdString(DescribeStartFailure(supervisor, spawned.error)));
    const SupervisorReport started = ReadSupervisorReport(readEnd.Get());
    if (!started.answered)
        return QStringLiteral("körningens övervakare svarade inte");
    if (started.pid < 0)
        return QString::fromStdString(DescribeStartFailure(program, started.error));
    processes = {started.pid, spawned.pid};
    return {};
}

void CCalculationLauncher::Log(const CRun& run, const QString& problem) {
    QString line = run.model + QStringLiteral("   ") + run.macro;
    if (!problem.isEmpty())
        line += QStringLiteral("   (%1)").arg(problem);
    m_log.AppendLogLine(line, m_clock.Now());
}
