#include "application/kvarnixmonitorapp.h"
#include "application/messageboxmessenger.h"
#include "application/swedishlanguage.h"
#include "base/clock.h"
#include "base/commandline.h"
#include "base/signalwatcher.h"
#include "files/programpaths.h"
#include "mainwindow/mainframe.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
#include <optional>

namespace {

CCommandLine WindowCommandLine() {
    QVector<CCommandOption> options = {
        {{QStringLiteral("mapp")},
         QStringLiteral("MAPP"),
         QStringLiteral("håll monitordatabasen, loggen och låsfilen i MAPP i stället för\n"
                        "bredvid programmet (eller i KVARNIX_MAPP om den är satt)"),
         QStringLiteral("en mapp, till exempel --mapp /var/lib/kvarnixmonitor")}};
    return CCommandLine(
        QStringLiteral("kvarnixmonitor"),
        QStringLiteral("KvarnixMonitor startar Kvarnix-beräkningarna i schemat när deras starttid "
                       "kommer."),
        options + CCommandLine::VersionAndHelp());
}

// The data folder named on the command line, or empty; nothing when the program is not to
// start (help, version or a wrong argument, already answered with the exit status).
std::optional<QString> DataFolderArgument(const QStringList& arguments, int& exitStatus) {
    CCommandLine commandLine = WindowCommandLine();
    exitStatus = 0;
    if (!commandLine.Parse(arguments)) {
        exitStatus = commandLine.Refuse();
        return std::nullopt;
    }
    const QString command = commandLine.Command();
    if (command.isEmpty())
        return commandLine.Value(QStringLiteral("mapp"));
    std::fputs(command == QLatin1String("h") ? qPrintable(commandLine.HelpText())
                                             : "kvarnixmonitor " KVARNIX_VERSION "\n",
               stdout);
    return std::nullopt;
}

} // namespace

int main(int argc, char* argv[]) {
    QElapsedTimer sinceStart;
    sinceStart.start();
    // Before the application, which needs a display: help, the version and a wrong argument
    // are answered where there is none.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    int exitStatus = 0;
    const std::optional<QString> dataFolder = DataFolderArgument(arguments, exitStatus);
    if (!dataFolder)
        return exitStatus;
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KvarnixMonitor"));
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
