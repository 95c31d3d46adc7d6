#include "app/mainfrm.h"
#include "app/messageboxmessenger.h"
#include "app/monitorsettings.h"
#include "app/programpaths.h"
#include "schedule/clock.h"
#include "schedule/kvarnixmonitorview.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KvarnixMonitor"));

    const CProgramPaths paths(QCoreApplication::applicationFilePath());
    const CSystemClock clock;
    CMessageBoxMessenger messenger;
    CMonitorSettings settings;

    CMainFrame frame(settings, paths, clock, messenger);
    messenger.SetParentWindow(&frame);
    if (!frame.View()->InitialUpdate())
        return 1;
    frame.show();
    return QApplication::exec();
}
