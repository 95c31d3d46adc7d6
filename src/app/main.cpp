#include "app/kvarnixmonitor.h"
#include "app/mainfrm.h"
#include "app/messageboxmessenger.h"
#include "app/programpaths.h"
#include "schedule/clock.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KvarnixMonitor"));

    const CProgramPaths paths(QCoreApplication::applicationFilePath());
    const CSystemClock clock;
    CMessageBoxMessenger messenger;
    CModalLoginDialogs dialogs(messenger);
    CKvarnixMonitorApp monitor(paths, clock, messenger, dialogs);

    if (!monitor.InitInstance())
        return 1;
    messenger.SetParentWindow(monitor.MainFrame());
    const int exitCode = QApplication::exec();
    monitor.ExitInstance();
    return exitCode;
}
