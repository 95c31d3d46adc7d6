#include "application/kvarnixmonitorapp.h"
#include "application/messageboxmessenger.h"
#include "application/swedishlanguage.h"
#include "base/clock.h"
#include "base/signalwatcher.h"
#include "files/programpaths.h"
#include "mainwindow/mainframe.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>

int main(int argc, char* argv[]) {
    QElapsedTimer sinceStart;
    sinceStart.start();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KvarnixMonitor"));
    InstallSwedishLanguage(application);

    // Before the login, so that a stop while its dialog is open ends the start too.
    const CSignalWatcher signalWatcher;
    const CProgramPaths paths(QCoreApplication::applicationFilePath());
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
