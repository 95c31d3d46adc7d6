// kvarnixmonitord: the monitor's scheduler without a window, for a machine nobody is logged
// in to. It keeps the schedule of the window program, so both may run together.
#include "journalwriter.h"
#include "kvarnixservice.h"

#include "base/clock.h"
#include "base/commandline.h"
#include "base/signalwatcher.h"
#include "base/stderrmessenger.h"
#include "base/stoprequest.h"
#include "commands/schedulecommands.h"
#include "files/programpaths.h"
#include "monitordb/databaseaccess.h"
#include "monitordb/databaseerror.h"
#include "monitordb/databasefault.h"
#include "monitordb/systemdatabase.h"
#include "schedule/calculationprocesses.h"
#include "schedule/schedulelisting.h"
#include "schedule/schedulestatus.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSysInfo>
#include <climits>
#include <cstdio>
#include <ctime>
#include <optional>

namespace {

constexpr int kExitFailure = 1;

using Priority = CJournalWriter::Priority;

// An option more is one entry here and, for a command, one case in main().
CCommandLine ServiceCommandLine(const CProgramPaths& paths) {
    const QString description =
        QStringLiteral("Kör KvarnixMonitors schema utan fönster: varje minut startas\n"
                       "beräkningsprogrammet för de aktiva rader vars starttid har kommit, med\n"
                       "inställningarna i monitordatabasen, precis som i monitorns fönster.\n"
                       "Fönstret och tjänsten kan köras samtidigt; varje minut körs då en gång.\n"
                       "Meddelanden skrivs på standard error, ett per rad. SIGHUP läser in\n"
                       "inställningarna på nytt; SIGTERM och SIGINT avslutar tjänsten.\n"
                       "\n"
                       "Filerna delas med kvarnixmonitor:\n"
                       "  %1  monitordatabasen (schemat och inställningarna)\n"
                       "  %2  monitorns logg")
            .arg(paths.MonitorDatabase(), paths.MonitorLog());
    const QVector<CCommandOption> options = {
        {{QStringLiteral("mapp")},
         QStringLiteral("MAPP"),
         QStringLiteral("håll monitordatabasen och loggen i MAPP i stället för\n"
                        "bredvid programmet (eller i KVARNIX_MAPP om den är satt)"),
         QStringLiteral("en mapp, till exempel --mapp /var/lib/kvarnixmonitor")},
        {{QStringLiteral("list")},
         QString(),
         QStringLiteral("skriv ut schemat med nästa start och senaste körning\n"
                        "för varje rad och avsluta"),
         QString(),
         true},
        {{QStringLiteral("history")},
         QStringLiteral("NYCKEL"),
         QStringLiteral("skriv ut radens körningar, den senaste först, och avsluta"),
         QStringLiteral("ett radnummer, till exempel --history 12"),
         true},
        {{QStringLiteral("output")},
         QStringLiteral("KÖRNING"),
         QStringLiteral("skriv ut vad körningen skrev ut (dess sista MiB) och avsluta;\n"
                        "körningens nummer står i --history"),
         QStringLiteral("ett körningsnummer, till exempel --output 4711"),
         true},
        {{QStringLiteral("cancel")},
         QStringLiteral("NYCKEL"),
         QStringLiteral("be radens pågående körning att avbrytas och avsluta; den\n"
                        "stoppas inom några sekunder, var den än körs"),
         QStringLiteral("ett radnummer, till exempel --cancel 12"),
         true},
        {{QStringLiteral("status")},
         QString(),
         QStringLiteral("skriv ut vem som håller schemat, DRIFT, den senast\n"
                        "schemalagda minuten och de pågående körningarna och avsluta"),
         QString(),
         true}};
    return CCommandLine(QStringLiteral("kvarnixmonitord"), description,
                        options + CCommandLine::VersionAndHelp());
}

void Print(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

// While TZ is unset, the C library looks at /etc/localtime again at every conversion to local
// time, thousands of them for a long listing; the zone does not change in that moment.
void ReadTimeZoneOnce() {
    if (qEnvironmentVariableIsSet("TZ"))
        return;
    qputenv("TZ", ":/etc/localtime");
    tzset();
}

QString SchedulerSwitchLine(bool on) {
    return on ? QStringLiteral("Schemaläggaren är påslagen (DRIFT = 1).")
              : CKvarnixService::SwitchedOffText();
}

// Read only: the listing adds nothing to the file and leaves nothing beside it.
int ListSchedule(const CProgramPaths& paths) {
    ReadTimeZoneOnce();
    CStderrMessenger messenger;
    CSystemDatabase db(paths.MonitorDatabase(), CommandWait());
    CCalculationProcesses processes(paths.MonitorDatabase());
    try {
        db.OpenForReading();
        const CListingInput input =
            CScheduleListing::Read(db, processes, QSysInfo::machineHostName());
        const CScheduleListing listing(input, CSystemClock().Now());
        Print(stdout, SchedulerSwitchLine(input.schedulerOn) + QLatin1Char('\n') +
                          listing.Lines().join(QLatin1Char('\n')) + QLatin1Char('\n'));
    } catch (const CDatabaseError& e) {
        messenger.ShowMessage(FaultText(e));
        return kExitFailure;
    }
    return 0;
}

int ListHistory(const CProgramPaths& paths, int key) {
    ReadTimeZoneOnce();
    CStderrMessenger messenger;
    CSystemDatabase db(paths.MonitorDatabase(), CommandWait());
    try {
        db.OpenForReading();
        if (!db.RowExists(key)) {
            messenger.ShowMessage(QStringLiteral("Raden %1 finns inte.").arg(key));
            return kExitFailure;
        }
        const QVector<CRun> runs =
            db.HasTable(QStringLiteral("KORNINGAR")) ? db.Runs(key, 0, INT_MAX) : QVector<CRun>();
        if (runs.isEmpty())
            Print(stdout, QStringLiteral("Raden %1 har ingen körning.\n").arg(key));
        else
            Print(stdout,
                  CScheduleListing::HistoryLines(runs).join(QLatin1Char('\n')) + QLatin1Char('\n'));
    } catch (const CDatabaseError& e) {
        messenger.ShowMessage(FaultText(e));
        return kExitFailure;
    }
    return 0;
}

int PrintOutput(const CProgramPaths& paths, int runId) {
    CStderrMessenger messenger;
    CSystemDatabase db(paths.MonitorDatabase(), CommandWait());
    std::optional<CRun> run;
    try {
        db.OpenForReading();
        if (db.HasTable(QStringLiteral("KORNINGAR")))
            run = db.RunById(runId);
    } catch (const CDatabaseError& e) {
        messenger.ShowMessage(FaultText(e));
        return kExitFailure;
    }
    if (!run) {
        messenger.ShowMessage(QStringLiteral("Körningen %1 finns inte.").arg(runId));
        return kExitFailure;
    }
    if (run->outputPath.isEmpty()) {
        messenger.ShowMessage(QStringLiteral("Körningen %1 har ingen utskrift.").arg(runId));
        return kExitFailure;
    }
    QFile output(run->outputPath);
    if (!output.open(QIODevice::ReadOnly)) {
        messenger.ShowMessage(QStringLiteral("Körningens utskrift %1 kan inte läsas: %2")
                                  .arg(run->outputPath, output.errorString()));
        return kExitFailure;
    }
    const QByteArray text = output.readAll();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    return 0;
}

// Stored with the run: its supervisor, on whichever host, stops the calculation.
int CancelRun(const CProgramPaths& paths, int key) {
    CStderrMessenger messenger;
    const QString who = CScheduleCommands::Requester();
    try {
        if (!CScheduleCommands(paths.MonitorDatabase()).RequestCancel(key, who)) {
            messenger.ShowMessage(
                QStringLiteral("Rad %1 har ingen pågående körning som kan avbrytas.").arg(key));
            return kExitFailure;
        }
    } catch (const CDatabaseError& e) {
        messenger.ShowMessage(FaultText(e));
        return kExitFailure;
    }
    Print(stdout,
          QStringLiteral("Körningen av rad %1 avbryts (begärt av %2).\n").arg(key).arg(who));
    return 0;
}

int PrintStatus(const CProgramPaths& paths) {
    ReadTimeZoneOnce();
    CStderrMessenger messenger;
    CSystemDatabase db(paths.MonitorDatabase(), CommandWait());
    try {
        db.OpenForReading();
        Print(stdout, CScheduleStatus::Read(db, QSysInfo::machineHostName()).join(u'\n') + u'\n');
    } catch (const CDatabaseError& e) {
        messenger.ShowMessage(FaultText(e));
        return kExitFailure;
    }
    return 0;
}

int RunService(const CProgramPaths& paths) {
    const CSystemClock clock;
    CKvarnixService service(paths, clock);
    // Before the start, so that a stop while a held file is waited for ends it too.
    const CSignalWatcher signalWatcher([&service] { service.Reread(); });
    if (!service.Start())
        return ProcessStopRequested() ? 0 : kExitFailure;
    const int exitCode = QCoreApplication::exec();
    service.Stop();
    CJournalWriter().Write(Priority::Info, QStringLiteral("kvarnixmonitord avslutas."));
    return exitCode;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kvarnixmonitord"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KVARNIX_VERSION));
    // Standard error is the operator's journal here; the diagnostic categories stay out of
    // it unless QT_LOGGING_RULES asks for them.
    QLoggingCategory::setFilterRules(QStringLiteral("kvarnix.*=false"));

    const QString programFolder = QFileInfo(QCoreApplication::applicationFilePath()).absolutePath();
    const QString program = programFolder + QStringLiteral("/kvarnixmonitor");
    CCommandLine arguments = ServiceCommandLine(CProgramPaths(program, QString()));
    if (!arguments.Parse(application.arguments()))
        return arguments.Refuse();
    const CProgramPaths paths(
        program, CProgramPaths::ChooseDataFolder(arguments.Value(QStringLiteral("mapp"))));
    const QString command = arguments.Command();
    if (command == QLatin1String("list"))
        return ListSchedule(paths);
    if (command == QLatin1String("status"))
        return PrintStatus(paths);
    if (command == QLatin1String("history") || command == QLatin1String("cancel") ||
        command == QLatin1String("output")) {
        const std::optional<int> number = arguments.PositiveNumber(command);
        if (!number)
            return arguments.Refuse();
        if (command == QLatin1String("history"))
            return ListHistory(paths, *number);
        return command == QLatin1String("cancel") ? CancelRun(paths, *number)
                                                  : PrintOutput(paths, *number);
    }
    if (command == QLatin1String("h")) {
        Print(stdout, ServiceCommandLine(paths).HelpText());
        return 0;
    }
    if (command == QLatin1String("version")) {
        Print(stdout, QStringLiteral("kvarnixmonitord %1\n").arg(KVARNIX_VERSION));
        return 0;
    }
    return RunService(paths);
}
