#include "schedule/calculationlauncher.h"

#include "base/clock.h"
#include "base/diagnostics.h"
#include "data/schedulerow.h"
#include "files/programpaths.h"
#include "history/runhistory.h"
#include "log/monitorlog.h"
#include "monitordb/systemdatabase.h"
#include "schedule/calculationprocesses.h"
#include "settings/monitorsettings.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

CCalculationLauncher::CCalculationLauncher(const CProgramPaths& paths, const CClock& clock,
                                           CMonitorLog& log, CCalculationProcesses& processes)
    : m_paths(paths), m_clock(clock), m_log(log), m_processes(processes) {}

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

CLaunchReport CCalculationLauncher::Launch(CSystemDatabase& db, const CScheduleRow& row,
                                           const CMonitorSettings& settings) {
    // Read before the start, so a calculation time the program writes is never earlier.
    const QDateTime attempted = m_clock.Now();
    CLaunchReport report{row.key, row.model, row.macro,
                         false,   true,      WhyNotStartable(settings.programPath)};
    qint64 processId = 0;
    if (report.reason.isEmpty()) {
        QProcess process;
        process.setProgram(settings.programPath);
        process.setArguments({row.model + QStringLiteral(".vxm"), row.macro,
                              QString::number(row.key), QString::number(settings.mayWriteIp21),
                              m_paths.MonitorDatabase(), QStringLiteral("1")});
        report.started = process.startDetached(&processId);
        if (!report.started)
            report.reason = QStringLiteral("programmet %1 gick inte att starta (%2)")
                                .arg(settings.programPath, process.errorString());
    }
    QString line = row.model + QStringLiteral("   ") + row.macro;
    if (report.started) {
        m_processes.Remember(row.key, processId);
    } else {
        line += QStringLiteral("   (kunde inte startas: %1)").arg(report.reason);
        qCWarning(lcSchedule).noquote()
            << "Raden" << row.key << "kunde inte startas:" << report.reason;
    }
    m_log.AppendLogLine(line, m_clock.Now());
    Record(db, report, attempted);
    return report;
}

void CCalculationLauncher::Record(CSystemDatabase& db, const CLaunchReport& report,
                                  const QDateTime& attempted) {
    CRun run;
    run.key = report.key;
    run.model = report.model;
    run.macro = report.macro;
    run.launched = attempted.toSecsSinceEpoch();
    run.outcome = report.started ? CRun::Outcome::Running : CRun::Outcome::NotStarted;
    run.reason = report.reason;
    RunHistory::Write([&] { db.RecordStart(run); });
}
