// kvarnixmonitord: the monitor's scheduler without a window, for a machine nobody is logged
// in to. It keeps the schedule of the window program, so both may run together.
#include "kvarnixservice.h"

#include "base/clock.h"
#include "base/signalwatcher.h"
#include "base/stderrmessenger.h"
#include "base/stoprequest.h"
#include "files/programpaths.h"
#include "monitordb/databaseaccess.h"
#include "monitordb/databaseerror.h"
#include "monitordb/databasefault.h"
#include "monitordb/systemdatabase.h"
#include "schedule/calculationprocesses.h"
#include "schedule/schedulelisting.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSysInfo>
#include <climits>
#include <cstdio>
#include <ctime>
#include <optional>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

enum class Command { Run, List, History, Help, Version };

struct CInvocation {
    Command command = Command::Run;
    int key = 0;
    QString dataFolder;
};

QString HelpText(const CProgramPaths& paths) {
    return QStringLiteral(
               "Användning: kvarnixmonitord [--mapp MAPP] [--list | --history NYCKEL | --help "
               "| --version]\n"
               "\n"
               "Kör KvarnixMonitors schema utan fönster: varje minut startas\n"
               "beräkningsprogrammet för de aktiva rader vars starttid har kommit, med\n"
               "inställningarna i monitordatabasen, precis som i monitorns fönster.\n"
               "Fönstret och tjänsten kan köras samtidigt; varje minut körs då en gång.\n"
               "Meddelanden skrivs på standard error, ett per rad. SIGTERM och SIGINT\n"
               "avslutar tjänsten.\n"
               "\n"
               "Alternativ:\n"
               "  --list             skriv ut schemat med nästa start och senaste körning\n"
               "                     för varje rad och avsluta\n"
               "  --history NYCKEL   skriv ut radens körningar, den senaste först, och avsluta\n"
               "  --mapp MAPP        håll monitordatabasen och loggen i MAPP i stället för\n"
               "                     bredvid programmet (eller i KVARNIX_MAPP om den är satt)\n"
               "  --version          visa programmets version\n"
               "  -h, --help         visa den här texten\n"
               "\n"
               "Filerna delas med kvarnixmonitor:\n"
               "  %1  monitordatabasen (schemat och inställningarna)\n"
               "  %2  monitorns logg\n")
        .arg(paths.MonitorDatabase(), paths.MonitorLog());
}

void Print(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

// A Swedish line for what is wrong with the arguments, or the invocation they ask for.
std::optional<CInvocation> ParseArguments(const QStringList& arguments, QString& problem) {
    QCommandLineParser parser;
    const QCommandLineOption list(QStringLiteral("list"));
    const QCommandLineOption history(QStringLiteral("history"), QString(),
                                     QStringLiteral("NYCKEL"));
    const QCommandLineOption folder(QStringLiteral("mapp"), QString(), QStringLiteral("MAPP"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({list, history, folder, help, version});
    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            problem = QStringLiteral("Okänt alternativ: %1").arg(unknown.first());
        else if (arguments.last() == QLatin1String("--history"))
            problem = QStringLiteral("--history kräver ett radnummer, till exempel --history 12");
        else
            problem = QStringLiteral("--mapp kräver en mapp, till exempel --mapp "
                                     "/var/lib/kvarnixmonitor");
        return std::nullopt;
    }
    if (!parser.positionalArguments().isEmpty()) {
        problem = QStringLiteral("Okänt argument: %1").arg(parser.positionalArguments().first());
        return std::nullopt;
    }
    const int commands = int(parser.isSet(list)) + int(parser.isSet(history)) +
                         int(parser.isSet(help)) + int(parser.isSet(version));
    if (commands > 1) {
        problem = QStringLiteral("Ange bara ett av --list, --history, --help och --version.");
        return std::nullopt;
    }
    CInvocation invocation;
    invocation.dataFolder = parser.value(folder);
    if (parser.isSet(history)) {
        bool isNumber = false;
        invocation.key = parser.value(history).toInt(&isNumber);
        if (!isNumber || invocation.key <= 0) {
            problem = QStringLiteral("--history kräver ett radnummer, till exempel --history 12 "
                                     "(\"%1\" är inget radnummer)")
                          .arg(parser.value(history));
            return std::nullopt;
        }
        invocation.command = Command::History;
    } else if (parser.isSet(list)) {
        invocation.command = Command::List;
    } else if (parser.isSet(help)) {
        invocation.command = Command::Help;
    } else if (parser.isSet(version)) {
        invocation.command = Command::Version;
    }
    return invocation;
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

int RunService(const CProgramPaths& paths) {
    // Before the start, so that a stop while a held file is waited for ends it too.
    const CSignalWatcher signalWatcher;
    const CSystemClock clock;
    CKvarnixService service(paths, clock);
    if (!service.Start())
        return ProcessStopRequested() ? 0 : kExitFailure;
    const int exitCode = QCoreApplication::exec();
    service.Stop();
    PrintError(QStringLiteral("kvarnixmonitord avslutas."));
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

    QString problem;
    const std::optional<CInvocation> invocation = ParseArguments(application.arguments(), problem);
    const QString programFolder = QFileInfo(QCoreApplication::applicationFilePath()).absolutePath();
    const CProgramPaths paths(
        programFolder + QStringLiteral("/kvarnixmonitor"),
        CProgramPaths::ChooseDataFolder(invocation ? invocation->dataFolder : QString()));
    if (!invocation) {
        Print(stderr, problem + QStringLiteral("\nSe kvarnixmonitord --help.\n"));
        return kExitUsage;
    }
    switch (invocation->command) {
    case Command::Run:
        return RunService(paths);
    case Command::List:
        return ListSchedule(paths);
    case Command::History:
        return ListHistory(paths, invocation->key);
    case Command::Help:
        Print(stdout, HelpText(paths));
        return 0;
    case Command::Version:
        Print(stdout, QStringLiteral("kvarnixmonitord %1\n").arg(KVARNIX_VERSION));
        return 0;
    }
    return kExitUsage;
}
