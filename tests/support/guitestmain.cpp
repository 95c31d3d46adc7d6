#include "application/swedishlanguage.h"

#include <QApplication>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    setenv("TZ", "Europe/Stockholm", 1);
    tzset();
    // Widgets are shown and driven without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InstallSwedishLanguage(app);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
