// kvarnixmonitord: the monitor's scheduler without a window, for a machine nobody is logged
// in to. It keeps the schedule of the window program beside it, so both may run together.
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

#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <climits>
#include <cstdio>
#include <ctime>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

enum class Command { Run, List, History, Help, Unknown };

bool IsKey(const QString& text) {
    bool isNumber = false;
    text.toInt(&isNumber);
    return isNumber;
}

Command CommandOf(const QStringList& arguments) {
    if (arguments.isEmpty())
        return Command::Run;
    const QString& option = arguments.first();
    if (arguments.size() == 2 && option == QLatin1String("--history") && IsKey(arguments.at(1)))
        return Command::History;
    if (arguments.size() > 1)
        return Command::Unknown;
    if (option == QLatin1String("--list"))
        return Command::List;
    if (option == QLatin1String("--help") || option == QLatin1String("-h"))
        return Command::Help;
    return Command::Unknown;
}

QString HelpText(const CProgramPaths& paths) {
    return QStringLiteral(
               "Användning: kvarnixmonitord [--list | --history NYCKEL | --help]\n"
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
               "  -h, --help         visa den här texten\n"
               "\n"
               "Filerna delas med kvarnixmonitor och ligger bredvid programmet:\n"
               "  %1  monitordatabasen (schemat och inställningarna)\n"
               "  %2  monitorns logg\n")
        .arg(paths.MonitorDatabase(), paths.MonitorLog());
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

// Read only: the listing never adds a run flag or anything else to the file.
int ListSchedule(const CProgramPaths& paths) {
    ReadTimeZoneOnce();
    CStderrMessenger messenger;
    CSystemDatabase db(paths.MonitorDatabase(), CommandWait());
    CCalculationProcesses processes(paths.MonitorDatabase());
    try {
        db.Open();
        const CScheduleListing listing(CScheduleListing::Read(db, processes), CSystemClock().Now());
        Print(stdout, listing.Lines().join(QLatin1Char('\n')) + QLatin1Char('\n'));
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
        db.Open();
        const QVector<CRun> runs = db.Runs(key, 0, INT_MAX);
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
    // Standard error is the operator's journal here; the diagnostic categories stay out of
    // it unless QT_LOGGING_RULES asks for them.
    QLoggingCategory::setFilterRules(QStringLiteral("kvarnix.*=false"));
    const CProgramPaths paths(QFileInfo(QCoreApplication::applicationFilePath()).absolutePath() +
                              QStringLiteral("/kvarnixmonitor"));

    const QStringList arguments = application.arguments().mid(1);
    switch (CommandOf(arguments)) {
    case Command::Run:
        return RunService(paths);
    case Command::List:
        return ListSchedule(paths);
    case Command::History:
        return ListHistory(paths, arguments.at(1).toInt());
    case Command::Help:
        Print(stdout, HelpText(paths));
        return 0;
    case Command::Unknown:
        break;
    }
    Print(stderr, QStringLiteral("Okända argument: %1\n\n").arg(arguments.join(QLatin1Char(' '))) +
                      HelpText(paths));
    return kExitUsage;
}
