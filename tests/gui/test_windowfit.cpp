// The window and its dialogs on the smallest screen the monitor runs on, 800 x 600: nothing
// off the screen, every cut text whole in a tooltip.
#include "application/messageboxmessenger.h"
#include "dialogs/dlghjalp.h"
#include "dialogs/dlgkorhistorik.h"
#include "gui/guisupport.h"
#include "history/runhistorymodel.h"
#include "mainwindow/mainstatusbar.h"
#include "widgets/elidedlabel.h"

#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTableView>

namespace {

constexpr int kScreenWidth = 800;
constexpr int kScreenHeight = 600;
// The least a window manager's frame takes above a window.
constexpr int kTitleBar = 30;

const QString kCloseNote = QStringLiteral("Avsluta monitorn med Arkiv › Avsluta.");

struct WindowFitTest : MainWindowTest {
    void SetUp() override { ASSERT_NO_THROW(db.OpenOrCreate()); }
    CMainStatusBar& StatusBar() { return *frame.StatusBar(); }
    // The widget lies wholly within the window.
    void ExpectInside(QWidget* widget, QWidget& window) {
        ASSERT_TRUE(widget);
        const QRect shown(widget->mapTo(&window, QPoint()), widget->size());
        EXPECT_TRUE(window.rect().contains(shown))
            << widget->objectName().toStdString() << " at " << shown.x() << "," << shown.y();
    }
    void ExpectFitsTheScreen(const QWidget& window) {
        EXPECT_LE(window.frameGeometry().width(), kScreenWidth);
        EXPECT_LE(window.frameGeometry().height() + kTitleBar, kScreenHeight);
    }
    void TypeIn(QWidget* receiver, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(QApplication::activePopupWidget() ? QApplication::activePopupWidget()
                                                          : receiver,
                        key, modifiers);
    }
};

// The panes give way to a narrow window; each cut text is whole in its tooltip.
TEST_F(WindowFitTest, TheWindowFits800By600WithTheLongestStatusTexts) {
    const QString program = "Kvarnix-beräkningsprogrammet-för-hela-anläggningen-version-2.exe";
    db.SaveRow("- - - -", "/opt/kvarnix/" + program, "- - - -", 0, 0);
    db.SetSetting("DRIFT", 1);
    db.SetSetting("SAVE", 0);
    Start();
    EXPECT_LE(frame.frameGeometry().width(), kScreenWidth);
    const QString problem = "Monitordatabasen /srv/kvarnix/monitor/kvarnixmonitor.mdb kan inte "
                            "användas (låst). Inga beräkningar startas förrän felet är åtgärdat.";
    StatusBar().SetIdleText(problem);

    // The frame as wide and high as the screen.
    frame.resize(QSize(kScreenWidth, kScreenHeight) -
                 (frame.frameGeometry().size() - frame.size()));
    QApplication::processEvents();
    EXPECT_LE(frame.minimumSizeHint().width(), kScreenWidth);
    EXPECT_LE(frame.minimumSizeHint().height(), kScreenHeight);
    EXPECT_LE(frame.frameGeometry().width(), kScreenWidth);
    auto* permission = Child<QWidget>(StatusBar(), "permissionPane");
    auto* programPane = Child<QWidget>(StatusBar(), "programPane");
    auto* message = Child<CElidedLabel>(StatusBar(), "message");
    for (QWidget* pane : {static_cast<QWidget*>(message), permission, programPane})
        ExpectInside(pane, frame);
    EXPECT_EQ(StatusBar().MessageText(), problem);
    EXPECT_TRUE(StatusBar().ShownMessageText().endsWith("…"));
    EXPECT_EQ(ToolTipAt(message, QPoint(5, 5)), problem);
    EXPECT_EQ(ToolTipAt(permission, QPoint(5, 5)),
              "Ger inte tillstånd att skriva i IP21-databasen");
    EXPECT_EQ(ToolTipAt(programPane, QPoint(5, 5)), program);
    // The painted panes give way too, and the message keeps its share.
    EXPECT_LT(permission->width(), CMainStatusBar::kPaneWidth);
    EXPECT_GE(message->width(), permission->width());
}

// The window manager is asked for no close button; one that offers it all the same is answered.
TEST_F(WindowFitTest, TheTitleBarOffersNoCloseAndACloseSaysHowToEnd) {
    Start();
    const Qt::WindowFlags flags = frame.windowFlags();
    EXPECT_FALSE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint) && flags.testFlag(Qt::WindowMinMaxButtonsHint));
    EXPECT_EQ(StatusBar().MessageText(), "Klar");
    EXPECT_FALSE(frame.close());
    EXPECT_TRUE(frame.isVisible());
    EXPECT_EQ(StatusBar().MessageText(), kCloseNote);
    EXPECT_EQ(StatusBar().ShownMessageText(), kCloseNote);
    frame.OnExit();
    EXPECT_FALSE(frame.isVisible());
}

// Hovering an entry, by keyboard here, shows its prompt; a closed menu leaves the idle text.
TEST_F(WindowFitTest, MainMenuPromptsReachTheStatusBar) {
    db.SaveRow("00:05", "/m/forsta", "Makro", -1, 1);
    Start();
    frame.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    QTest::mouseClick(List().viewport(), Qt::LeftButton, {},
                      List().visualRect(View().Lines().index(0, 0)).center());

    TypeIn(&frame, Qt::Key_H, Qt::AltModifier);
    ASSERT_TRUE(QApplication::activePopupWidget());
    EXPECT_EQ(StatusBar().MessageText(), "Visar programmets hjälptext");
    TypeIn(&frame, Qt::Key_Left);
    TypeIn(&frame, Qt::Key_Left);
    EXPECT_EQ(StatusBar().MessageText(), "Ta bort den markerade raden");
    TypeIn(&frame, Qt::Key_Escape);
    TypeIn(&frame, Qt::Key_Escape);
    EXPECT_FALSE(QApplication::activePopupWidget());
    EXPECT_EQ(StatusBar().MessageText(), "Klar");
}

// A 300-character model path is cut in the middle of its folders, whole in the tooltip.
TEST_F(WindowFitTest, TheInformationAndTheManualFitWithA300CharacterPath) {
    const QString model = LongModelPath();
    ASSERT_EQ(model.size(), 300);
    db.SaveRow("XXXX-XX-XX 06:30", model, "Makro", -1, 1);
    Start();
    bool shown = false;
    ScriptNextDialog([&](QDialog& d) {
        shown = true;
        ExpectFitsTheScreen(d);
        ExpectInside(d.findChild<QPushButton*>(), d);
        auto* path = Child<CElidedLabel>(d, "model");
        ExpectInside(path, d);
        EXPECT_EQ(path->Text(), model + ".vxm");
        EXPECT_TRUE(path->ShownText().contains("…"));
        EXPECT_TRUE(path->ShownText().endsWith("/pumpstation-norr.vxm"))
            << path->ShownText().toStdString();
        EXPECT_EQ(ToolTipAt(path, QPoint(5, 5)), model + ".vxm");
        EXPECT_EQ(ToolTipAt(Child<CElidedLabel>(d, "measurement"), QPoint(5, 5)), "");
    });
    RunContextCommand(0, "Information");
    EXPECT_TRUE(shown);

    frame.ShowHelp();
    CDlgHjalp* help = frame.findChild<CDlgHjalp*>();
    ASSERT_TRUE(help && QTest::qWaitForWindowExposed(help));
    ExpectFitsTheScreen(*help);
    ExpectInside(Child<QPushButton>(*help, "closeButton"), *help);
}

// The runs' outcome column is cut at the dialog's edge; the whole reason is in its tooltip.
TEST_F(WindowFitTest, AHistoryOutcomeCutShortIsWholeInItsTooltip) {
    const int key = db.SaveRow("00:05", "/m/Pump", "Dygn", -1, 1);
    const QString reason = "No such file or directory: /opt/kvarnix/" + QString(120, u'k');
    db.RecordStart(CRun{key,
                        {},
                        {},
                        LocalTime("2026-12-07 11:40").toSecsSinceEpoch(),
                        {},
                        {},
                        CRun::Outcome::NotStarted,
                        reason});
    const CScheduleCommands schedule(folder.DatabaseFile());
    CDlgKorhistorik history(schedule, key, "/m/Pump", messenger);
    bool shown = false;
    ScriptNextDialog([&](QDialog& d) {
        shown = true;
        ExpectFitsTheScreen(d);
        auto* table = Child<QTableView>(d, "runs");
        const QPoint outcome =
            table->visualRect(history.Runs().index(0, CRunHistoryModel::Outcome)).center();
        EXPECT_EQ(ToolTipAt(table->viewport(), outcome), "kunde inte startas: " + reason);
        const QPoint duration =
            table->visualRect(history.Runs().index(0, CRunHistoryModel::Duration)).center();
        EXPECT_EQ(ToolTipAt(table->viewport(), duration), "");
    });
    history.Run();
    EXPECT_TRUE(shown);
}

// A short message leaves the title bar room for the whole title beside its buttons.
TEST(MessageBoxTitle, AShortMessageKeepsTheTitleWhole) {
    CMessageBoxMessenger messenger;
    int width = 0;
    int titleRoom = 0;
    ScriptNextDialog([&](QDialog& d) {
        QFont bold = d.font();
        bold.setBold(true);
        const int titleBar = d.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &d);
        titleRoom = QFontMetrics(bold).horizontalAdvance(d.windowTitle()) + 4 * titleBar;
        width = d.width();
    });
    messenger.ShowMessage("Ok.");
    EXPECT_GT(titleRoom, 0);
    EXPECT_GE(width, titleRoom);
}

} // namespace
