#include "application/swedishlanguage.h"

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    setenv("TZ", "Europe/Stockholm", 1);
    tzset();
    // Widgets are shown and driven without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's own settings (the file dialog's columns, among them) from a folder of the run's
    // own, not from whatever the user's last file dialog left.
    const QTemporaryDir configFolder;
    qputenv("XDG_CONFIG_HOME", configFolder.path().toLocal8Bit());
    QApplication app(argc, argv);
    InstallSwedishLanguage(app);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
