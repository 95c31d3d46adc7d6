#include "application/kvarnixmonitorapp.h"
#include "application/messageboxmessenger.h"
#include "application/swedishlanguage.h"
#include "base/clock.h"
#include "base/signalwatcher.h"
#include "files/programpaths.h"
#include "mainwindow/mainframe.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
#include <optional>

namespace {

constexpr int kExitUsage = 2;

const QString kHelp = QStringLiteral(
    "Användning: kvarnixmonitor [--mapp MAPP] [--help | --version]\n"
    "\n"
    "KvarnixMonitor startar Kvarnix-beräkningarna i schemat när deras starttid kommer.\n"
    "\n"
    "Alternativ:\n"
    "  --mapp MAPP   håll monitordatabasen, loggen och låsfilen i MAPP i stället för\n"
    "                bredvid programmet (eller i KVARNIX_MAPP om den är satt)\n"
    "  --version     visa programmets version\n"
    "  -h, --help    visa den här texten\n");

// The data folder named on the command line, or empty; nothing when the program is not to
// start (help, version or a wrong argument, already answered with the exit status).
std::optional<QString> DataFolderArgument(const QStringList& arguments, int& exitStatus) {
    QCommandLineParser parser;
    const QCommandLineOption folder(QStringLiteral("mapp"), QString(), QStringLiteral("MAPP"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({folder, help, version});
    exitStatus = 0;
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty()) {
        const QString problem =
            !parser.unknownOptionNames().isEmpty()
                ? QStringLiteral("Okänt alternativ: %1").arg(parser.unknownOptionNames().first())
            : !parser.positionalArguments().isEmpty()
                ? QStringLiteral("Okänt argument: %1").arg(parser.positionalArguments().first())
                : QStringLiteral("--mapp kräver en mapp, till exempel --mapp "
                                 "/var/lib/kvarnixmonitor");
        std::fprintf(stderr, "%s\nSe kvarnixmonitor --help.\n", qPrintable(problem));
        exitStatus = kExitUsage;
        return std::nullopt;
    }
    if (parser.isSet(help) || parser.isSet(version)) {
        std::fputs(parser.isSet(help) ? qPrintable(kHelp) : "kvarnixmonitor " KVARNIX_VERSION "\n",
                   stdout);
        return std::nullopt;
    }
    return parser.value(folder);
}

} // namespace

int main(int argc, char* argv[]) {
    QElapsedTimer sinceStart;
    sinceStart.start();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KvarnixMonitor"));
    int exitStatus = 0;
    const std::optional<QString> dataFolder =
        DataFolderArgument(QApplication::arguments(), exitStatus);
    if (!dataFolder)
        return exitStatus;
    InstallSwedishLanguage(application);

    // Before the login, so that a stop while its dialog is open ends the start too.
    const CSignalWatcher signalWatcher;
    const CProgramPaths paths(QCoreApplication::applicationFilePath(),
                              CProgramPaths::ChooseDataFolder(*dataFolder));
    const CSystemClock clock;
    CMessageBoxMessenger messenger;
    CModalLoginDialogs dialogs(messenger);
    CKvarnixMonitorApp monitor(paths, clock, messenger, dialogs);

    if (!monitor.InitInstance())
        return 1;
    messenger.SetParentWindow(monitor.MainFrame());
    // KVARNIX_READY_FILE, for the start-up benchmark: once the shown window has painted its
    // rows, the milliseconds since main() began are written to that file.
    if (const QString readyFile = qEnvironmentVariable("KVARNIX_READY_FILE");
        !readyFile.isEmpty()) {
        QApplication::processEvents();
        QFile ready(readyFile);
        if (ready.open(QIODevice::WriteOnly))
            ready.write(QByteArray::number(sinceStart.elapsed()));
    }
    const int exitCode = QApplication::exec();
    monitor.ExitInstance();
    return exitCode;
}
