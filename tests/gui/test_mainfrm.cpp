#include "dialogs/aboutdlg.h"
#include "dialogs/dlghjalp.h"
#include "gui/guisupport.h"
#include "widgets/programicon.h"

#include <QLabel>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QToolBar>
#include <QWhatsThis>

namespace {

// Menu command, F1 and toolbar button show the one manual window; every link finds its anchor.
TEST_F(MainWindowTest, HelpShowsTheManualFromTheMenuF1AndTheToolbar) {
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    auto* menuHelp = frame.findChild<QAction*>("helpTopics");
    auto* toolbarHelp = frame.findChild<QAction*>("contextHelp");
    ASSERT_TRUE(menuHelp && toolbarHelp);
    EXPECT_TRUE(frame.ToolBar()->actions().contains(toolbarHelp));
    EXPECT_FALSE(toolbarHelp->icon().isNull());

    menuHelp->trigger();
    EXPECT_FALSE(QWhatsThis::inWhatsThisMode());
    ASSERT_EQ(frame.findChildren<CDlgHjalp*>().size(), 1);
    CDlgHjalp* help = frame.findChild<CDlgHjalp*>();
    EXPECT_TRUE(help->isVisible());
    const QString manual = help->Browser()->toPlainText();
    // The start times, the menus, the line's commands, the settings and the files.
    const QStringList needed[] = {
        {"Absolut tid", "XXXX-XX-XX 06:30", "Veckodag", "Måndag", "Cyklisk", "00:15"},
        {"Ny Rad", "Återställ beräkningsflaggor", "Visa monitorns loggfil"},
        {"Kör nu", "Körhistorik", "Visa modelllogg", "Öppna modellen", "Information"},
        {"Inloggningskontroll", "Timer i drift", "Sökväg till exekverande program"},
        {"kvarnixmonitor.mdb", "kvarnixmonitor.log", "MonitorLoc.loc", "kvarnixmonitord --list"},
        // Every mark of a line, the keys of the list and what the login check does at once.
        {"Vit ruta", "Röd ruta", "Orange ruta", "Mörkröd text", "med bock"},
        {"Högerklicka var som helst på raden", "menytangenten", "Skift+F10", "Enter", "Delete"},
        {"frågar programmet genast efter ditt namn", "Alla program (*)",
         "Modellen har ingen logg än", "Startar varje minut",
         "Avsluta monitorn med Arkiv › Avsluta."}};
    for (const QStringList& texts : needed)
        for (const QString& text : texts)
            EXPECT_TRUE(manual.contains(text)) << text.toStdString();

    help->close();
    QTest::keyClick(&frame, Qt::Key_F1);
    EXPECT_TRUE(help->isVisible());
    help->close();
    toolbarHelp->trigger();
    EXPECT_TRUE(help->isVisible());
    EXPECT_EQ(frame.findChildren<CDlgHjalp*>().size(), 1);

    QFile page(QStringLiteral(":/hjalp.html"));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(page.readAll());
    int links = 0;
    for (const QRegularExpressionMatch& link :
         QRegularExpression(QStringLiteral("href=\"#(\\w+)\"")).globalMatch(html)) {
        ++links;
        EXPECT_TRUE(html.contains(QStringLiteral("name=\"%1\"").arg(link.captured(1))))
            << link.captured(1).toStdString();
    }
    EXPECT_GE(links, 7);
}

using ProgramIconTest = LoginGate;

// Transparent round the rounded corners, the wheel's dark hub in the middle.
TEST_F(ProgramIconTest, IsTheMillWheelOnTheMainWindowTheAboutBoxAndEveryWindow) {
    const QImage drawn = ProgramIcon().pixmap(64, 64).toImage();
    ASSERT_EQ(drawn.size(), QSize(64, 64));
    EXPECT_EQ(drawn.pixelColor(0, 0).alpha(), 0);
    EXPECT_EQ(drawn.pixelColor(34, 29), QColor(0x4a, 0x2e, 0x12));

    CAboutDlg about;
    EXPECT_FALSE(about.windowIcon().isNull());
    EXPECT_FALSE(about.findChild<QLabel*>("programIcon")->pixmap().isNull());

    QGuiApplication::setWindowIcon(QIcon());
    ASSERT_TRUE(app.InitInstance());
    EXPECT_FALSE(QGuiApplication::windowIcon().isNull());
    EXPECT_EQ(QGuiApplication::desktopFileName(), "kvarnixmonitor");
    EXPECT_FALSE(app.MainFrame()->windowIcon().isNull());
}

} // namespace
