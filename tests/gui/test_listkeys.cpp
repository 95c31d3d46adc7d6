// The schedule list without a mouse, its context menu from anywhere on a line, and its cells
// cut with "…" where they do not fit.
#include "gui/guisupport.h"
#include "mainwindow/mainstatusbar.h"
#include "schedulelist/linedelegate.h"
#include "widgets/elidedlabel.h"

#include <QHeaderView>
#include <QLineEdit>

namespace {

// Two active rows over models with macro databases: every minute and Mondays at noon.
struct ListKeysTest : MainWindowTest {
    void SetUp() override {
        folder.CreateModel(firstModel, {"Kontroll"});
        folder.CreateModel(secondModel, {"Dygnsberäkning"});
        ASSERT_NO_THROW(db.OpenOrCreate());
        first = db.SaveRow("XXXX-XX-XX XX:XX", firstModel, "Kontroll", -1, 1);
        second = db.SaveRow("Måndag  12:00", secondModel, "Dygnsberäkning", -1, 1);
        Start();
        frame.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
        List().setFocus();
    }
    int Selected() {
        const QModelIndexList rows = List().selectionModel()->selectedRows();
        return rows.isEmpty() ? -1 : rows.first().row();
    }
    // The list's own keys: the first Down selects the first line.
    void SelectByKeyboard(int line) {
        for (int step = 0; step <= line; ++step)
            QTest::keyClick(&List(), Qt::Key_Down);
        ASSERT_EQ(Selected(), line);
    }
    QMenu& Menu() { return *List().ContextMenu(); }
    // Closes an open context menu with Escape, as the operator would.
    void CloseMenu() {
        QTest::keyClick(&Menu(), Qt::Key_Escape);
        EXPECT_FALSE(Menu().isVisible());
    }
    QPoint CellCentre(int line, int column) {
        return List().visualRect(View().Lines().index(line, column)).center();
    }
    const CLineDelegate& Delegate() {
        return *static_cast<const CLineDelegate*>(List().itemDelegate());
    }
    const QString firstModel = folder.File("kvarn");
    const QString secondModel = folder.File("pump");
    int first = -1;
    int second = -1;
};

// A right click on the "Senaste beräkningstid" column selects its line and opens the menu.
TEST_F(ListKeysTest, ARightClickAnywhereOnALineOpensTheMenuForIt) {
    const QPoint calcTime = CellCentre(1, CScheduleModel::CalcTime);
    ASSERT_GT(calcTime.x(), List().header()->sectionViewportPosition(CScheduleModel::CalcTime));
    QTest::mouseClick(List().viewport(), Qt::RightButton, {}, calcTime);
    EXPECT_TRUE(Menu().isVisible());
    EXPECT_EQ(List().ContextRow(), 1);
    EXPECT_EQ(Selected(), 1);
    CloseMenu();
    QTest::mouseClick(List().viewport(), Qt::RightButton, {},
                      CellCentre(0, CScheduleModel::MesTime));
    EXPECT_TRUE(Menu().isVisible());
    EXPECT_EQ(List().ContextRow(), 0);
    CloseMenu();
}

// The Menu key and Shift+F10 open the menu under the selected line, none without one; every
// entry down to the last is reached with the arrow keys.
TEST_F(ListKeysTest, TheMenuKeyAndShiftF10OpenTheMenuOnTheSelectedLine) {
    QTest::keyClick(&List(), Qt::Key_Menu);
    EXPECT_FALSE(Menu().isVisible());
    SelectByKeyboard(1);
    QTest::keyClick(&List(), Qt::Key_Menu);
    ASSERT_TRUE(Menu().isVisible());
    EXPECT_EQ(List().ContextRow(), 1);
    const QRect line = List().visualRect(View().Lines().index(1, 0));
    EXPECT_EQ(Menu().pos().y(), List().viewport()->mapToGlobal(line.bottomLeft()).y());
    CloseMenu();

    QTest::keyClick(&List(), Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_TRUE(Menu().isVisible());
    EXPECT_EQ(List().ContextRow(), 1);
    QString opened;
    ScriptNextDialog([&opened](QDialog& d) { opened = d.windowTitle(); });
    // Past the two separators to "Körhistorik", the last entry.
    for (int entry = 0; entry < 10; ++entry)
        QTest::keyClick(&Menu(), Qt::Key_Down);
    EXPECT_EQ(Menu().activeAction()->text(), "Körhistorik");
    QTest::keyClick(&Menu(), Qt::Key_Return);
    EXPECT_EQ(opened, "Körhistorik - " + secondModel);
}

// The menu's entries, though the menu is a window of its own, tell their prompts to the
// main window's status bar.
TEST_F(ListKeysTest, ContextMenuPromptsReachTheStatusBar) {
    const CMainStatusBar& statusBar = *frame.StatusBar();
    SelectByKeyboard(0);
    QTest::keyClick(&List(), Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_TRUE(Menu().isVisible());
    QTest::keyClick(&Menu(), Qt::Key_Down);
    EXPECT_EQ(statusBar.MessageText(), "Aktiverar körningen");
    for (int entry = 0; entry < 7; ++entry)
        QTest::keyClick(&Menu(), Qt::Key_Down);
    EXPECT_EQ(Menu().activeAction()->text(), "Information");
    EXPECT_EQ(statusBar.MessageText(), "Visar information om raden");
    CloseMenu();
    EXPECT_EQ(statusBar.MessageText(), "Klar");
}

// Enter opens the selected row in "Ändra" with the focus on its model; Delete asks first.
TEST_F(ListKeysTest, EnterChangesAndDeleteRemovesTheSelectedLine) {
    QTest::keyClick(&List(), Qt::Key_Return);
    QTest::keyClick(&List(), Qt::Key_Delete);
    EXPECT_TRUE(messenger.questions.isEmpty());
    SelectByKeyboard(0);
    QString title;
    QString focused;
    QString model;
    ScriptNextDialog([&](QDialog& d) {
        title = d.windowTitle();
        focused = d.focusWidget() ? d.focusWidget()->objectName() : QString();
        model = Child<QLineEdit>(d, "modelEdit")->text();
    });
    QTest::keyClick(&List(), Qt::Key_Return);
    EXPECT_EQ(title, "KvarnixMonitor - Ändra starttid");
    EXPECT_EQ(focused, "modelEdit");
    EXPECT_EQ(model, firstModel);

    messenger.answers = {false};
    QTest::keyClick(&List(), Qt::Key_Delete);
    EXPECT_EQ(messenger.questions, QStringList{"Raden kommer att tas bort. Vill du detta?"});
    EXPECT_TRUE(db.RowExists(first));
    messenger.answers = {true};
    QTest::keyClick(&List(), Qt::Key_Delete);
    EXPECT_FALSE(db.RowExists(first));
    ASSERT_EQ(View().Lines().LineCount(), 1);
    EXPECT_EQ(View().Lines().Line(0).key, second);
}

// Every-minute and weekday rows read naturally; a model that never ran has no log yet.
TEST_F(ListKeysTest, InformationAndModelLogTextsReadNaturally) {
    QStringList timesLeft;
    for (int line : {0, 1}) {
        // Shown whole: the dialog widens for it on an 800-pixel screen.
        ScriptNextDialog([&timesLeft](QDialog& d) {
            const CElidedLabel* timeLeft = Child<CElidedLabel>(d, "timeLeft");
            EXPECT_EQ(timeLeft->ShownText(), timeLeft->Text());
            timesLeft << timeLeft->Text();
        });
        RunContextCommand(line, "Information");
    }
    // The clock stands on Tuesday 2026-12-08 10:00:20.
    EXPECT_EQ(timesLeft,
              (QStringList{"Startar varje minut",
                           "Nästa start: måndag 2026-12-14 12:00 (om 6 dygn 2 timmar)"}));
    RunContextCommand(1, "Visa modelllogg");
    EXPECT_EQ(messenger.messages, QStringList{"Modellen har ingen logg än"});
}

// A 300-character path keeps its file name; the tooltip holds what is cut, and a line's
// failed start below it.
TEST_F(ListKeysTest, CellsAreCutWithAnEllipsisAndWholeInTheirTooltips) {
    const QString model = LongModelPath();
    const int key = db.SaveRow("00:05", model, "Timberäkning", -1, 1);
    View().Lines().SetRows(db.LoadAllRows());
    const QModelIndex cell = View().Lines().index(2, CScheduleModel::Model);
    const QString shown = Delegate().ShownText(cell, List().fontMetrics());
    EXPECT_TRUE(shown.contains("…"));
    EXPECT_TRUE(shown.endsWith("/pumpstation-norr")) << shown.toStdString();
    EXPECT_LE(List().fontMetrics().horizontalAdvance(shown),
              List().header()->sectionSize(CScheduleModel::Model));
    EXPECT_EQ(ToolTipAt(List().viewport(), CellCentre(2, CScheduleModel::Model)), model);
    EXPECT_EQ(
        Delegate().ShownText(View().Lines().index(2, CScheduleModel::Macro), List().fontMetrics()),
        "Timberäkning");
    EXPECT_EQ(ToolTipAt(List().viewport(), CellCentre(2, CScheduleModel::Macro)), "");

    View().Lines().SetLaunchFailure(key, "No such file or directory");
    EXPECT_EQ(ToolTipAt(List().viewport(), CellCentre(2, CScheduleModel::Model)),
              model + "\nBeräkningsprogrammet kunde inte startas: No such file or directory");
    EXPECT_EQ(ToolTipAt(List().viewport(), CellCentre(2, CScheduleModel::StartTime)),
              "Beräkningsprogrammet kunde inte startas: No such file or directory");
}

// A model column the operator drags wider keeps its width when the window changes; one
// dragged narrower than the list fills the list again.
TEST_F(ListKeysTest, TheModelColumnKeepsTheWidthTheOperatorGaveIt) {
    QHeaderView* header = List().header();
    const auto dragModelEdge = [&](int by) {
        const int edge = header->sectionViewportPosition(CScheduleModel::Model) +
                         header->sectionSize(CScheduleModel::Model) - 1;
        const int y = header->height() / 2;
        QTest::mousePress(header->viewport(), Qt::LeftButton, {}, QPoint(edge, y));
        QTest::mouseMove(header->viewport(), QPoint(edge + by / 2, y));
        QTest::mouseMove(header->viewport(), QPoint(edge + by, y));
        QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, QPoint(edge + by, y));
    };
    const auto resizeWindow = [&](int width) {
        frame.resize(width, frame.height());
        QApplication::processEvents();
    };
    resizeWindow(1200);
    const int filling = header->sectionSize(CScheduleModel::Model);
    EXPECT_EQ(header->length(), List().viewport()->width());
    dragModelEdge(300);
    const int chosen = header->sectionSize(CScheduleModel::Model);
    ASSERT_EQ(chosen, filling + 300);
    resizeWindow(1400);
    EXPECT_EQ(header->sectionSize(CScheduleModel::Model), chosen);
    resizeWindow(900);
    EXPECT_EQ(header->sectionSize(CScheduleModel::Model), chosen);

    dragModelEdge(-chosen);
    const int model = header->sectionSize(CScheduleModel::Model);
    const int others = header->length() - model;
    EXPECT_EQ(model, std::max(CScheduleModel::ColumnWidth(1), List().viewport()->width() - others));
    resizeWindow(1400);
    EXPECT_EQ(header->length(), List().viewport()->width());
}

} // namespace
